#include "platform/serial/port_lock.h"
#include "platform/serial/serial_port.h"
#include "support/fake_serial_control.h"
#include "support/file_bytes.h"
#include "support/pseudo_terminal.h"
#include "support/system_fixtures.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#ifdef Q_OS_WIN
#include <QWinEventNotifier>
#endif

#include <memory>

#include <atomic>
#include <cerrno>
#include <thread>

#ifndef Q_OS_WIN
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

// Under Wine the real ports are COM ports linked to pseudo-terminals (tests/windows): what
// belongs to Linux alone (lock files, flock, the terminal's exclusive mode, links to a device)
// is skipped there, with its reason.
#ifdef Q_OS_WIN
#define LINUX_ONLY(what) QSKIP(what " belong to Linux")
#else
#define LINUX_ONLY(what)
#endif

using namespace tvx;

class TestSerialPort : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void settingsParse_data();
    void settingsParse();
    void deviceMapping_data();
    void deviceMapping();
    void listedNumbers_data();
    void listedNumbers();
    void overrideDescribedAsItsTarget();
    void presentByEitherName_data();
    void presentByEitherName();
    void portNamedOnce_data();
    void portNamedOnce();
    void accessOnClosedPortFails();
    void commPortFixedWhileOpen();
    void countIsSixteenBit();
    void inputLenLimitsRead();
    void notificationFollowsThreshold();
    void closingDiscardsWaiting();
    void renumberOnlyForTheOpenDevice_data();
    void renumberOnlyForTheOpenDevice();
    void lockNoteOnlyWhileItHolds_data();
    void lockNoteOnlyWhileItHolds();

    void realPortOpensAtLineSettings_data();
    void realPortOpensAtLineSettings();
    void noDeviceBehindTheNumber_data();
    void noDeviceBehindTheNumber();
    void realPortMissingDeviceFails_data();
    void realPortMissingDeviceFails();
    void realPortHeldByOtherOpeningFails_data();
    void realPortHeldByOtherOpeningFails();
    void absentDeviceIsNoneInUse();
    void realPortRemovesItsLockBeforeLettingGo_data();
    void realPortRemovesItsLockBeforeLettingGo();
    void lostDeviceReason_data();
    void lostDeviceReason();
    void realPortReceivesBytesExactly();
    void realPortLostKeepsWhatArrived();
    void realPortClosingTakesTheLastBytes();
    void realPortCountTakesWhatTheDeviceHolds_data();
    void realPortCountTakesWhatTheDeviceHolds();
    void realPortWaitThatNeverEnds_data();
    void realPortWaitThatNeverEnds();
    void realPortFlockBothWays_data();
    void realPortFlockBothWays();
    void exclusiveModeOnlyWhileOpen_data();
    void exclusiveModeOnlyWhileOpen();
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

// Lists in the tables are written with commas.
static QStringList items(const QString &written)
{
    return written.split(QLatin1Char(','), Qt::SkipEmptyParts);
}

// The serial ports as the enumeration of a machine reports them, judged against a sysfs folder
// made for them. Each is "path|description|manufacturer" (the last two may be left out); its
// sysfs type is 4 (a 16550 UART), 0 for a path written "!path" (a stub), and there is no type
// at all for "?path".
static QList<SerialDevice> devices(const QString &written)
{
    QTemporaryDir sysfs;
    QList<ReportedPort> reported;
    for (QString item : items(written)) {
        const QChar mark = item.at(0);
        if (mark == QLatin1Char('!') || mark == QLatin1Char('?'))
            item.remove(0, 1);
        const QString path = item.section(QLatin1Char('|'), 0, 0);
        const QString name = QFileInfo(path).fileName();
        if (mark != QLatin1Char('?')) {
            QDir(sysfs.path()).mkdir(name);
            test::writeFile(sysfs.filePath(name + QStringLiteral("/type")),
                            mark == QLatin1Char('!') ? "0\n" : "4\n");
        }
        reported.append({name, path, item.section(QLatin1Char('|'), 1, 1),
                         item.section(QLatin1Char('|'), 2, 2)});
    }
    return serialPortsOf(reported, sysfs.path());
}

// Sets TARVIX_COM<n> for the duration of a test and unsets it again.
class Overrides {
public:
    explicit Overrides(const QString &settings)
    {
        for (const QString &setting : items(settings)) {
            const QByteArray name =
                PortMap::overrideVariable(setting.section(QLatin1Char('='), 0, 0).toShort())
                    .toLatin1();
            qputenv(name.constData(), setting.section(QLatin1Char('='), 1).toLocal8Bit());
            m_names.append(name);
        }
    }
    ~Overrides()
    {
        for (const QByteArray &name : m_names)
            qunsetenv(name.constData());
    }

private:
    QList<QByteArray> m_names;
};

