// A port lost while open (an unplugged adapter) is reopened when the same device comes back.
// The device is a file, removed and made again as udev removes and makes a device node, and
// the pretend system says which device it is.

#include "platform/serial/serial_port.h"
#include "port/port_link.h"
#include "port/port_recovery.h"
#include "port/port_selection_window.h"
#include "support/fake_serial_control.h"
#include "support/file_bytes.h"
#include "support/pseudo_terminal.h"

#include <QDir>
#include <QFile>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace tvx;

namespace {

// "0403:6001 A9F3K2 01": an adapter ("-" for no serial number; interface 00 unless given);
// "": a device nothing tells apart.
DeviceIdentity identity(const QString &text)
{
    const QStringList f = text.split(QLatin1Char(' '));
    if (text.isEmpty())
        return {};
    const QString serial = f.value(1) == QLatin1String("-") ? QString() : f.value(1);
    return DeviceIdentity::usb(f[0].section(QLatin1Char(':'), 0, 0),
                               f[0].section(QLatin1Char(':'), 1), serial,
                               f.value(2, QStringLiteral("00")));
}

} // namespace

class TestPortRecovery : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void cleanup()
    {
        qunsetenv("TARVIX_COM1");
        qunsetenv("TARVIX_COM2");
    }
    void deviceComesBack_data();
    void deviceComesBack();
    void onlyTheSameDevice_data();
    void onlyTheSameDevice();
    void pseudoTerminalNotWaitedFor();
    void reopensTheLostNumberNotTheMarkedOne();
    void busyDeviceTriedWhileThere();
    void numberMovedToAnotherAdapter();
};

void TestPortRecovery::deviceComesBack_data()
{
    QTest::addColumn<QString>("folder");  // where the device's link lives, below the scratch
    QTest::addColumn<bool>("folderGoes"); // the folder goes with the device, as by-id does
    QTest::addColumn<bool>("linkStays");  // the link stays; what it points to goes and comes
    QTest::addColumn<QString>("choice");  // what the user did while the device was away
    QTest::addColumn<bool>("reopened");
    QTest::newRow("in its folder") << "dev" << false << false << "" << true;
    QTest::newRow("its folder goes too") << "dev/serial/by-id" << true << false << "" << true;
    QTest::newRow("the link stays, its target goes")
        << "dev/serial/by-id" << false << true << "" << true;
    QTest::newRow("Ok on the same port, which failed") << "dev" << false << false << "ok" << true;
    QTest::newRow("Ok on another port") << "dev" << false << false << "ok other" << false;
    QTest::newRow("Cancel") << "dev" << false << false << "cancel" << false;
}

