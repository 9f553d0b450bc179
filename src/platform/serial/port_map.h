#pragma once

#include <QList>
#include <QString>

#include <functional>
#include <optional>

namespace tvx {

// A serial port the machine has: its device and what the system says of it.
struct SerialDevice {
    QString path;        // "/dev/ttyUSB0"
    QString description; // "FT232R USB UART"; often empty for a built-in UART
    // A UART node the kernel made with no hardware behind it (most PCs have /dev/ttyS0 to
    // ttyS3 so, whether or not they have a serial port): never a port.
    bool stub = false;
};

// A serial port as the system's enumeration reports it, before the program judges it.
struct ReportedPort {
    QString name;         // "ttyUSB0"
    QString location;     // "/dev/ttyUSB0"
    QString description;  // the product, as the device names itself
    QString manufacturer; // said of the port when the product is not
};

// What the enumeration of this machine reports (Qt's list of serial ports).
QList<ReportedPort> reportedSerialPorts();

// The serial ports among those reported. sysfsFolder is where the kernel tells of each
// terminal ("/sys/class/tty"): a port whose <name>/type there reads 0 has no UART behind it
// and is a stub. An empty folder judges no port a stub (a system without sysfs).
QList<SerialDevice> serialPortsOf(const QList<ReportedPort> &reported, const QString &sysfsFolder);

// The serial ports the machine has, virtual consoles and pseudo-terminals not among them, with
// the UART nodes that have no hardware behind them marked as stubs.
QList<SerialDevice> systemSerialPorts();

// Enumerating the serial ports can take seconds (udev, or a walk through /sys/class/tty). While
// a hold lives, the first enumeration made through heldScan() answers every later one: a step
// that looks a port number up before it closes the port in force, and again as it opens the new
// one, enumerates once, and not while the port is closed. Holds nest; the outermost one keeps
// the list. One thread's holds are its own.
class PortScanHold {
public:
    PortScanHold();
    ~PortScanHold();
    PortScanHold(const PortScanHold &) = delete;
    PortScanHold &operator=(const PortScanHold &) = delete;

private:
    friend QList<SerialDevice> heldScan(const std::function<QList<SerialDevice>()> &scan);
    bool m_outermost;
    std::optional<QList<SerialDevice>> m_ports;
};

// scan()'s list: made afresh, or the one the hold in force already has.
QList<SerialDevice> heldScan(const std::function<QList<SerialDevice>()> &scan);

// The device Windows gives COM n: "COM3".
QString windowsPortName(qint16 port);

// How messages name COM n on this device: "COM1 (/dev/ttyUSB0)", "COM3 (COM9)" for a number
// mapped to another COM port, and only "COM3" where the device is the number's own.
QString portLabel(qint16 port, const QString &device);

// What port numbers stand for on a machine with these serial ports. COM n is the device that
// the environment variable TARVIX_COM<n> names when it is set (a simulator, an odd device);
// otherwise with Windows names the device COMn, and with enumerated names the n-th present
// port in COM order: built-in UARTs first (ttyS, ttyAMA, ...), then USB and other adapters
// (ttyACM, ttyUSB, ...), each group in the natural order of the device names (ttyUSB2 before
// ttyUSB10).
class PortMap {
public:
    enum class Naming {
        Enumerated, // the n-th present port
        Windows,    // the system's own COMn
    };
    // The naming of the system the program runs on.
    static Naming systemNaming();

    // COM n's device, and how it came to be chosen.
    struct Entry {
        QString path;
        QString description; // what the system says of it, empty when it says nothing
        QString setBy;       // the environment variable that chose it, if one did
    };

    // Stubs, pseudo-terminals and virtual consoles among present are left out.
    explicit PortMap(QList<SerialDevice> present, Naming naming = systemNaming());

    static PortMap ofSystem() { return PortMap(systemSerialPorts()); }

    // COM n's device where no enumeration is needed to know it: the one an environment
    // variable names, or Windows' own COMn. Nothing when only the machine's ports can tell.
    static std::optional<QString> knownDevice(qint16 port, Naming naming = systemNaming());

    // Nothing when no serial port stands behind the number.
    std::optional<Entry> entry(qint16 port) const;
    QString devicePath(qint16 port) const;

    // Whether the device is one of the machine's present ports ("COM3" is the port Windows
    // lists as \\.\COM3).
    bool isPresent(const QString &device) const;

    // The numbers worth showing a user: COM1 to COM4, every further present port, and every
    // further number an environment variable maps.
    QList<qint16> listedNumbers() const;

    static QString overrideVariable(qint16 port);
    // Built-in UARTs by the names their drivers give them; every other port is an adapter.
    static bool isBuiltIn(const QString &path);

private:
    QList<SerialDevice> m_ports;
    Naming m_naming;
};

} // namespace tvx