// The enumeration as a user meets it: which device each number stands for, and what the
// system says of it.
void TestSerialPort::deviceMapping_data()
{
    QTest::addColumn<QString>("present");
    QTest::addColumn<QString>("overrides");
    QTest::addColumn<bool>("windows"); // Windows names the ports itself
    // COM-1 to COM6, each "path|description" ("path" when nothing is said), "-" for none.
    QTest::addColumn<QString>("expected");
    QTest::newRow("no serial port at all") << ""
                                           << "" << false << "-,-,-,-,-,-,-,-";
    QTest::newRow("built-in UARTs by number") << "/dev/ttyS1,/dev/ttyS0"
                                              << "" << false << "-,-,/dev/ttyS0,/dev/ttyS1,-,-,-,-";
    QTest::newRow("stubs left out, a port sysfs says nothing of kept")
        << "!/dev/ttyS0,!/dev/ttyS1,/dev/ttyS2,!/dev/ttyS3,?/dev/ttyUSB0"
        << "" << false << "-,-,/dev/ttyS2,/dev/ttyUSB0,-,-,-,-";
    QTest::newRow("built-in first, then adapters, natural order")
        << "/dev/ttyUSB10,/dev/ttyUSB2,/dev/ttyS10,/dev/ttyACM0,/dev/ttyS2,/dev/ttyAMA0"
        << "" << false
        << "-,-,/dev/ttyAMA0,/dev/ttyS2,/dev/ttyS10,/dev/ttyACM0,/dev/ttyUSB2,/dev/ttyUSB10";
    QTest::newRow("the product, else the manufacturer")
        << "/dev/ttyUSB0|FT232R USB UART|FTDI,/dev/ttyUSB1||Prolific,/dev/ttyS0||"
        << "" << false << "-,-,/dev/ttyS0,/dev/ttyUSB0|FT232R USB UART,/dev/ttyUSB1|Prolific,-,-,-";
    QTest::newRow("pseudo-terminals and consoles never")
        << "/dev/pts/3,/dev/ptmx,/dev/tty0,/dev/tty,/dev/console,/dev/ttyUSB0"
        << "" << false << "-,-,/dev/ttyUSB0,-,-,-,-,-";
    QTest::newRow("an override wins over the enumeration")
        << "/dev/ttyS0,/dev/ttyUSB0|Tarvix cable"
        << "1=/dev/pts/7" << false << "-,-,/dev/pts/7,/dev/ttyUSB0|Tarvix cable,-,-,-,-";
    QTest::newRow("overrides fill gaps") << "/dev/ttyUSB0"
                                         << "3=/tmp/instrument,6=/dev/ttyS0" << false
                                         << "-,-,/dev/ttyUSB0,-,/tmp/instrument,-,-,/dev/ttyS0";
    QTest::newRow("an override for COM0")
        << "/dev/ttyS0"
        << "0=/dev/pts/1" << false << "-,/dev/pts/1,/dev/ttyS0,-,-,-,-,-";
    QTest::newRow("Windows names") << "/dev/ttyUSB0|FT232R USB UART"
                                   << "" << true << "COM-1,COM0,COM1,COM2,COM3,COM4,COM5,COM6";
    QTest::newRow("Windows names, an override")
        << ""
        << "2=COM9" << true << "COM-1,COM0,COM1,COM9,COM3,COM4,COM5,COM6";
}

void TestSerialPort::deviceMapping()
{
    QFETCH(QString, present);
    QFETCH(QString, overrides);
    QFETCH(bool, windows);
    QFETCH(QString, expected);
    const Overrides set(overrides);
    const PortMap map(devices(present),
                      windows ? PortMap::Naming::Windows : PortMap::Naming::Enumerated);
    QStringList mapped;
    for (qint16 port = -1; port <= 6; ++port) {
        const std::optional<PortMap::Entry> entry = map.entry(port);
        QString shown = entry ? entry->path : QStringLiteral("-");
        if (entry && !entry->description.isEmpty())
            shown += QLatin1Char('|') + entry->description;
        mapped.append(shown);
        QCOMPARE(map.devicePath(port), entry ? entry->path : QString());
    }
    QCOMPARE(mapped.join(QLatin1Char(',')), expected);
}

