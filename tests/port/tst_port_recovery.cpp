// A port lost while open (an unplugged adapter) is reopened when its device comes back. The
// device is a symbolic link to a pseudo-terminal, removed and made again as udev removes and
// makes a device node.

#include "platform/serial_port.h"
#include "port/port_link.h"
#include "port/port_recovery.h"
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
    void cleanup() { qunsetenv("TARVIX_COM1"); }
    void deviceComesBack_data();
    void deviceComesBack();
};

void TestPortRecovery::deviceComesBack_data()
{
    QTest::addColumn<QString>("folder");   // where the device's link lives, below the scratch
    QTest::addColumn<bool>("folderGoes");  // the folder goes with the device, as by-id does
    QTest::addColumn<bool>("userChooses"); // Ok or Cancel ran while the device was away
    QTest::addColumn<bool>("reopened");
    QTest::newRow("in its folder") << "dev" << false << false << true;
    QTest::newRow("its folder goes too") << "dev/serial/by-id" << true << false << true;
    QTest::newRow("the user chose meanwhile") << "dev" << false << true << false;
}

void TestPortRecovery::deviceComesBack()
{
    QFETCH(QString, folder);
    QFETCH(bool, folderGoes);
    QFETCH(bool, userChooses);
    QFETCH(bool, reopened);

    QTemporaryDir scratch;
    const QString linkFolder = scratch.filePath(folder);
    const QString device = linkFolder + QStringLiteral("/instrument");
    QVERIFY(QDir().mkpath(linkFolder));
    auto first = std::make_unique<test::PseudoTerminal>();
    QVERIFY(QFile::link(first->slavePath(), device));
    qputenv("TARVIX_COM1", device.toLocal8Bit());

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
    QVERIFY(QFile::remove(device));
    if (folderGoes)
        QVERIFY(QDir(scratch.filePath(QStringLiteral("dev/serial"))).removeRecursively());
    if (userChooses) {
        link.setPortNumber(1);
        QVERIFY(!link.openPort()); // Ok on the same port while it is away
    }
    QTest::qWait(50);
    QCOMPARE(back.count(), 0);

    // Plugged in again: a new terminal behind the same name.
    test::PseudoTerminal second;
    QVERIFY(QDir().mkpath(linkFolder));
    QVERIFY(QFile::link(second.slavePath(), device));
    if (!reopened) {
        QTest::qWait(300);
        QCOMPARE(back.count(), 0);
        QVERIFY(!comm.portOpen());
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

QTEST_GUILESS_MAIN(TestPortRecovery)
#include "tst_port_recovery.moc"
