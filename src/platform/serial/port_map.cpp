#include "port_map.h"

#include <QFile>
#include <QFileInfo>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QSerialPortInfo>

#include <algorithm>
#include <limits>
#include <tuple>

namespace tvx {

namespace {

// A device name split for the natural order: "ttyUSB10" is ("ttyUSB", 10).
struct NameOrder {
    bool adapter;
    QString stem;
    qint64 number;
    QString name;

    explicit NameOrder(const QString &path)
        : adapter(!PortMap::isBuiltIn(path)), name(QFileInfo(path).fileName())
    {
        qsizetype digits = name.size();
        while (digits > 0 && name.at(digits - 1).isDigit())
            --digits;
        stem = name.left(digits);
        number = digits < name.size() ? name.mid(digits).toLongLong() : -1;
    }
    bool operator<(const NameOrder &o) const
    {
        return std::tie(adapter, stem, number, name) <
               std::tie(o.adapter, o.stem, o.number, o.name);
    }
};

// Terminals that are not serial ports whatever a list says: pseudo-terminals and consoles.
bool isTerminalOnly(const QString &path)
{
    static const QRegularExpression consoles(QStringLiteral("^(tty[0-9]*|console|ptmx)$"));
    return path.startsWith(QLatin1String("/dev/pts/")) ||
           consoles.match(QFileInfo(path).fileName()).hasMatch();
}

} // namespace

QList<ReportedPort> reportedSerialPorts()
{
    QList<ReportedPort> ports;
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts()) {
        ports.append(
            {info.portName(), info.systemLocation(), info.description(), info.manufacturer()});
    }
    return ports;
}

QList<SerialDevice> serialPortsOf(const QList<ReportedPort> &reported, const QString &sysfsFolder)
{
    QList<SerialDevice> ports;
    for (const ReportedPort &port : reported) {
        SerialDevice device{port.location, port.description, false};
        if (device.description.isEmpty())
            device.description = port.manufacturer;
        // The kernel says "0" (no UART) for a node it made without hardware; Qt can tell only
        // when it may open the device, which an ordinary user may not.
        if (!sysfsFolder.isEmpty()) {
            QFile type(QStringLiteral("%1/%2/type").arg(sysfsFolder, port.name));
            if (type.open(QIODevice::ReadOnly))
                device.stub = type.readAll().trimmed() == "0";
        }
        ports.append(device);
    }
    return ports;
}

QList<SerialDevice> systemSerialPorts()
{
#ifdef Q_OS_LINUX
    const QString sysfs = QStringLiteral("/sys/class/tty");
#else
    const QString sysfs;
#endif
    return heldScan([&sysfs] { return serialPortsOf(reportedSerialPorts(), sysfs); });
}

namespace {
thread_local PortScanHold *t_hold = nullptr;
} // namespace

PortScanHold::PortScanHold() : m_outermost(t_hold == nullptr)
{
    if (m_outermost)
        t_hold = this;
}

PortScanHold::~PortScanHold()
{
    if (m_outermost)
        t_hold = nullptr;
}

QList<SerialDevice> heldScan(const std::function<QList<SerialDevice>()> &scan)
{
    if (!t_hold)
        return scan();
    if (!t_hold->m_ports)
        t_hold->m_ports = scan();
    return *t_hold->m_ports;
}

QString windowsPortName(qint16 port)
{
    return QStringLiteral("COM%1").arg(port);
}

QString portLabel(qint16 port, const QString &device)
{
    const QString number = windowsPortName(port);
    return device == number ? number : QStringLiteral("%1 (%2)").arg(number, device);
}

PortMap::Naming PortMap::systemNaming()
{
#ifdef Q_OS_WIN
    return Naming::Windows;
#else
    return Naming::Enumerated;
#endif
}

PortMap::PortMap(QList<SerialDevice> present, Naming naming) : m_naming(naming)
{
    for (SerialDevice &device : present) {
        if (!device.stub && !isTerminalOnly(device.path))
            m_ports.append(std::move(device));
    }
    std::stable_sort(m_ports.begin(), m_ports.end(),
                     [](const SerialDevice &a, const SerialDevice &b) {
                         return NameOrder(a.path) < NameOrder(b.path);
                     });
}

bool PortMap::isBuiltIn(const QString &path)
{
    // The names the kernel's UART drivers give: PC 8250/16550, ARM PL011, Samsung, OMAP, i.MX,
    // Tegra, Qualcomm, Xilinx, Amlogic, Marvell and NXP LPUART.
    static const QRegularExpression uarts(
        QStringLiteral("^tty(S|AMA|SAC|O|mxc|THS|MSM|PS|AML|MV|LP)[0-9]+$"));
    return uarts.match(QFileInfo(path).fileName()).hasMatch();
}

QString PortMap::overrideVariable(qint16 port)
{
    return QStringLiteral("TARVIX_COM%1").arg(port);
}

std::optional<QString> PortMap::knownDevice(qint16 port, Naming naming)
{
    const QByteArray chosen = qgetenv(overrideVariable(port).toLatin1().constData());
    if (!chosen.isEmpty())
        return QString::fromLocal8Bit(chosen);
    if (naming == Naming::Windows)
        return windowsPortName(port);
    return std::nullopt;
}

std::optional<PortMap::Entry> PortMap::entry(qint16 port) const
{
    const QString variable = overrideVariable(port);
    const QByteArray chosen = qgetenv(variable.toLatin1().constData());
    if (!chosen.isEmpty()) {
        // A stable name (/dev/serial/by-id/...) is described as the port it leads to.
        const QString path = QString::fromLocal8Bit(chosen);
        const QString target = QFileInfo(path).canonicalFilePath();
        const auto known = std::find_if(m_ports.begin(), m_ports.end(), [&](const SerialDevice &d) {
            return d.path == path || (!target.isEmpty() && d.path == target);
        });
        return Entry{path, known != m_ports.end() ? known->description : QString(), variable};
    }
    if (m_naming == Naming::Windows)
        return Entry{windowsPortName(port), QString(), QString()};
    if (port < 1 || port > m_ports.size())
        return std::nullopt;
    const SerialDevice &device = m_ports.at(port - 1);
    return Entry{device.path, device.description, QString()};
}

bool PortMap::isPresent(const QString &device) const
{
    const QString local = QStringLiteral("\\\\.\\");
    return std::any_of(m_ports.begin(), m_ports.end(), [&](const SerialDevice &port) {
        return port.path == device || port.path == local + device || local + port.path == device;
    });
}

QString PortMap::devicePath(qint16 port) const
{
    const std::optional<Entry> found = entry(port);
    return found ? found->path : QString();
}

QList<qint16> PortMap::listedNumbers() const
{
    qint16 last = static_cast<qint16>(qMax<qsizetype>(4, m_ports.size()));
    QList<qint16> numbers;
    for (qint16 port = 1; port <= last; ++port)
        numbers.append(port);
    static const QRegularExpression variable(QStringLiteral("^TARVIX_COM([0-9]+)=."));
    for (const QString &setting : QProcessEnvironment::systemEnvironment().toStringList()) {
        const QRegularExpressionMatch match = variable.match(setting);
        bool ok = false;
        const int port = match.hasMatch() ? match.captured(1).toInt(&ok) : 0;
        if (ok && port > last && port <= std::numeric_limits<qint16>::max())
            numbers.append(static_cast<qint16>(port));
    }
    std::sort(numbers.begin(), numbers.end());
    return numbers;
}

} // namespace tvx