void TestSerialPort::listedNumbers_data()
{
    QTest::addColumn<int>("present");
    QTest::addColumn<QString>("overrides");
    QTest::addColumn<QList<qint16>>("listed");
    QTest::newRow("none present") << 0 << "" << QList<qint16>{1, 2, 3, 4};
    QTest::newRow("four present") << 4 << "" << QList<qint16>{1, 2, 3, 4};
    QTest::newRow("five present") << 5 << "" << QList<qint16>{1, 2, 3, 4, 5};
    QTest::newRow("an override beyond")
        << 2 << "9=/dev/pts/2,3=/dev/pts/3" << QList<qint16>{1, 2, 3, 4, 9};
    QTest::newRow("an override for COM4, the last of four")
        << 0 << "4=/dev/pts/4" << QList<qint16>{1, 2, 3, 4};
    QTest::newRow("an override for COM5, the last present")
        << 5 << "5=/dev/pts/5,6=/dev/pts/6" << QList<qint16>{1, 2, 3, 4, 5, 6};
}

void TestSerialPort::listedNumbers()
{
    QFETCH(int, present);
    QFETCH(QString, overrides);
    QFETCH(QList<qint16>, listed);
    const Overrides set(overrides);
    QStringList ports;
    for (int n = 0; n < present; ++n)
        ports.append(QStringLiteral("/dev/ttyUSB%1").arg(n));
    QCOMPARE(
        PortMap(devices(ports.join(QLatin1Char(','))), PortMap::Naming::Enumerated).listedNumbers(),
        listed);
}

void TestSerialPort::overrideDescribedAsItsTarget()
{
    LINUX_ONLY("Stable names (links to a device)");
    // A stable name such as /dev/serial/by-id/usb-FTDI_...-port0 leads to the adapter's node.
    QTemporaryDir dir;
    const QString node = dir.filePath(QStringLiteral("ttyUSB0"));
    const QString stable = dir.filePath(QStringLiteral("usb-FTDI-port0"));
    QVERIFY(QFile(node).open(QIODevice::WriteOnly));
    QVERIFY(QFile::link(node, stable));
    const Overrides set(QStringLiteral("2=") + stable);
    QList<SerialDevice> present{{node, QStringLiteral("FT232R USB UART")}};
    const PortMap map(present, PortMap::Naming::Enumerated);
    const std::optional<PortMap::Entry> entry = map.entry(2);
    QVERIFY(entry);
    QCOMPARE(entry->path, stable);
    QCOMPARE(entry->description, QStringLiteral("FT232R USB UART"));
    QCOMPARE(entry->setBy, QStringLiteral("TARVIX_COM2"));
    QCOMPARE(map.entry(1)->setBy, QString());
}

// Whether a lost device is back: Windows lists its ports by their device names (\\.\COM3).
void TestSerialPort::presentByEitherName_data()
{
    QTest::addColumn<QString>("present");
    QTest::addColumn<QString>("device");
    QTest::addColumn<bool>("found");
    QTest::newRow("a COM port listed by its device name") << "\\\\.\\COM3"
                                                          << "COM3" << true;
    QTest::newRow("a COM port by its device name") << "\\\\.\\COM3"
                                                   << "\\\\.\\COM3" << true;
    QTest::newRow("COM3 is not COM30") << "\\\\.\\COM30"
                                       << "COM3" << false;
    QTest::newRow("another port") << "\\\\.\\COM3,\\\\.\\COM5"
                                  << "COM4" << false;
    QTest::newRow("a Linux device") << "/dev/ttyS0,/dev/ttyUSB0"
                                    << "/dev/ttyUSB0" << true;
    QTest::newRow("a Linux device gone") << "/dev/ttyS0"
                                         << "/dev/ttyUSB0" << false;
}

void TestSerialPort::presentByEitherName()
{
    QFETCH(QString, present);
    QFETCH(QString, device);
    QFETCH(bool, found);
    QList<SerialDevice> ports;
    for (const QString &path : items(present))
        ports.append({path, QString()});
    QCOMPARE(PortMap(ports, PortMap::Naming::Windows).isPresent(device), found);
}

// Messages name a port once when its device is the number's own.
void TestSerialPort::portNamedOnce_data()
{
    QTest::addColumn<int>("port");
    QTest::addColumn<QString>("device");
    QTest::addColumn<QString>("name");
    QTest::newRow("COM3 on COM3") << 3 << "COM3"
                                  << "COM3";
    QTest::newRow("COM3 mapped to COM9") << 3 << "COM9"
                                         << "COM3 (COM9)";
    QTest::newRow("COM3 on COM33") << 3 << "COM33"
                                   << "COM3 (COM33)";
    QTest::newRow("COM1 on a Linux device") << 1 << "/dev/ttyS0"
                                            << "COM1 (/dev/ttyS0)";
}