void TestPortRecovery::deviceComesBack()
{
    QFETCH(QString, folder);
    QFETCH(bool, folderGoes);
    QFETCH(bool, linkStays);
    QFETCH(QString, choice);
    QFETCH(bool, reopened);

    QTemporaryDir scratch;
    const QString linkFolder = scratch.filePath(folder);
    const QString device = linkFolder + QStringLiteral("/instrument");
    // With linkStays, the device's link leads to another link, in a folder of its own, which
    // leads to the terminal: that one goes and comes.
    const QString node = linkStays ? scratch.filePath(QStringLiteral("tty/node")) : device;
    QVERIFY(QDir().mkpath(linkFolder));
    QVERIFY(QDir().mkpath(QFileInfo(node).path()));
    if (linkStays)
        QVERIFY(QFile::link(node, device));
    QVERIFY(test::writeFile(node, ""));
    qputenv("TARVIX_COM1", device.toLocal8Bit());
    qputenv("TARVIX_COM2", "/dev/tarvix-no-such-device");

    test::FakeSerialControl comm;
    comm.setIdentity(device, identity(QStringLiteral("0403:6001 A9F3K2")));
    PortLink link(comm);
    PortRecovery recovery(link);
    QSignalSpy back(&recovery, &PortRecovery::reopened);
    QVERIFY2(link.openPort(), qPrintable(link.failure()));
    QVERIFY(comm.setSettings(QStringLiteral("9600,E,7,2")));

    // Unplugged: the line hangs up, then the device node goes.
    comm.loseDevice();
    QVERIFY(recovery.waiting());
    QVERIFY(QFile::remove(node));
    if (folderGoes)
        QVERIFY(QDir(scratch.filePath(QStringLiteral("dev/serial"))).removeRecursively());
    if (!choice.isEmpty()) {
        // Neither port opens while the device is away.
        comm.setUnavailable(device);
        comm.setUnavailable(QStringLiteral("/dev/tarvix-no-such-device"));
        link.setSavedPortNumber(1);
        link.setPortNumber(choice == QLatin1String("ok other") ? 2 : 1);
        QVERIFY(!link.openPort(choice == QLatin1String("cancel") ? PortLink::Choice::Cancel
                                                                 : PortLink::Choice::Ok));
        comm.setUnavailable(device, false);
    }
    QTest::qWait(50);
    QCOMPARE(back.count(), 0);
    // Absent, the device wakes nobody: no timer runs.
    QVERIFY(!recovery.retrying());

    // Plugged in again: a new node under the same name.
    QVERIFY(QDir().mkpath(linkFolder));
    QVERIFY(test::writeFile(node, ""));
    if (!reopened) {
        QTest::qWait(300);
        QCOMPARE(back.count(), 0);
        QVERIFY(!comm.portOpen());
        QVERIFY(!recovery.waiting());
        return;
    }
    QTRY_COMPARE(back.count(), 1);
    QCOMPARE(back.first().first().toString(),
             QStringLiteral("COM1 (%1) is back; the port is open again").arg(device));
    QVERIFY(!recovery.waiting());
    QVERIFY(comm.portOpen());
    QCOMPARE(comm.openedDevice(), device);
    QCOMPARE(comm.openedSettings().toString(), QStringLiteral("1200,N,8,1"));
    QCOMPARE(comm.rThreshold(), PortLink::ReceiveThreshold);
}

// What comes back under the lost device's name is reopened only when it is the same device;
// another one is said once and left alone, and the lost one is still waited for.
void TestPortRecovery::onlyTheSameDevice_data()
{
    QTest::addColumn<QString>("lost");
    QTest::addColumn<QString>("back");
    QTest::addColumn<QString>("other"); // how the message names another device; empty: reopened
    const auto row = [](const char *name, const char *lost, const char *back, const char *other) {
        QTest::newRow(name) << QString::fromLatin1(lost) << QString::fromLatin1(back)
                            << QString::fromLatin1(other);
    };
    row("the same adapter", "0403:6001 A9F3K2", "0403:6001 A9F3K2", "");
    row("the same adapter without a serial number", "067b:2303 -", "067b:2303 -", "");
    row("another adapter of the same kind", "0403:6001 A9F3K2", "0403:6001 A9F3K3",
        "USB 0403:6001, serial A9F3K3");
    row("another port of the same adapter", "0403:6010 FT1 00", "0403:6010 FT1 01",
        "USB 0403:6010, serial FT1, interface 01");
    row("a device nothing tells apart", "0403:6001 A9F3K2", "", "a device nothing tells apart");
}

