// A port lost while open (an unplugged adapter) is reopened when its device comes back. The
// device is a symbolic link to a pseudo-terminal, removed and made again as udev removes and
// makes a device node.

#include "platform/serial/serial_port.h"
#include "port/port_link.h"
#include "port/port_recovery.h"
#include "support/fake_serial_control.h"
#include "support/file_bytes.h"
#include "support/pseudo_terminal.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace tvx;

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
    auto first = std::make_unique<test::PseudoTerminal>();
    QVERIFY(QFile::link(first->slavePath(), node));
    qputenv("TARVIX_COM1", device.toLocal8Bit());
    qputenv("TARVIX_COM2", "/dev/tarvix-no-such-device");

    SystemSerialControl comm;
    PortLink link(comm);
    PortRecovery recovery(link);
    QSignalSpy back(&recovery, &PortRecovery::reopened);
    QVERIFY2(link.openPort(), qPrintable(link.failure()));

    // Unplugged: the line hangs up, then the device node goes.
    QSignalSpy lost(&comm, &SerialControl::deviceLost);
    first->closeMaster();
    QTRY_COMPARE(lost.count(), 1);
    QVERIFY(recovery.waiting());
    QVERIFY(QFile::remove(node));
    if (folderGoes)
        QVERIFY(QDir(scratch.filePath(QStringLiteral("dev/serial"))).removeRecursively());
    if (!choice.isEmpty()) {
        link.setSavedPortNumber(1);
        link.setPortNumber(choice == QLatin1String("ok other") ? 2 : 1);
        QVERIFY(!link.openPort(choice == QLatin1String("cancel") ? PortLink::Choice::Cancel
                                                                 : PortLink::Choice::Ok));
    }
    QTest::qWait(50);
    QCOMPARE(back.count(), 0);
    // Absent, the device wakes nobody: no timer runs.
    QVERIFY(!recovery.retrying());

    // Plugged in again: a new terminal behind the same name.
    test::PseudoTerminal second;
    QVERIFY(QDir().mkpath(linkFolder));
    QVERIFY(QFile::link(second.slavePath(), node));
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
    QCOMPARE(second.lineSettings(), QStringLiteral("1200,N,8,1"));
    QCOMPARE(comm.rThreshold(), PortLink::ReceiveThreshold);
    QByteArray bytes;
    for (int i = 0; i < 256; ++i)
        bytes.append(char(i));
    QVERIFY(second.write(bytes));
    QTRY_COMPARE(comm.inBufferCount().value_or(0), qint16(256));
    QCOMPARE(*comm.input(), bytes);
}

// A device that is back but held by another program for a moment is tried again on a timer, but
// only while it is there.
void TestPortRecovery::busyDeviceTriedWhileThere()
{
    QTemporaryDir scratch;
    const QString device = scratch.filePath(QStringLiteral("ttyUSB0"));
    auto first = std::make_unique<test::PseudoTerminal>();
    QVERIFY(QFile::link(first->slavePath(), device));
    qputenv("TARVIX_COM1", device.toLocal8Bit());
    SystemSerialControl comm;
    PortLink link(comm);
    PortRecovery recovery(link);
    QSignalSpy back(&recovery, &PortRecovery::reopened);
    QVERIFY2(link.openPort(), qPrintable(link.failure()));
    first->closeMaster();
    QTRY_VERIFY(recovery.waiting());
    QVERIFY(QFile::remove(device));

    // Back, but another program (under the device's own name) opens it first.
    test::PseudoTerminal second;
    SystemSerialControl holder;
    holder.setDeviceResolver([&](qint16) { return second.slavePath(); });
    QVERIFY(holder.setPortOpen(true));
    QVERIFY(QFile::link(second.slavePath(), device));
    QTRY_VERIFY(recovery.retrying());
    QVERIFY(!comm.portOpen());
    // Gone again while busy: the tries stop.
    QVERIFY(QFile::remove(device));
    QTRY_VERIFY_WITH_TIMEOUT(!recovery.retrying(), 2 * PortRecovery::FirstRetryMs + 500);
    QVERIFY(recovery.waiting());
    // Back and busy again, then free: the next try opens it with no change in any folder.
    QVERIFY(QFile::link(second.slavePath(), device));
    QTRY_VERIFY(recovery.retrying());
    QVERIFY(holder.setPortOpen(false));
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

QTEST_GUILESS_MAIN(TestPortRecovery)
#include "tst_port_recovery.moc"
