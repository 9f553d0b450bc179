#pragma once

#include <QString>

namespace tvx {

// What tells a serial device from another that later takes its name: an adapter unplugged and
// another one plugged in, or a pseudo-terminal whose name goes to the next terminal made (a new
// shell's). It is read while the device is there: the system forgets a device with its node.
struct DeviceIdentity {
    enum class Kind {
        Unknown, // nothing tells it apart: a pseudo-terminal, a device the system says nothing of
        Fixed,   // hardware that does not come and go (a built-in UART): known by its path
        Usb,     // a USB adapter: known by what it says of itself
    };
    Kind kind = Kind::Unknown;
    QString path;            // Fixed: the device, every link followed ("/dev/ttyS0")
    QString vendor;          // Usb: "0403"
    QString product;         // Usb: "6001"
    QString serial;          // Usb: empty when the adapter has no serial number
    QString interfaceNumber; // Usb: which port of an adapter with several ("00")

    static DeviceIdentity fixed(const QString &path);
    static DeviceIdentity usb(const QString &vendor, const QString &product, const QString &serial,
                              const QString &interfaceNumber);

    // Whether other is this same device. An adapter without a serial number is the same as
    // another of its vendor and product without one: nothing tells two such adapters apart,
    // and refusing it would leave such an adapter never reopened. Unknown is never the same as
    // anything.
    bool sameDeviceAs(const DeviceIdentity &other) const;
    // For messages: "USB 0403:6001, serial A9F3K2", "USB 067b:2303, no serial number".
    QString describe() const;
};

// The identity of the terminal device at path (links followed) as sysfs below sysfsRoot tells
// it. The terminal's folder is found by the device number (<root>/dev/char/<major>:<minor>, the
// folder /sys/class/tty/<name> also leads to), so a node of any name is judged by what it is.
// Its "device" link leads to the hardware: the nearest USB device above it (idVendor,
// idProduct, serial) makes it an adapter, with the interface it hangs on (bInterfaceNumber);
// hardware with no USB device above it is fixed. A terminal without hardware (a pseudo-terminal,
// which has no sysfs folder at all; a virtual console), a node that is no character device, and
// a system without sysfs give Unknown. Unix only.
DeviceIdentity sysfsDeviceIdentity(const QString &device,
                                   const QString &sysfsRoot = QStringLiteral("/sys"));

} // namespace tvx