void TestSerialPort::portNamedOnce()
{
    QFETCH(int, port);
    QFETCH(QString, device);
    QFETCH(QString, name);
    test::FakeSerialControl comm;
    comm.setDeviceResolver([&](qint16) { return device; });
    QVERIFY(comm.setCommPort(qint16(port)));
    QVERIFY(comm.setPortOpen(true));
    QCOMPARE(comm.portName(), name);
    comm.loseDevice();
    QCOMPARE(comm.errorString(), name + QStringLiteral(": device removed"));
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

// Another number for the device that is open changes only how the port is named.
void TestSerialPort::renumberOnlyForTheOpenDevice_data()
{
    QTest::addColumn<bool>("open");
    QTest::addColumn<QString>("device");
    QTest::addColumn<bool>("renumbered");
    QTest::newRow("the open device") << true << "/dev/ttyS0" << true;
    QTest::newRow("another device") << true << "/dev/ttyS1" << false;
    QTest::newRow("a closed port") << false << "/dev/ttyS0" << false;
}

void TestSerialPort::renumberOnlyForTheOpenDevice()
{
    QFETCH(bool, open);
    QFETCH(QString, device);
    QFETCH(bool, renumbered);
    test::FakeSerialControl comm; // COM1 is /dev/ttyS0
    QVERIFY(comm.setPortOpen(true));
    comm.feed("waiting");
    if (!open)
        QVERIFY(comm.setPortOpen(false));
    QCOMPARE(comm.renumber(5, device), renumbered);
    QCOMPARE(comm.commPort(), qint16(renumbered ? 5 : 1));
    if (renumbered) {
        QCOMPARE(comm.portName(), QStringLiteral("COM5 (/dev/ttyS0)"));
        QCOMPARE(*comm.input(), QByteArray("waiting"));
    } else {
        QCOMPARE(comm.errorString(), QStringLiteral("COM5 does not stand for the open port"));
    }
}

// The word that no lock file could be written belongs to the opening that could not write one:
// gone with the port, and not carried over to the next opening, also after a lost device.
void TestSerialPort::lockNoteOnlyWhileItHolds_data()
{
    QTest::addColumn<QString>("end"); // how the first opening ends
    QTest::newRow("closed") << "close";
    QTest::newRow("device lost") << "lost";
}

void TestSerialPort::lockNoteOnlyWhileItHolds()
{
    QFETCH(QString, end);
    const QString note = QStringLiteral("no lock file can be written (/run/lock: Read-only file "
                                        "system)");
    test::FakeSerialControl comm;
    comm.setNoLockFile(note);
    QVERIFY(comm.setPortOpen(true));
    QCOMPARE(comm.lockNote(), note);
    if (end == QLatin1String("close")) {
        QVERIFY(comm.setPortOpen(false));
        QCOMPARE(comm.lockNote(), QString());
    } else {
        comm.loseDevice();
    }
    comm.setNoLockFile(QString()); // the lock folder is writable again
    QVERIFY(comm.setPortOpen(true));
    QCOMPARE(comm.lockNote(), QString());
}

// --- real serial ports on pseudo-terminals ---------------------------------------------------

static void mapCom(int port, const QString &device)
{
    qputenv(QByteArray("TARVIX_COM" + QByteArray::number(port)).constData(), device.toLocal8Bit());
}

void TestSerialPort::realPortOpensAtLineSettings_data()
{
    QTest::addColumn<QString>("settings");
    QTest::addColumn<QString>("refused"); // the reason, when the terminal cannot take them
    // A pseudo-terminal always reports 8 bits without parity, whatever it was given.
    QTest::newRow("the instrument's line") << "1200,N,8,1"
                                           << "";
    QTest::newRow("two stop bits") << "9600,N,8,2"
                                   << "";
    QTest::newRow("another speed") << "2400,N,8,1"
                                   << "";
    QTest::newRow("a speed no terminal has") << "1234,N,8,1"
                                             << "the speed 1234 is not supported";
}

void TestSerialPort::realPortOpensAtLineSettings()
{
    QFETCH(QString, settings);
    QFETCH(QString, refused);
#ifdef Q_OS_WIN
    if (!refused.isEmpty())
        QSKIP("A COM port's driver, not the program, decides which speeds it takes");
#endif
    test::PseudoTerminal pty;
    QVERIFY(pty.isValid());
    mapCom(1, pty.slavePath());
    SystemSerialControl comm;
    QVERIFY(comm.setSettings(settings));
    QCOMPARE(comm.setPortOpen(true), refused.isEmpty());
    if (!refused.isEmpty()) {
        QCOMPARE(comm.openFailure().reason, refused);
        return;
    }
    QCOMPARE(comm.deviceName(), pty.slavePath());
    QCOMPARE(pty.lineSettings(), settings);
    QVERIFY(comm.setPortOpen(false));
    QVERIFY(!comm.portOpen());
}

// A number with nothing behind it (the texts of the other failures are compared where the
// program prints them, in tst_port_reasons).
void TestSerialPort::noDeviceBehindTheNumber_data()
{
    QTest::addColumn<int>("port");
    QTest::newRow("COM9 on a machine with eight") << 9;
    QTest::newRow("COM0") << 0;
}

void TestSerialPort::noDeviceBehindTheNumber()
{
    QFETCH(int, port);
    test::FakeSerialControl comm; // a machine with COM1 to COM8
    QVERIFY(comm.setCommPort(qint16(port)));
    QVERIFY(!comm.setPortOpen(true));
    QVERIFY(!comm.portOpen());
    QCOMPARE(comm.errorString(),
             QStringLiteral("COM%1: no serial port stands behind this number (tarvix --ports lists "
                            "the ports)")
                 .arg(port));
    QCOMPARE(comm.openFailure().kind, SerialControl::OpenFailure::NoDevice);
}

void TestSerialPort::realPortMissingDeviceFails_data()
{
    QTest::addColumn<QString>("device"); // COM2 mapped to it; none: the number's own device
    QTest::addColumn<QString>("message");
#ifdef Q_OS_WIN
    // The number's own port is named once.
    QTest::newRow("no such port") << ""
                                  << "COM251: no such port";
    QTest::newRow("mapped to a port that is not there") << "COM250"
                                                        << "COM2 (COM250): no such port";
#else
    QTest::newRow("no such device") << "/dev/tarvix-no-such-device"
                                    << "COM2 (/dev/tarvix-no-such-device): No such file or "
                                       "directory";
    QTest::newRow("a plain file, not a terminal") << "{file}"
                                                  << "COM2 ({file}): Inappropriate ioctl for "
                                                     "device";
#endif
}

void TestSerialPort::realPortMissingDeviceFails()
{
    QFETCH(QString, device);
    QFETCH(QString, message);
    QTemporaryDir dir;
    if (device == QLatin1String("{file}")) {
        device = dir.filePath(QStringLiteral("readings.dat"));
        QVERIFY(test::writeFile(device, "not a serial port"));
        message.replace(QStringLiteral("{file}"), device);
    }
    SystemSerialControl comm;
    if (device.isEmpty()) {
        QVERIFY(comm.setCommPort(251));
    } else {
        mapCom(2, device);
        QVERIFY(comm.setCommPort(2));
    }
    QVERIFY(!comm.setPortOpen(true));
    QVERIFY(!comm.portOpen());
    QCOMPARE(comm.errorString(), message);
    QCOMPARE(comm.openFailure().kind, SerialControl::OpenFailure::Other);
    QVERIFY(!QFile::exists(QStringLiteral("/run/lock/") + lockFileName(device)));
}

// One device, one lock, whatever name each opening uses; root, whom the exclusive open of a
// terminal does not stop, is held off by the lock file.
void TestSerialPort::realPortHeldByOtherOpeningFails_data()
{
    QTest::addColumn<bool>("firstByLink");
    QTest::addColumn<bool>("secondByLink");
    QTest::newRow("by its name twice") << false << false;
#ifndef Q_OS_WIN
    QTest::newRow("by its name, then by a link") << false << true;
    QTest::newRow("by a link, then by its name") << true << false;
#endif
}

void TestSerialPort::realPortHeldByOtherOpeningFails()
{
    QFETCH(bool, firstByLink);
    QFETCH(bool, secondByLink);
    test::PseudoTerminal pty;
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("instrument"));
    QVERIFY(!(firstByLink || secondByLink) || QFile::link(pty.slavePath(), link));
    SystemSerialControl first;
    first.setDeviceResolver([&](qint16) { return firstByLink ? link : pty.slavePath(); });
    QVERIFY2(first.setPortOpen(true), qPrintable(first.errorString()));
#ifndef Q_OS_WIN
    // The lock file names the real device, as every program that locks serial ports names it.
    const QString lock = QStringLiteral("/run/lock/LCK..") +
                         pty.slavePath().mid(5).replace(QLatin1Char('/'), QLatin1Char('_'));
    QVERIFY2(QFileInfo::exists(lock), qPrintable(lock));
    // ... and, as another program given the link names it, under the link's name.
    const QString linkLock = QStringLiteral("/run/lock/LCK..instrument");
    QCOMPARE(QFileInfo::exists(linkLock), firstByLink);
#endif
    SystemSerialControl second;
    second.setDeviceResolver([&](qint16) { return secondByLink ? link : pty.slavePath(); });
    QVERIFY(!second.setPortOpen(true));
    QVERIFY(!second.portOpen());
    // Busy, not forbidden: the reason does not send the user to the dialout group.
    QCOMPARE(second.openFailure().kind, SerialControl::OpenFailure::Busy);
#ifdef Q_OS_WIN
    // Windows names no holder of a COM port; the program's own claim does.
    QCOMPARE(second.openFailure().reason,
             QStringLiteral("in use by tst_serial_port.exe (process %1)")
                 .arg(QCoreApplication::applicationPid()));
#endif
    QVERIFY(first.setPortOpen(false));
#ifndef Q_OS_WIN
    QVERIFY(!QFileInfo::exists(lock) && !QFileInfo::exists(linkLock));
#endif
    QVERIFY2(second.setPortOpen(true), qPrintable(second.errorString())); // free again
}

