#include "serial_port.h"

#include <QFile>
#include <QFileInfo>
#include <QSerialPort>
#include <QSignalBlocker>
#include <QStringList>
#include <QtGlobal>

#include <algorithm>
#include <cerrno>
#include <iterator>
#include <limits>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace tvx {

std::optional<LineSettings> LineSettings::parse(const QString &text)
{
    const QStringList fields = text.split(QLatin1Char(','));
    if (fields.size() != 4)
        return std::nullopt;
    LineSettings s;
    bool ok = false;
    s.baud = fields[0].trimmed().toInt(&ok);
    if (!ok || s.baud <= 0)
        return std::nullopt;
    const QString parity = fields[1].trimmed().toUpper();
    if (parity.size() != 1 || !QStringLiteral("NEOMS").contains(parity))
        return std::nullopt;
    s.parity = parity.at(0).toLatin1();
    s.dataBits = fields[2].trimmed().toInt(&ok);
    if (!ok || s.dataBits < 5 || s.dataBits > 8)
        return std::nullopt;
    s.stopBits = fields[3].trimmed().toInt(&ok);
    if (!ok || (s.stopBits != 1 && s.stopBits != 2))
        return std::nullopt;
    return s;
}

QString LineSettings::toString() const
{
    return QStringLiteral("%1,%2,%3,%4")
        .arg(baud)
        .arg(QLatin1Char(parity))
        .arg(dataBits)
        .arg(stopBits);
}

bool LineSettings::operator==(const LineSettings &o) const
{
    return baud == o.baud && parity == o.parity && dataBits == o.dataBits && stopBits == o.stopBits;
}

namespace {

// The device a name leads to, every link followed; the name itself when it leads nowhere.
QString realDevice(const QString &device)
{
    const QString real = QFileInfo(device).canonicalFilePath();
    return real.isEmpty() ? device : real;
}

} // namespace

SerialControl::SerialControl(QObject *parent) : QObject(parent) {}

SerialControl::~SerialControl() = default;

QString SerialControl::nameOf(const QString &device) const
{
    if (!m_name.isEmpty())
        return m_name;
    return QStringLiteral("COM%1 (%2)").arg(m_port).arg(device);
}

bool SerialControl::fail(const QString &reason)
{
    m_error = reason;
    return false;
}

bool SerialControl::requireClosed(const char *property)
{
    if (!m_open)
        return true;
    return fail(
        QStringLiteral("%1 cannot change while the port is open").arg(QLatin1String(property)));
}

bool SerialControl::setCommPort(qint16 port)
{
    if (!requireClosed("CommPort"))
        return false;
    m_port = port;
    return true;
}

bool SerialControl::setSettings(const QString &settings)
{
    const std::optional<LineSettings> parsed = LineSettings::parse(settings);
    if (!parsed)
        return fail(QStringLiteral("Invalid settings \"%1\"").arg(settings));
    QString reason;
    if (m_open && !configureDevice(*parsed, &reason))
        return fail(reason);
    m_settings = *parsed;
    return true;
}

bool SerialControl::setPortOpen(bool open)
{
    if (open == m_open)
        return open ? fail(QStringLiteral("Port already open")) : true;
    if (!open) {
        // Closing discards whatever still waits, as a fresh opening starts empty; a reader in
        // the middle of a transmission takes it first, so that only what the device sends from
        // now on is lost.
        collectPending();
        if (!m_buffer.isEmpty())
            Q_EMIT aboutToClose();
        closeDevice();
        m_open = false;
        m_buffer.clear();
        return true;
    }
    const QString device = deviceFor(m_port);
    m_buffer.clear();
    if (device.isEmpty()) {
        m_openFailure = {OpenFailure::NoDevice,
                         QStringLiteral("no serial port stands behind this number")};
        return fail(QStringLiteral("COM%1: %2 (tarvix --ports lists the ports)")
                        .arg(m_port)
                        .arg(m_openFailure.reason));
    }
    m_openFailure = {};
    if (!openDevice(device, m_settings, &m_openFailure)) {
        // What the user can do about it, where the system's words do not say.
        QString hint;
        if (m_openFailure.kind == OpenFailure::Busy)
            hint = QStringLiteral(" \u2014 is the port in use by another program?");
        else if (m_openFailure.kind == OpenFailure::Permission)
            hint = QStringLiteral(" \u2014 is the user in the dialout group?");
        return fail(nameOf(device) + QStringLiteral(": ") + m_openFailure.reason + hint);
    }
    m_device = device;
    m_realDevice = realDevice(device);
    m_open = true;
    return true;
}

