#include "device_identity.h"

#include "serial_port.h"

#include <QFile>
#include <QFileInfo>

#ifndef Q_OS_WIN
#include <sys/stat.h>
#include <sys/sysmacros.h>
#endif

namespace tvx {

DeviceIdentity DeviceIdentity::fixed(const QString &path)
{
    DeviceIdentity identity;
    identity.kind = Kind::Fixed;
    identity.path = path;
    return identity;
}

DeviceIdentity DeviceIdentity::usb(const QString &vendor, const QString &product,
                                   const QString &serial, const QString &interfaceNumber)
{
    return {Kind::Usb, QString(), vendor, product, serial, interfaceNumber};
}

bool DeviceIdentity::sameDeviceAs(const DeviceIdentity &other) const
{
    if (kind != other.kind)
        return false;
    switch (kind) {
    case Kind::Unknown:
        return false;
    case Kind::Fixed:
        return path == other.path;
    case Kind::Usb:
        return vendor == other.vendor && product == other.product && serial == other.serial &&
               interfaceNumber == other.interfaceNumber;
    }
    return false;
}

QString DeviceIdentity::describe() const
{
    switch (kind) {
    case Kind::Unknown:
        return QStringLiteral("a device nothing tells apart");
    case Kind::Fixed:
        return path;
    case Kind::Usb:
        break;
    }
    QString text = QStringLiteral("USB %1:%2, ").arg(vendor, product);
    text += serial.isEmpty() ? QStringLiteral("no serial number")
                             : QStringLiteral("serial %1").arg(serial);
    // Most adapters have one port, on interface 00; only another one is worth naming.
    if (!interfaceNumber.isEmpty() && interfaceNumber != QLatin1String("00"))
        text += QStringLiteral(", interface %1").arg(interfaceNumber);
    return text;
}

#ifndef Q_OS_WIN

namespace {

// A sysfs attribute's text; empty when the folder has no such attribute.
QString attribute(const QString &folder, const char *name)
{
    QFile file(folder + QLatin1Char('/') + QLatin1String(name));
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(file.readAll()).trimmed();
}

} // namespace

DeviceIdentity sysfsDeviceIdentity(const QString &device, const QString &sysfsRoot)
{
    const QString real = realDeviceOf(device);
    struct stat info {};
    if (::stat(QFile::encodeName(real).constData(), &info) != 0 || !S_ISCHR(info.st_mode))
        return {};
    const QString terminal = QStringLiteral("%1/dev/char/%2:%3")
                                 .arg(sysfsRoot)
                                 .arg(major(info.st_rdev))
                                 .arg(minor(info.st_rdev));
    const QString hardware = QFileInfo(terminal + QStringLiteral("/device")).canonicalFilePath();
    const QString devices = QFileInfo(sysfsRoot + QStringLiteral("/devices")).canonicalFilePath();
    if (hardware.isEmpty() || devices.isEmpty())
        return {};

    QString interfaceNumber;
    for (QString folder = hardware; folder.startsWith(devices + QLatin1Char('/'));
         folder = QFileInfo(folder).path()) {
        // The interface comes below its USB device on the way up.
        if (interfaceNumber.isEmpty())
            interfaceNumber = attribute(folder, "bInterfaceNumber");
        const QString vendor = attribute(folder, "idVendor");
        const QString product = attribute(folder, "idProduct");
        if (!vendor.isEmpty() && !product.isEmpty())
            return DeviceIdentity::usb(vendor, product, attribute(folder, "serial"),
                                       interfaceNumber);
    }
    // No USB device above it: hardware of the machine's own, the same device while its path is.
    return DeviceIdentity::fixed(real);
}

DeviceIdentity SystemSerialControl::deviceIdentity(const QString &device) const
{
    return sysfsDeviceIdentity(device);
}

#endif

} // namespace tvx