// A device that is not there is said to be missing, even where a living lock has its name.
void TestSerialPort::absentDeviceIsNoneInUse()
{
    LINUX_ONLY("Lock files");
    const QString name = QStringLiteral("tvx-absent-%1").arg(QCoreApplication::applicationPid());
    QFile lock(QStringLiteral("/run/lock/LCK..") + name);
    QVERIFY(lock.open(QIODevice::WriteOnly));
    lock.write(lockFileContent(QCoreApplication::applicationPid()));
    lock.close();
    SystemSerialControl comm;
    comm.setDeviceResolver([&](qint16) { return QStringLiteral("/nonexistent/") + name; });
    const bool opened = comm.setPortOpen(true);
    lock.remove();
    QVERIFY(!opened);
    QCOMPARE(comm.openFailure().reason, qt_error_string(ENOENT));
}

void TestSerialPort::lostDeviceReason_data()
{
    QTest::addColumn<QString>("system");
    QTest::addColumn<QString>("expected");
    const QString lost = QStringLiteral("the device was removed or hung up");
    // What a hang-up leaves behind, depending on the last system call before it. The Windows
    // half gives no words at all for the errors a vanished COM port gives.
    QTest::newRow("nothing") << "" << lost;
#ifndef Q_OS_WIN
    QTest::newRow("Input/output error") << "Input/output error" << lost;
    QTest::newRow("Inappropriate ioctl") << "Inappropriate ioctl for device" << lost;
    QTest::newRow("try again") << "Resource temporarily unavailable" << lost;
#endif
    QTest::newRow("Unknown error") << "Unknown error" << lost;
    QTest::newRow("words that tell something")
        << "Protocol error" << lost + QStringLiteral(" (Protocol error)");
}

