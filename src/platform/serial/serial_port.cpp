#include "serial_port.h"

#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <QtGlobal>

#include <algorithm>
#include <cerrno>
#include <iterator>
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

QString realDeviceOf(const QString &device)
{
    const QString real = QFileInfo(device).canonicalFilePath();
    return real.isEmpty() ? device : real;
}

SerialControl::SerialControl(QObject *parent) : QObject(parent) {}

SerialControl::~SerialControl() = default;

QString SerialControl::nameOf(const QString &device) const
{
    if (!m_name.isEmpty())
        return m_name;
    return portLabel(m_port, device);
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
        m_lockNote.clear();
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
    m_lockNote.clear();
    if (!openDevice(device, m_settings, &m_openFailure)) {
        // What the user can do about it, where the system's words do not say. A busy port's
        // reason names its holder as far as it can be known.
        QString hint;
        if (m_openFailure.kind == OpenFailure::Permission)
            hint = QStringLiteral(" \u2014 is the user in the dialout group?");
        return fail(nameOf(device) + QStringLiteral(": ") + m_openFailure.reason + hint);
    }
    m_device = device;
    m_realDevice = realDeviceOf(device);
    m_openedIdentity = deviceIdentity(device);
    m_open = true;
    return true;
}

bool SerialControl::isOpenOn(const QString &device) const
{
    return m_open && !device.isEmpty() && realDeviceOf(device) == m_realDevice;
}

bool SerialControl::renumber(qint16 port, const QString &device)
{
    if (!isOpenOn(device))
        return fail(QStringLiteral("COM%1 does not stand for the open port").arg(port));
    m_port = port;
    m_device = device;
    return true;
}

QString SerialControl::deviceFor(qint16 port) const
{
    if (m_resolver)
        return m_resolver(port);
    // Enumerating the ports walks through every terminal the system has: not done where the
    // number alone tells the device (a start-up with a mapped COM1 opens it at once).
    if (const std::optional<QString> known = PortMap::knownDevice(port, portNaming()))
        return *known;
    return portMap().devicePath(port);
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
    // While notifications are off (a capture polls the count), what the device holds counts
    // at once, not only once its notification has brought it: a notification that comes late
    // (Wine's, on a loaded machine) would otherwise pass for a quiet line and end the capture
    // in the middle of a transmission.
    if (m_open && m_rThreshold == 0)
        collectPending();
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

} // namespace tvx