bool SerialControl::isOpenOn(const QString &device) const
{
    return m_open && !device.isEmpty() && realDevice(device) == m_realDevice;
}

QString SerialControl::deviceFor(qint16 port) const
{
    return m_resolver ? m_resolver(port) : portMap().devicePath(port);
}

bool SerialControl::setRThreshold(qint16 threshold)
{
    if (threshold < 0)
        return fail(QStringLiteral("Invalid RThreshold %1").arg(threshold));
    m_rThreshold = threshold;
    return true;
}

bool SerialControl::setInputLen(qint16 length)
{
    if (length < 0)
        return fail(QStringLiteral("Invalid InputLen %1").arg(length));
    m_inputLen = length;
    return true;
}

std::optional<qint16> SerialControl::inBufferCount()
{
    // Bytes that arrived before the device was lost stay readable after it closed.
    if (!m_open && m_buffer.isEmpty()) {
        fail(QStringLiteral("Port is closed"));
        return std::nullopt;
    }
    return static_cast<qint16>(
        qMin<qsizetype>(m_buffer.size(), std::numeric_limits<qint16>::max()));
}

std::optional<QByteArray> SerialControl::input()
{
    if (!m_open && m_buffer.isEmpty()) {
        fail(QStringLiteral("Port is closed"));
        return std::nullopt;
    }
    if (m_inputLen == 0 || m_inputLen >= m_buffer.size())
        return std::exchange(m_buffer, QByteArray());
    QByteArray head = m_buffer.left(m_inputLen);
    m_buffer.remove(0, m_inputLen);
    return head;
}

void SerialControl::received(const QByteArray &bytes)
{
    if (bytes.isEmpty())
        return;
    m_buffer.append(bytes);
    if (m_open && m_rThreshold > 0 && m_buffer.size() >= m_rThreshold) {
        m_commEvent = EventReceive;
        Q_EMIT onComm();
    }
}

void SerialControl::raiseEvent(qint16 event)
{
    if (!m_open || m_rThreshold == 0)
        return;
    m_commEvent = event;
    Q_EMIT onComm();
}

void SerialControl::lost(const QString &reason)
{
    if (!m_open)
        return;
    closeDevice();
    m_open = false;
    m_error = portName() + QStringLiteral(": ") + reason;
    Q_EMIT deviceLost(m_error);
}

QString lostDeviceReason(const QString &systemWords)
{
    // A hang-up leaves whichever of these the last system call happened to set (a read that
    // finds the line closed sets none at all): they tell nothing about the loss.
    static const int noise[] = {0,      EIO,    ENXIO, ENODEV, ENOENT, EAGAIN,
                                ENOTTY, EINVAL, EBADF, EPIPE,  EINTR};
    const QString words = systemWords.trimmed();
    QString text = QStringLiteral("the device was removed or hung up");
    const bool saysNothing = words.isEmpty() || words == QLatin1String("Unknown error") ||
                             std::any_of(std::begin(noise), std::end(noise),
                                         [&](int code) { return words == qt_error_string(code); });
    if (!saysNothing)
        text += QStringLiteral(" (%1)").arg(words);
    return text;
}

// --- the real port ---------------------------------------------------------------------------

struct SystemSerialControl::Device {
    QSerialPort port;
};