void TestPortRecovery::onlyTheSameDevice()
{
    QFETCH(QString, lost);
    QFETCH(QString, back);
    QFETCH(QString, other);

    QTemporaryDir dev;
    const QString device = dev.filePath(QStringLiteral("ttyUSB0"));
    QVERIFY(test::writeFile(device, ""));
    qputenv("TARVIX_COM1", device.toLocal8Bit());
    test::FakeSerialControl comm;
    comm.setIdentity(device, identity(lost));
    PortLink link(comm);
    PortRecovery recovery(link);
    QSignalSpy reopened(&recovery, &PortRecovery::reopened);
    QSignalSpy notReopened(&recovery, &PortRecovery::notReopened);
    QVERIFY(link.openPort());
    comm.loseDevice();
    QVERIFY(QFile::remove(device));

    comm.setIdentity(device, identity(back));
    QVERIFY(test::writeFile(device, ""));
    if (other.isEmpty()) {
        QTRY_COMPARE(reopened.count(), 1);
        QCOMPARE(notReopened.count(), 0);
        return;
    }
    QTRY_COMPARE(notReopened.count(), 1);
    QCOMPARE(notReopened.first().first().toString(),
             QStringLiteral("COM1 (%1): another device appeared in its place (%2) and is not "
                            "opened (Option > Serial Port Selection > Ok opens it)")
                 .arg(device, other));
    QCOMPARE(comm.openCount(), 1);
    QVERIFY(recovery.waiting() && !recovery.retrying());
    // Said once: the folder changing again (another device plugged in) says nothing more.
    QVERIFY(test::writeFile(dev.filePath(QStringLiteral("ttyUSB1")), ""));
    QTest::qWait(300);
    QCOMPARE(notReopened.count(), 1);

    // That one goes, and the lost one is back: it is reopened, with nothing more said.
    QVERIFY(QFile::remove(device));
    comm.setIdentity(device, identity(lost));
    QVERIFY(test::writeFile(device, ""));
    QTRY_COMPARE(reopened.count(), 1);
    QCOMPARE(notReopened.count(), 1);
}

// A pseudo-terminal's name goes to the next terminal made, a new shell's maybe: a lost one is
// not waited for (the end-to-end case port-back makes a new one under its name).
void TestPortRecovery::pseudoTerminalNotWaitedFor()
{
    QTemporaryDir scratch;
    const QString device = scratch.filePath(QStringLiteral("ttyUSB0"));
    auto first = std::make_unique<test::PseudoTerminal>();
    QVERIFY(QFile::link(first->slavePath(), device));
    qputenv("TARVIX_COM1", device.toLocal8Bit());
    SystemSerialControl comm;
    PortLink link(comm);
    PortRecovery recovery(link);
    QSignalSpy notReopened(&recovery, &PortRecovery::notReopened);
    QVERIFY2(link.openPort(), qPrintable(link.failure()));
    first->closeMaster();
    QTRY_COMPARE(notReopened.count(), 1);
    QCOMPARE(notReopened.first().first().toString(),
             QStringLiteral("COM1 (%1) will not be reopened by itself: nothing tells whether a "
                            "device that appears there is the same one (Option > Serial Port "
                            "Selection > Ok reopens it)")
                 .arg(device));
    QVERIFY(!recovery.waiting()); // nothing watched: a new terminal there wakes nobody
}

// An option marked in the port selection window changes the port number at once, before the
// loss and again while the port is lost; the lost port is still the one reopened.
void TestPortRecovery::reopensTheLostNumberNotTheMarkedOne()
{
    QTemporaryDir dev;
    QList<SerialDevice> ports;
    for (const char *name : {"ttyUSB0", "ttyUSB1", "ttyUSB2"}) {
        ports.append({dev.filePath(QLatin1String(name)), QString()});
        QVERIFY(test::writeFile(ports.last().path, ""));
    }
    test::FakeSerialControl comm;
    comm.setPresentPorts(ports);
    PortLink link(comm);
    PortRecovery recovery(link);
    QSignalSpy back(&recovery, &PortRecovery::reopened);
    QVERIFY(link.openPort());
    PortSelectionWindow window(link);
    const auto mark = [&](const char *option) {
        window.findChild<QRadioButton *>(QLatin1String(option))->click();
    };
    mark("Option2");
    comm.loseDevice();
    QVERIFY(QFile::remove(ports[0].path));
    mark("Option3");
    QCOMPARE(link.portNumber(), qint16(3));
    QVERIFY(test::writeFile(ports[0].path, ""));
    QTRY_COMPARE(back.count(), 1);
    QCOMPARE(comm.openedDevice(), ports[0].path);
    QCOMPARE(comm.commPort(), qint16(1));
    QCOMPARE(link.portNumber(), qint16(3)); // the window's marking stands until Ok or Cancel
}

