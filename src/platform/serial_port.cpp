#include "serial_port.h"

#include <QFileInfo>
#include <QSerialPort>
#include <QStringList>
#include <QtGlobal>

#include <limits>

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

QString deviceForPort(qint16 port)
{
    const QByteArray override =
        qgetenv(QByteArray("TARVIX_COM" + QByteArray::number(port)).constData());
    if (!override.isEmpty())
        return QString::fromLocal8Bit(override);
#ifdef Q_OS_WIN
    return QStringLiteral("COM%1").arg(port);
#else
    return QStringLiteral("/dev/ttyS%1").arg(port - 1);
#endif
}

SerialControl::SerialControl(QObject *parent) : QObject(parent) {}

SerialControl::~SerialControl() = default;

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
        // Closing discards whatever still waits, as a fresh opening starts empty.
        closeDevice();
        m_open = false;
        m_buffer.clear();
        return true;
    }
    const QString device = m_resolver(m_port);
    m_buffer.clear();
    QString reason;
    if (!openDevice(device, m_settings, &reason))
        return fail(QStringLiteral("COM%1 (%2): %3").arg(m_port).arg(device, reason));
    m_device = device;
    m_open = true;
    return true;
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
    m_error = QStringLiteral("COM%1 (%2): %3").arg(m_port).arg(m_device, reason);
    Q_EMIT deviceLost(m_error);
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
            const QString reason = port.errorString();
            received(port.readAll());
            lost(reason);
        });
}

SystemSerialControl::~SystemSerialControl() = default;

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
                                     QString *reason)
{
    QSerialPort &port = m_device->port;
    port.setPortName(device);
    port.setReadBufferSize(0); // unbounded: nothing is dropped while the program is busy
    if (!port.open(QIODevice::ReadWrite)) {
        *reason = port.errorString();
        // Qt reports a port locked by another program as a permission error too; only a
        // device the user may not open at all points at the dialout group.
        if (port.error() == QSerialPort::PermissionError) {
            const QFileInfo file(device);
            *reason += file.isReadable() && file.isWritable()
                           ? QStringLiteral(" \u2014 is the port in use by another program?")
                           : QStringLiteral(" \u2014 is the user in the dialout group?");
        }
        port.clearError();
        return false;
    }
    if (!apply(port, settings)) {
        *reason = port.errorString();
        port.close();
        return false;
    }
    return true;
}

void SystemSerialControl::closeDevice()
{
    m_device->port.close();
}

bool SystemSerialControl::configureDevice(const LineSettings &settings, QString *reason)
{
    if (apply(m_device->port, settings))
        return true;
    *reason = m_device->port.errorString();
    return false;
}

} // namespace tvx