SystemSerialControl::SystemSerialControl(QObject *parent)
    : SerialControl(parent), m_device(std::make_unique<Device>())
{
    QSerialPort &port = m_device->port;
    connect(&port, &QSerialPort::readyRead, this, [this, &port] { received(port.readAll()); });
    connect(
        &port, &QSerialPort::errorOccurred, this, [this, &port](QSerialPort::SerialPortError e) {
            // Qt reports a vanished device in one of these three ways, and after a ReadError keeps
            // reporting it for as long as the port stays open: take what arrived, then close.
            if (!port.isOpen() || (e != QSerialPort::ReadError && e != QSerialPort::ResourceError &&
                                   e != QSerialPort::UnknownError))
                return;
            const QString reason = lostDeviceReason(port.errorString());
            received(port.readAll());
            lost(reason);
        });
}

// Qt lets go of the device before it removes its lock file. A pseudo-terminal's name is free
// once its last descriptor closes and goes to the next terminal made at once; an opening of
// that one in the meantime would find the old lock standing and fail as busy. So the device is
// held until its lock file is gone.
static void closeHeld(QSerialPort &port)
{
#ifdef Q_OS_UNIX
    const int held = port.isOpen() ? ::dup(port.handle()) : -1;
    port.close();
    if (held >= 0)
        ::close(held);
#else
    port.close();
#endif
}

// A control that goes while its port is open (the program ends, a window is discarded) lets go
// the same way; Qt's own closing in the port's destructor would free the name first.
SystemSerialControl::~SystemSerialControl()
{
    closeHeld(m_device->port);
}

static bool apply(QSerialPort &port, const LineSettings &s)
{
    QSerialPort::Parity parity = QSerialPort::NoParity;
    switch (s.parity) {
    case 'E':
        parity = QSerialPort::EvenParity;
        break;
    case 'O':
        parity = QSerialPort::OddParity;
        break;
    case 'M':
        parity = QSerialPort::MarkParity;
        break;
    case 'S':
        parity = QSerialPort::SpaceParity;
        break;
    default:
        break;
    }
    return port.setBaudRate(s.baud) && port.setParity(parity) &&
           port.setDataBits(static_cast<QSerialPort::DataBits>(s.dataBits)) &&
           port.setStopBits(s.stopBits == 2 ? QSerialPort::TwoStop : QSerialPort::OneStop);
}

bool SystemSerialControl::openDevice(const QString &device, const LineSettings &settings,
                                     OpenFailure *failure)
{
    QSerialPort &port = m_device->port;
    // One device, one lock: Qt names its lock file in /run/lock after the device it opens, so a
    // link (/dev/serial/by-id/..., a name of the user's own) is followed to the real device, and
    // a second opening under another name finds the first one's lock, also for root, whom the
    // exclusive open of a terminal does not stop.
    port.setPortName(realDevice(device));
    port.setReadBufferSize(0); // unbounded: nothing is dropped while the program is busy
    if (!port.open(QIODevice::ReadWrite)) {
        failure->reason = port.errorString();
        // Qt reports a port locked by another program as a permission error too; only a
        // device the user may not open at all is a matter of the dialout group.
        if (port.error() == QSerialPort::PermissionError) {
            const QFileInfo file(device);
            failure->kind = file.isReadable() && file.isWritable() ? OpenFailure::Busy
                                                                   : OpenFailure::Permission;
        }
        port.clearError();
        return false;
    }
    if (!apply(port, settings)) {
        failure->reason = port.errorString();
        closeHeld(port);
        return false;
    }
    return true;
}

void SystemSerialControl::closeDevice()
{
    closeHeld(m_device->port);
}

void SystemSerialControl::collectPending()
{
    QSerialPort &port = m_device->port;
    // What the terminal holds and Qt has not read yet; readyRead stays quiet meanwhile, as the
    // port is on its way to being closed. At 1200 baud a few reads take everything.
    const QSignalBlocker quiet(port);
    for (int read = 0; read < 8 && port.waitForReadyRead(0); ++read) {
    }
    receivedQuietly(port.readAll());
}

bool SystemSerialControl::configureDevice(const LineSettings &settings, QString *reason)
{
    if (apply(m_device->port, settings))
        return true;
    *reason = m_device->port.errorString();
    return false;
}

} // namespace tvx