// A device that is back but held by another program for a moment is tried again on a timer, but
// only while it is there.
void TestPortRecovery::busyDeviceTriedWhileThere()
{
    QTemporaryDir scratch;
    const QString device = scratch.filePath(QStringLiteral("ttyUSB0"));
    QVERIFY(test::writeFile(device, ""));
    qputenv("TARVIX_COM1", device.toLocal8Bit());
    test::FakeSerialControl comm;
    PortLink link(comm);
    PortRecovery recovery(link);
    QSignalSpy back(&recovery, &PortRecovery::reopened);
    QVERIFY2(link.openPort(), qPrintable(link.failure()));
    comm.loseDevice();
    QVERIFY(recovery.waiting());
    QVERIFY(QFile::remove(device));

    // Back, but another program opens it first.
    comm.setUnavailable(device);
    QVERIFY(test::writeFile(device, ""));
    QTRY_VERIFY(recovery.retrying());
    QVERIFY(!comm.portOpen());
    // Gone again while busy: the tries stop.
    QVERIFY(QFile::remove(device));
    QTRY_VERIFY_WITH_TIMEOUT(!recovery.retrying(), 2 * PortRecovery::FirstRetryMs + 500);
    QVERIFY(recovery.waiting());
    // Back and busy again, then free: the next try opens it with no change in any folder.
    QVERIFY(test::writeFile(device, ""));
    QTRY_VERIFY(recovery.retrying());
    comm.setUnavailable(device, false);
    QTRY_COMPARE_WITH_TIMEOUT(back.count(), 1, 2 * PortRecovery::FirstRetryMs + 1000);
    QVERIFY(comm.portOpen());
    QVERIFY(!recovery.retrying());
    // The pauses between tries: 0.5 s, 1 s, 2 s, then every 5 s.
    QList<int> delays;
    for (int retry = 0; retry < 5; ++retry)
        delays.append(PortRecovery::retryDelayMs(retry));
    QCOMPARE(delays, (QList<int>{500, 1000, 2000, 5000, 5000}));
}

// COM1 is the first adapter present, here ttyUSB1. Unplugged, and ttyUSB0 plugged in meanwhile,
// COM1 stands for ttyUSB0 when ttyUSB1 is back: it is not opened in place of the lost one, nor is
// ttyUSB1 opened under a number that no longer stands for it. Once ttyUSB0 goes, COM1 is ttyUSB1
// again and is opened.
void TestPortRecovery::numberMovedToAnotherAdapter()
{
    QTemporaryDir dev;
    const QString lostOne = dev.filePath(QStringLiteral("ttyUSB1"));
    const QString otherOne = dev.filePath(QStringLiteral("ttyUSB0"));
    test::FakeSerialControl comm;
    comm.setPresentPorts({{lostOne, QString()}});
    QVERIFY(test::writeFile(lostOne, ""));
    PortLink link(comm);
    PortRecovery recovery(link);
    QSignalSpy back(&recovery, &PortRecovery::reopened);
    QVERIFY(link.openPort());
    QCOMPARE(comm.openedDevice(), lostOne);

    comm.loseDevice();
    QVERIFY(QFile::remove(lostOne));
    comm.setPresentPorts({{otherOne, QString()}, {lostOne, QString()}});
    QVERIFY(test::writeFile(otherOne, ""));
    QVERIFY(test::writeFile(lostOne, ""));
    QTest::qWait(300);
    QCOMPARE(comm.openCount(), 1);
    QVERIFY(recovery.waiting() && !recovery.retrying());

    comm.setPresentPorts({{lostOne, QString()}});
    QVERIFY(QFile::remove(otherOne));
    QTRY_COMPARE(back.count(), 1);
    QCOMPARE(comm.openedDevice(), lostOne);
}

QTEST_MAIN(TestPortRecovery)
#include "tst_port_recovery.moc"
