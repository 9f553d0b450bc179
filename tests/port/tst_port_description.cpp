// What a user is told about the port numbers: the option tooltips and tarvix --ports.

#include "port/port_description.h"

#include <QTest>

using namespace tvx;

namespace {

// "path|description|set by", or "" for no port behind the number.
std::optional<PortMap::Entry> entryOf(const QString &written)
{
    if (written.isEmpty())
        return std::nullopt;
    return PortMap::Entry{written.section(QLatin1Char('|'), 0, 0),
                          written.section(QLatin1Char('|'), 1, 1),
                          written.section(QLatin1Char('|'), 2, 2)};
}

// "kind:reason", or "" when the last opening did not fail.
std::optional<SerialControl::OpenFailure> failureOf(const QString &written)
{
    if (written.isEmpty())
        return std::nullopt;
    const QString kind = written.section(QLatin1Char(':'), 0, 0);
    const QString reason = written.section(QLatin1Char(':'), 1);
    using F = SerialControl::OpenFailure;
    return F{kind == QLatin1String("permission") ? F::Permission
             : kind == QLatin1String("busy")     ? F::Busy
             : kind == QLatin1String("none")     ? F::NoDevice
             : kind == QLatin1String("stale")    ? F::StaleLock
                                                 : F::Other,
             reason};
}

} // namespace

class TestPortDescription : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void hint_data();
    void hint();
    void listing_data();
    void listing();
    void lockFolderNote_data();
    void lockFolderNote();
};

void TestPortDescription::hint_data()
{
    QTest::addColumn<QString>("entry");
    QTest::addColumn<QString>("failure");
    QTest::addColumn<QString>("expected");
    const QString adapter = QStringLiteral("/dev/ttyUSB0 \u2014 FT232R USB UART");
    QTest::newRow("an adapter the system describes") << "/dev/ttyUSB0|FT232R USB UART"
                                                     << "" << adapter;
    QTest::newRow("a built-in UART the system says nothing of")
        << "/dev/ttyS0"
        << ""
        << "/dev/ttyS0 \u2014 built-in serial port";
    QTest::newRow("an adapter the system says nothing of") << "/dev/ttyACM0"
                                                           << ""
                                                           << "/dev/ttyACM0 \u2014 serial port";
    QTest::newRow("chosen by the environment")
        << "/dev/serial/by-id/usb-FTDI-port0|FT232R USB UART|TARVIX_COM2"
        << ""
        << "/dev/serial/by-id/usb-FTDI-port0 \u2014 FT232R USB UART (set by TARVIX_COM2)";
    QTest::newRow("nothing behind the number")
        << ""
        << ""
        << "No serial port stands behind this number on this computer.";
    QTest::newRow("nothing behind the number at the last opening either")
        << ""
        << "none:no serial port stands behind this number"
        << "No serial port stands behind this number on this computer.";
    QTest::newRow("not the user's to open")
        << "/dev/ttyUSB0|FT232R USB UART"
        << "permission:Permission denied"
        << adapter + QStringLiteral("\nThe last opening failed: Permission denied.\nSerial ports "
                                    "belong to the group dialout: add yourself with \"sudo "
                                    "adduser $USER dialout\", then log out and in again.");
    QTest::newRow("held by another program")
        << "/dev/ttyUSB0|FT232R USB UART"
        << "busy:in use by picocom (process 4242), which holds a lock on the device"
        << adapter + QStringLiteral("\nThe last opening failed: in use by picocom (process 4242), "
                                    "which holds a lock on the device.\nAnother program holds the "
                                    "port: end it, then choose Ok again.");
    // The reason says how to remove it; nobody is to be ended.
    QTest::newRow("a stale lock file that cannot be removed")
        << "/dev/ttyUSB0|FT232R USB UART"
        << "stale:the stale lock file /run/lock/LCK..ttyUSB0 of user alice names process 4242, "
           "which has ended, and cannot be removed"
        << adapter + QStringLiteral("\nThe last opening failed: the stale lock file "
                                    "/run/lock/LCK..ttyUSB0 of user alice names process 4242, "
                                    "which has ended, and cannot be removed.");
    QTest::newRow("gone when it was opened")
        << "/dev/ttyUSB0|FT232R USB UART"
        << "other:No such file or directory"
        << adapter + QStringLiteral("\nThe last opening failed: No such file or directory.");
}

void TestPortDescription::hint()
{
    QFETCH(QString, entry);
    QFETCH(QString, failure);
    QFETCH(QString, expected);
    QCOMPARE(portdescription::hint(entryOf(entry), failureOf(failure)), expected);
}

void TestPortDescription::listing_data()
{
    QTest::addColumn<QStringList>("present");
    QTest::addColumn<QString>("expected");
    QStringList five;
    for (int n = 0; n < 4; ++n)
        five.append(QStringLiteral("/dev/ttyUSB%1").arg(n));
    five.append(QStringLiteral("/dev/ttyS1"));
    QTest::newRow("more than four, columns aligned") << five
                                                     << "COM1  /dev/ttyS1    built-in serial port\n"
                                                        "COM2  /dev/ttyUSB0  serial port\n"
                                                        "COM3  /dev/ttyUSB1  serial port\n"
                                                        "COM4  /dev/ttyUSB2  serial port\n"
                                                        "COM5  /dev/ttyUSB3  serial port\n";
}

void TestPortDescription::listing()
{
    QFETCH(QStringList, present);
    QFETCH(QString, expected);
    QList<SerialDevice> devices;
    for (const QString &path : present)
        devices.append({path, QString()});
    // Devices found by enumeration, as Linux names them, on Windows too.
    QCOMPARE(portdescription::listing(PortMap(devices, PortMap::Naming::Enumerated)), expected);
}

// Said once in each place a user looks at the ports, when no lock file can be written.
void TestPortDescription::lockFolderNote_data()
{
    QTest::addColumn<QString>("where");
    QTest::addColumn<QString>("expected");
    const QString note = QStringLiteral("\nNote: no lock file (/run/lock: Read-only file system).");
    QTest::newRow("an option's tooltip")
        << "hint" << QStringLiteral("/dev/ttyS0 \u2014 built-in serial port") + note;
    QTest::newRow("an option with no port behind it")
        << "hint of nothing"
        << "No serial port stands behind this number on this computer.";
    QTest::newRow("tarvix --ports")
        << "listing"
        << QStringLiteral("COM1  /dev/ttyS0  built-in serial port\n"
                          "COM2  -           no serial port stands behind this number\n"
                          "COM3  -           no serial port stands behind this number\n"
                          "COM4  -           no serial port stands behind this number\n") +
               note + QLatin1Char('\n');
}

void TestPortDescription::lockFolderNote()
{
    QFETCH(QString, where);
    QFETCH(QString, expected);
    const QString note = QStringLiteral("no lock file (/run/lock: Read-only file system)");
    const PortMap map({{QStringLiteral("/dev/ttyS0"), QString()}}, PortMap::Naming::Enumerated);
    if (where == QLatin1String("listing"))
        QCOMPARE(portdescription::listing(map, note), expected);
    else
        QCOMPARE(portdescription::hint(map.entry(where == QLatin1String("hint") ? 1 : 2),
                                       std::nullopt, note),
                 expected);
}

QTEST_GUILESS_MAIN(TestPortDescription)
#include "tst_port_description.moc"