void TestSerialPort::lostDeviceReason()
{
    QFETCH(QString, system);
    QFETCH(QString, expected);
    QCOMPARE(tvx::lostDeviceReason(system), expected);
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

// The lock file goes before the device is let go. A pseudo-terminal's name is free again once its
// last descriptor closes, and the next terminal made gets it at once: made and opened in that
// moment, it would be refused because of a lock that is about to go. A thread makes terminals
// all the while and looks for the lock of each it gets under the watched name.
void TestSerialPort::realPortRemovesItsLockBeforeLettingGo_data()
{
    QTest::addColumn<bool>("destroyed"); // the control goes while its port is open
    QTest::newRow("closed") << false;
    QTest::newRow("control destroyed while open") << true;
}

void TestSerialPort::realPortRemovesItsLockBeforeLettingGo()
{
    LINUX_ONLY("Lock files");
#ifndef Q_OS_WIN
    QFETCH(bool, destroyed);
    std::atomic<int> watched{-1};
    std::atomic<bool> done{false};
    std::atomic<int> refused{0};
    std::thread maker([&] {
        while (!done) {
            const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
            int index = -1;
            if (master >= 0 && ::ioctl(master, TIOCGPTN, &index) == 0 && index == watched) {
                const QByteArray lock = "/run/lock/LCK..pts_" + QByteArray::number(index);
                if (::access(lock.constData(), F_OK) == 0)
                    ++refused;
            }
            if (master >= 0)
                ::close(master);
        }
    });
    for (int round = 0; round < 40; ++round) {
        test::PseudoTerminal pty;
        auto comm = std::make_unique<SystemSerialControl>();
        comm->setDeviceResolver([&](qint16) { return pty.slavePath(); });
        QVERIFY2(comm->setPortOpen(true), qPrintable(comm->errorString()));
        watched = pty.slavePath().mid(QStringLiteral("/dev/pts/").size()).toInt();
        pty.closeMaster(); // the program's descriptor is the terminal's last
        if (destroyed)
            comm.reset();
        else
            QVERIFY(comm->setPortOpen(false));
        watched = -1;
        // Let go for good: no descriptor of this process leads to the terminal any more.
        const QDir fds(QStringLiteral("/proc/self/fd"));
        for (const QFileInfo &fd : fds.entryInfoList(QDir::System | QDir::NoDotAndDotDot))
            QVERIFY(!fd.symLinkTarget().startsWith(pty.slavePath() + QLatin1Char(' ')) &&
                    fd.symLinkTarget() != pty.slavePath());
    }
    done = true;
    maker.join();
    QCOMPARE(refused.load(), 0);
#endif
}

// Bytes that reached the terminal in the last moment before the port is closed (another port
// chosen mid-capture) are still handed to the reader that is told of the closing.
void TestSerialPort::realPortClosingTakesTheLastBytes()
{
    test::PseudoTerminal pty;
    mapCom(1, pty.slavePath());
    SystemSerialControl comm;
    QVERIFY(comm.setPortOpen(true));
    QByteArray taken;
    connect(&comm, &SerialControl::aboutToClose, this, [&] { taken = comm.input().value(); });
    QVERIFY(pty.write("last block"));
    QThread::msleep(100); // in the terminal, not yet read: no event runs meanwhile
    QVERIFY(comm.setPortOpen(false));
    QCOMPARE(taken, QByteArray("last block"));
}

// While notifications are off (a capture polls), the count takes what the terminal holds, late
// notifications or none; while they are on, it leaves the bytes to the notification they raise.
void TestSerialPort::realPortCountTakesWhatTheDeviceHolds_data()
{
    QTest::addColumn<qint16>("threshold");
    QTest::addColumn<qint16>("counted");
    QTest::newRow("notifications off") << qint16(0) << qint16(10);
    QTest::newRow("notifications on") << qint16(1) << qint16(0);
}

void TestSerialPort::realPortCountTakesWhatTheDeviceHolds()
{
    QFETCH(qint16, threshold);
    QFETCH(qint16, counted);
    test::PseudoTerminal pty;
    mapCom(1, pty.slavePath());
    SystemSerialControl comm;
    QVERIFY(comm.setPortOpen(true));
    QVERIFY(comm.setRThreshold(threshold));
    QSignalSpy notified(&comm, &SerialControl::onComm);
    QVERIFY(pty.write("ten bytes."));
    QThread::msleep(100); // in the terminal, not yet read: no event runs meanwhile
    QCOMPARE(comm.inBufferCount(), std::optional<qint16>(counted));
    if (threshold > 0)
        QVERIFY(notified.wait(5000));
    QCOMPARE(comm.input(), std::optional<QByteArray>("ten bytes."));
}

// Wine, on a loaded machine, now and then never ends a wait for received characters. The
// driver's queue is looked at all the same: characters still come, and a line that hangs up is
// still said lost.
void TestSerialPort::realPortWaitThatNeverEnds_data()
{
    QTest::addColumn<bool>("hangUp");
    QTest::newRow("characters come") << false;
    QTest::newRow("the line hangs up") << true;
}

void TestSerialPort::realPortWaitThatNeverEnds()
{
#ifndef Q_OS_WIN
    QSKIP("A wait for received characters is Windows's");
#else
    QFETCH(bool, hangUp);
    test::PseudoTerminal pty;
    mapCom(1, pty.slavePath());
    SystemSerialControl comm;
    QVERIFY(comm.setPortOpen(true));
    QVERIFY(comm.setRThreshold(1));
    // The wait's end is never heard of.
    auto *const waitEnd = comm.findChild<QWinEventNotifier *>();
    QVERIFY(waitEnd);
    waitEnd->setEnabled(false);
    QSignalSpy notified(&comm, &SerialControl::onComm);
    QSignalSpy lost(&comm, &SerialControl::deviceLost);
    QVERIFY(pty.write("ten bytes."));
    QVERIFY(notified.wait(2000));
    QCOMPARE(comm.input(), std::optional<QByteArray>("ten bytes."));
    if (hangUp) {
        pty.closeMaster();
        QVERIFY(lost.wait(2000));
        QVERIFY(!comm.portOpen());
    }
#endif
}

// A program that locks the device with flock() (picocom, say) and this one see each other. A
// stale lock file is replaced only by the one that gets the device.
void TestSerialPort::realPortFlockBothWays_data()
{
    QTest::addColumn<bool>("otherFirst");
    QTest::addColumn<bool>("staleLock"); // one naming a number beyond the system's range
    QTest::newRow("the other program holds it") << true << false;
    QTest::newRow("the other program holds it, a stale lock file beside") << true << true;
    QTest::newRow("this program holds it") << false << false;
    QTest::newRow("this program holds it, over a stale lock file") << false << true;
}

void TestSerialPort::realPortFlockBothWays()
{
    LINUX_ONLY("Locks with flock() and lock files");
#ifndef Q_OS_WIN
    QFETCH(bool, otherFirst);
    QFETCH(bool, staleLock);
    test::PseudoTerminal pty;
    mapCom(1, pty.slavePath());
    const QString lockPath = QStringLiteral("/run/lock/") + lockFileName(pty.slavePath());
    QVERIFY(!staleLock || test::writeFile(lockPath, lockFileContent(pidLimit())));
    const auto removeLock = qScopeGuard([&] { QFile::remove(lockPath); });
    const int other = ::open(QFile::encodeName(pty.slavePath()).constData(), O_RDWR | O_NOCTTY);
    QVERIFY(other >= 0);
    SystemSerialControl comm;
    if (otherFirst) {
        QCOMPARE(::flock(other, LOCK_EX | LOCK_NB), 0);
        QVERIFY(!comm.setPortOpen(true));
        QCOMPARE(comm.openFailure().kind, SerialControl::OpenFailure::Busy);
        QCOMPARE(comm.openFailure().reason,
                 QStringLiteral("in use by tst_serial_port (process %1), which holds a lock on "
                                "the device")
                     .arg(QCoreApplication::applicationPid()));
        // Nothing of the failed opening stays behind, and nothing of another's goes.
        QCOMPARE(test::fileContent(lockPath),
                 staleLock ? lockFileContent(pidLimit()) : QByteArray("<unreadable>"));
    } else {
        QVERIFY(comm.setPortOpen(true));
        QCOMPARE(::flock(other, LOCK_EX | LOCK_NB), -1);
        QCOMPARE(errno, EWOULDBLOCK);
        // The lock file in the form every serial program reads.
        QFile lock(QStringLiteral("/run/lock/") + lockFileName(pty.slavePath()));
        QVERIFY(lock.open(QIODevice::ReadOnly));
        QCOMPARE(lock.readAll(), lockFileContent(QCoreApplication::applicationPid()));
        QVERIFY(comm.setPortOpen(false));
        QCOMPARE(::flock(other, LOCK_EX | LOCK_NB), 0); // let go with the port
    }
    ::close(other);
#endif
}

// The exclusive mode keeps every user but root off the terminal while the port is open, and goes
// with the port however it closes: it belongs to the terminal, and would stay while another
// process keeps it open (here the test's own end, as socat or ser2net would).
void TestSerialPort::exclusiveModeOnlyWhileOpen_data()
{
    QTest::addColumn<QString>("after");   // open, closed, destroyed, refused (its line settings)
    QTest::addColumn<int>("userOpening"); // what an ordinary user's opening then gets
    QTest::newRow("while the port is open") << "open" << int(EBUSY);
    QTest::newRow("after the port closed") << "closed" << 0;
    QTest::newRow("after its control went with the port open") << "destroyed" << 0;
    QTest::newRow("after an opening refused for its line settings") << "refused" << 0;
}

void TestSerialPort::exclusiveModeOnlyWhileOpen()
{
    LINUX_ONLY("A terminal's exclusive mode and ordinary users");
#ifndef Q_OS_WIN
    QFETCH(QString, after);
    QFETCH(int, userOpening);
    test::PseudoTerminal pty;
    const QByteArray path = QFile::encodeName(pty.slavePath());
    QVERIFY(::geteuid() != 0 || ::chmod(path.constData(), 0666) == 0); // but for the mode
    auto comm = std::make_unique<SystemSerialControl>();
    comm->setDeviceResolver([&](qint16) { return pty.slavePath(); });
    QVERIFY(comm->setSettings(after == QLatin1String("refused") ? QStringLiteral("1234,N,8,1")
                                                                : QStringLiteral("1200,N,8,1")));
    QCOMPARE(comm->setPortOpen(true), after != QLatin1String("refused"));
    if (after == QLatin1String("closed"))
        QVERIFY(comm->setPortOpen(false));
    if (after == QLatin1String("destroyed"))
        comm.reset();
    test::OrdinaryUser user;
    if (!user.active())
        QSKIP("cannot run as an ordinary user here, whom the exclusive mode keeps out");
    const int fd = ::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    const int error = fd < 0 ? errno : 0;
    if (fd >= 0)
        ::close(fd);
    QCOMPARE(error, userOpening);
#endif
}

QTEST_MAIN(TestSerialPort)
#include "tst_serial_port.moc"
