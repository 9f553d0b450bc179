#include "platform/serial_port.h"
#include "support/fake_serial_control.h"
#include "support/pseudo_terminal.h"

#include <QSignalSpy>
#include <QTest>

using namespace tvx;

class TestSerialPort : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void settingsParse_data();
    void settingsParse();
    void deviceMapping_data();
    void deviceMapping();
    void accessOnClosedPortFails();
    void commPortFixedWhileOpen();
    void countIsSixteenBit();
    void inputLenLimitsRead();
    void notificationFollowsThreshold();
    void closingDiscardsWaiting();

    void realPortOpensAtLineSettings();
    void realPortMissingDeviceFails();
    void realPortHeldByOtherDescriptorFails();
    void realPortReceivesBytesExactly();
    void realPortLostKeepsWhatArrived();
};

void TestSerialPort::settingsParse_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QString>("normal");
    QTest::newRow("instrument line") << "1200,N,8,1" << true << "1200,N,8,1";
    QTest::newRow("even parity, two stops") << "9600,e,7,2" << true << "9600,E,7,2";
    QTest::newRow("blanks") << " 1200 , N , 8 , 1 " << true << "1200,N,8,1";
    QTest::newRow("mark") << "300,M,8,1" << true << "300,M,8,1";
    QTest::newRow("unknown parity") << "1200,X,8,1" << false << "";
    QTest::newRow("missing field") << "1200,N,8" << false << "";
    QTest::newRow("extra field") << "1200,N,8,1,0" << false << "";
    QTest::newRow("zero speed") << "0,N,8,1" << false << "";
    QTest::newRow("nine data bits") << "1200,N,9,1" << false << "";
    QTest::newRow("three stop bits") << "1200,N,8,3" << false << "";
    QTest::newRow("empty") << "" << false << "";
    QTest::newRow("words") << "fast,N,8,1" << false << "";
}

void TestSerialPort::settingsParse()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QFETCH(QString, normal);
    const auto parsed = LineSettings::parse(text);
    QCOMPARE(parsed.has_value(), valid);
    if (valid)
        QCOMPARE(parsed->toString(), normal);

    test::FakeSerialControl comm;
    const QString before = comm.settings();
    QCOMPARE(comm.setSettings(text), valid);
    QCOMPARE(comm.settings(), valid ? normal : before);
    if (!valid)
        QVERIFY(!comm.errorString().isEmpty());
}

void TestSerialPort::deviceMapping_data()
{
    QTest::addColumn<int>("port");
    QTest::addColumn<QByteArray>("override");
    QTest::addColumn<QString>("device");
#ifdef Q_OS_WIN
    QTest::newRow("COM1") << 1 << QByteArray() << "COM1";
    QTest::newRow("COM7") << 7 << QByteArray() << "COM7";
#else
    QTest::newRow("COM1") << 1 << QByteArray() << "/dev/ttyS0";
    QTest::newRow("COM4") << 4 << QByteArray() << "/dev/ttyS3";
    QTest::newRow("COM7 from tvx.cfg") << 7 << QByteArray() << "/dev/ttyS6";
#endif
    QTest::newRow("USB adapter") << 2 << QByteArray("/dev/ttyUSB0") << "/dev/ttyUSB0";
    QTest::newRow("pseudo-terminal") << 3 << QByteArray("/dev/pts/9") << "/dev/pts/9";
}

void TestSerialPort::deviceMapping()
{
    QFETCH(int, port);
    QFETCH(QByteArray, override);
    QFETCH(QString, device);
    const QByteArray name = "TARVIX_COM" + QByteArray::number(port);
    if (override.isEmpty())
        qunsetenv(name.constData());
    else
        qputenv(name.constData(), override);
    QCOMPARE(deviceForPort(static_cast<qint16>(port)), device);
    qunsetenv(name.constData());
}

void TestSerialPort::accessOnClosedPortFails()
{
    test::FakeSerialControl comm;
    QVERIFY(!comm.portOpen());
    QCOMPARE(comm.settings(), QStringLiteral("1200,N,8,1"));
    QVERIFY(!comm.inBufferCount().has_value());
    QVERIFY(!comm.errorString().isEmpty());
    QVERIFY(!comm.input().has_value());
    QVERIFY(comm.setPortOpen(false)); // closing a closed port is harmless
}

void TestSerialPort::commPortFixedWhileOpen()
{
    test::FakeSerialControl comm;
    QVERIFY(comm.setCommPort(2));
    QVERIFY(comm.setPortOpen(true));
    QVERIFY(!comm.setCommPort(3));
    QCOMPARE(comm.commPort(), qint16(2));
    QVERIFY(!comm.setPortOpen(true)); // already open
}

void TestSerialPort::countIsSixteenBit()
{
    test::FakeSerialControl comm;
    QVERIFY(comm.setPortOpen(true));
    comm.feed(QByteArray(40000, 'x'));
    QCOMPARE(*comm.inBufferCount(), qint16(32767));
    QCOMPARE(comm.input()->size(), 40000); // nothing is lost beyond the count's range
    QCOMPARE(*comm.inBufferCount(), qint16(0));
    QCOMPARE(*comm.input(), QByteArray());
}

