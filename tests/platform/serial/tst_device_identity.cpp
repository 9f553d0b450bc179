// What tells a serial device from another that later takes its name, read from a sysfs tree
// made in a scratch folder as the kernel lays it out, for a real character device (/dev/null).

#include "platform/serial/device_identity.h"
#include "support/file_bytes.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <sys/sysmacros.h>

using namespace tvx;

class TestDeviceIdentity : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void readFromSysfs_data();
    void readFromSysfs();
};

void TestDeviceIdentity::readFromSysfs_data()
{
    // The terminal's hardware is an adapter's port (devices/usb1/1-2/1-2:1.0/ttyUSB0): its
    // interface one folder up, the USB device two.
    QTest::addColumn<QStringList>("attributes"); // "folder/name=text", from the port's folder
    QTest::addColumn<QString>("given"); // "node", "link" to it, "file", "no hardware" behind it
    QTest::addColumn<QString>("expected");
    const auto row = [](const char *name, const QStringList &attributes, const char *given,
                        const char *expected) {
        QTest::newRow(name) << attributes << QString::fromLatin1(given)
                            << QString::fromLatin1(expected);
    };
    const QStringList ftdi{QStringLiteral("../../idVendor=0403\n"),
                           QStringLiteral("../../idProduct=6001\n")};
    const QStringList port0{QStringLiteral("../bInterfaceNumber=00\n")};
    const QStringList serial{QStringLiteral("../../serial=A9F3K2\n")};
    row("adapter", ftdi + port0 + serial, "link", "USB 0403:6001, serial A9F3K2");
    row("adapter without a serial number", ftdi + port0, "node", "USB 0403:6001, no serial number");
    row("second port of an adapter",
        ftdi + serial + QStringList{QStringLiteral("../bInterfaceNumber=01")}, "node",
        "USB 0403:6001, serial A9F3K2, interface 01");
    // No USB device above it: a product number alone makes none.
    row("built-in port", {QStringLiteral("../../idProduct=6001")}, "link", "/dev/null");
    row("no hardware", ftdi, "no hardware", "a device nothing tells apart");
    row("a plain file", ftdi, "file", "a device nothing tells apart");
}

void TestDeviceIdentity::readFromSysfs()
{
    QFETCH(QStringList, attributes);
    QFETCH(QString, given);
    QFETCH(QString, expected);

    struct stat info {};
    QCOMPARE(::stat("/dev/null", &info), 0);
    QTemporaryDir root;
    const QString port = root.filePath(QStringLiteral("devices/usb1/1-2/1-2:1.0/ttyUSB0"));
    const QString terminal = port + QStringLiteral("/tty/ttyUSB0");
    QVERIFY(QDir().mkpath(terminal) && QDir().mkpath(root.filePath(QStringLiteral("dev/char"))));
    const QString number =
        QStringLiteral("%1:%2").arg(major(info.st_rdev)).arg(minor(info.st_rdev));
    QVERIFY(QFile::link(terminal, root.filePath(QStringLiteral("dev/char/") + number)));
    if (given != QLatin1String("no hardware"))
        QVERIFY(QFile::link(port, terminal + QStringLiteral("/device")));
    for (const QString &attribute : attributes) {
        const QString name =
            QDir::cleanPath(port + QLatin1Char('/') + attribute.section(QLatin1Char('='), 0, 0));
        QVERIFY(test::writeFile(name, attribute.section(QLatin1Char('='), 1).toUtf8()));
    }
    QString device = QStringLiteral("/dev/null");
    if (given == QLatin1String("link") || given == QLatin1String("file")) {
        device = root.filePath(QStringLiteral("instrument"));
        QVERIFY(given == QLatin1String("link") ? QFile::link(QStringLiteral("/dev/null"), device)
                                               : test::writeFile(device, ""));
    }
    // As a message names it: the kind, and what tells it apart.
    QCOMPARE(sysfsDeviceIdentity(device, root.path()).describe(), expected);
}

QTEST_GUILESS_MAIN(TestDeviceIdentity)
#include "tst_device_identity.moc"