void TestSerialPort::inputLenLimitsRead()
{
    test::FakeSerialControl comm;
    QVERIFY(comm.setPortOpen(true));
    comm.feed("abcdef");
    QVERIFY(comm.setInputLen(4));
    QCOMPARE(*comm.input(), QByteArray("abcd"));
    QVERIFY(comm.setInputLen(0));
    QCOMPARE(*comm.input(), QByteArray("ef"));
    QVERIFY(!comm.setInputLen(-1));
}

void TestSerialPort::notificationFollowsThreshold()
{
    test::FakeSerialControl comm;
    QSignalSpy spy(&comm, &SerialControl::onComm);
    comm.feed("a"); // closed: nothing
    QVERIFY(comm.setPortOpen(true));
    comm.feed("b"); // threshold 0: nothing
    QCOMPARE(spy.count(), 0);
    QVERIFY(comm.setRThreshold(1));
    comm.feed("c");
    QCOMPARE(spy.count(), 1);
    QCOMPARE(comm.commEvent(), SerialControl::EventReceive);
    QVERIFY(comm.setRThreshold(5));
    comm.feed("d"); // three waiting now
    QCOMPARE(spy.count(), 1);
    comm.feed("ef");
    QCOMPARE(spy.count(), 2);
}

void TestSerialPort::closingDiscardsWaiting()
{
    test::FakeSerialControl comm;
    QVERIFY(comm.setPortOpen(true));
    comm.feed("stale");
    QVERIFY(comm.setPortOpen(false));
    QVERIFY(comm.setPortOpen(true));
    QCOMPARE(*comm.inBufferCount(), qint16(0));
}

// --- real serial ports on pseudo-terminals ---------------------------------------------------

static void mapCom(int port, const QString &device)
{
    qputenv(QByteArray("TARVIX_COM" + QByteArray::number(port)).constData(), device.toLocal8Bit());
}

void TestSerialPort::realPortOpensAtLineSettings()
{
    test::PseudoTerminal pty;
    QVERIFY(pty.isValid());
    mapCom(1, pty.slavePath());
    SystemSerialControl comm;
    QVERIFY2(comm.setPortOpen(true), qPrintable(comm.errorString()));
    QCOMPARE(comm.deviceName(), pty.slavePath());
    QCOMPARE(comm.settings(), QStringLiteral("1200,N,8,1"));
    QVERIFY(comm.setPortOpen(false));
    QVERIFY(!comm.portOpen());
}

void TestSerialPort::realPortMissingDeviceFails()
{
    mapCom(2, QStringLiteral("/dev/tarvix-no-such-device"));
    SystemSerialControl comm;
    QVERIFY(comm.setCommPort(2));
    QVERIFY(!comm.setPortOpen(true));
    QVERIFY(!comm.portOpen());
    QVERIFY2(comm.errorString().contains(QStringLiteral("/dev/tarvix-no-such-device")),
             qPrintable(comm.errorString()));
}

void TestSerialPort::realPortHeldByOtherDescriptorFails()
{
    test::PseudoTerminal pty;
    mapCom(1, pty.slavePath());
    SystemSerialControl first;
    QVERIFY2(first.setPortOpen(true), qPrintable(first.errorString()));
    SystemSerialControl second;
    QVERIFY(!second.setPortOpen(true));
    QVERIFY(!second.portOpen());
    // Busy, not forbidden: the reason does not send the user to the dialout group.
    QVERIFY2(!second.errorString().contains(QStringLiteral("dialout")),
             qPrintable(second.errorString()));
    QVERIFY(first.setPortOpen(false));
    QVERIFY2(second.setPortOpen(true), qPrintable(second.errorString())); // free again
}

void TestSerialPort::realPortReceivesBytesExactly()
{
    test::PseudoTerminal pty;
    mapCom(1, pty.slavePath());
    SystemSerialControl comm;
    QVERIFY(comm.setRThreshold(1));
    QVERIFY(comm.setPortOpen(true));
    QSignalSpy spy(&comm, &SerialControl::onComm);
    QByteArray all;
    for (int i = 0; i < 256; ++i)
        all.append(char(i));
    QVERIFY(pty.write(all));
    QTRY_COMPARE(*comm.inBufferCount(), qint16(256));
    QVERIFY(spy.count() >= 1);
    QCOMPARE(*comm.input(), all);
}

void TestSerialPort::realPortLostKeepsWhatArrived()
{
    test::PseudoTerminal pty;
    mapCom(1, pty.slavePath());
    SystemSerialControl comm;
    QVERIFY(comm.setPortOpen(true));
    QSignalSpy lost(&comm, &SerialControl::deviceLost);
    QVERIFY(pty.write("last words"));
    QTRY_COMPARE(*comm.inBufferCount(), qint16(10));
    pty.closeMaster();
    QTRY_COMPARE(lost.count(), 1);
    QVERIFY(!comm.portOpen());
    QCOMPARE(*comm.input(), QByteArray("last words"));
    QVERIFY(!comm.inBufferCount().has_value()); // closed and empty
    QTest::qWait(100);
    QCOMPARE(lost.count(), 1); // reported once, no storm of errors
}

QTEST_MAIN(TestSerialPort)
#include "tst_serial_port.moc"
