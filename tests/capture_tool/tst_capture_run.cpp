// A run of tarvix-capture over the fake serial control: which port it opens, how captures
// follow each other, how it ends (written, wait ran out, device lost, interrupted, write
// failed) and what it says on standard error each time.

#include "capture_tool/capture_output.h"
#include "capture_tool/capture_run.h"
#include "capture_tool/status_line.h"
#include "expected_text.h"
#include "files/reading_file.h"
#include "support/fake_serial_control.h"
#include "support/file_bytes.h"
#include "support/pipes.h"
#include "support/system_fixtures.h"

#include <QDir>
#include <QElapsedTimer>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

using namespace tvx;
using test::fileContent;

namespace {

const int EndTimeout = 10000;

} // namespace

class TestCaptureRun : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void portChoice_data();
    void portChoice();
    void unusableConfig_data();
    void unusableConfig();
    void outputUnusableBeforeThePort();
    void captures_data();
    void captures();
    void waitHoldsForEachCapture();
    void transmissionJustBeforeTheWaitEnds();
    void deviceLostWhileWaiting();
    void liveLine();

private:
    CaptureRun &makeRun(const CaptureOptions &options,
                        StatusLine::Mode mode = StatusLine::Mode::Final);
    QStringList readingFiles() const;

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<test::FakeSerialControl> m_comm;
    std::unique_ptr<CaptureOutput> m_output;
    std::unique_ptr<StatusLine> m_line;
    std::unique_ptr<CaptureRun> m_run;
    QByteArray m_stderr;
};

void TestCaptureRun::initTestCase()
{
    // The port numbers the tests use stand for devices of their own.
    for (int port = 1; port <= 4; ++port)
        qputenv(QByteArray("TARVIX_COM" + QByteArray::number(port)).constData(),
                QByteArray("/dev/fake" + QByteArray::number(port)));
}

void TestCaptureRun::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(QDir::setCurrent(m_dir->path()));
    m_comm = std::make_unique<test::FakeSerialControl>();
    m_stderr.clear();
}

void TestCaptureRun::cleanup()
{
    m_run.reset();
    m_output.reset();
    m_line.reset();
    m_comm.reset();
}

CaptureRun &TestCaptureRun::makeRun(const CaptureOptions &options, StatusLine::Mode mode)
{
    m_output = std::make_unique<CaptureOutput>(options.output, options.outputPath);
    m_line =
        std::make_unique<StatusLine>(mode, [this](const QByteArray &bytes) { m_stderr += bytes; });
    m_run = std::make_unique<CaptureRun>(*m_comm, options, *m_output, *m_line);
    return *m_run;
}

QStringList TestCaptureRun::readingFiles() const
{
    return QDir().entryList({QStringLiteral("readings-*.dat")}, QDir::Files, QDir::Name);
}

// Which device the run opens, and how its lines name it.
void TestCaptureRun::portChoice_data()
{
    QTest::addColumn<QByteArray>("config"); // tvx.cfg, none when empty
    QTest::addColumn<QString>("device");    // --device
    QTest::addColumn<QString>("opened");    // {cwd}: the working folder
    QTest::addColumn<QString>("where");
    const auto row = [](const char *name, const char *config, const char *device,
                        const char *opened, const char *where) {
        QTest::newRow(name) << QByteArray(config) << QString::fromUtf8(device)
                            << QString::fromUtf8(opened) << QString::fromUtf8(where);
    };
    row("no tvx.cfg: COM1", "", "", "/dev/fake1", "COM1 (/dev/fake1)");
    row("--device over tvx.cfg", "3\r\n", "/dev/ttyUSB7", "/dev/ttyUSB7", "/dev/ttyUSB7");
    row("--device over a tvx.cfg without a number", "abc\r\n", "/dev/ttyUSB7", "/dev/ttyUSB7",
        "/dev/ttyUSB7");
    row("--device, a name not here", "", "ttyUSB0", "/dev/ttyUSB0", "ttyUSB0");
    row("--device, a name here", "", "mylink", "{cwd}/mylink", "mylink");
    row("--device, a relative path", "", "sub/tty", "{cwd}/sub/tty", "sub/tty");
}

void TestCaptureRun::portChoice()
{
    QFETCH(QByteArray, config);
    QFETCH(QString, device);
    QFETCH(QString, opened);
    QFETCH(QString, where);
    if (!config.isEmpty())
        QVERIFY(test::writeFile(QStringLiteral("tvx.cfg"), config));
    QVERIFY(test::writeFile(QStringLiteral("mylink"), ""));
    CaptureOptions options;
    options.device = device;
    CaptureRun &run = makeRun(options, StatusLine::Mode::Live);
    run.start();
    QVERIFY(!run.isOver());
    // The port-opening procedure: the line settings and the receive threshold, nothing else.
    QCOMPARE(m_comm->openedDevice(), opened.replace(QStringLiteral("{cwd}"), QDir::currentPath()));
    QCOMPARE(m_comm->openedSettings().toString(), QStringLiteral("1200,N,8,1"));
    QCOMPARE(m_comm->rThreshold(), qint16(1));
    QCOMPARE(QString::fromUtf8(m_stderr),
             QStringLiteral("\r\x1b[K%1: waiting for a transmission").arg(where));
    run.interrupt();
    QCOMPARE(run.status(), int(AllWritten));
}

// A tvx.cfg that gives no port number is refused as the desktop program refuses it, before any
// port opens and without waiting on it; --port still opens its port.
void TestCaptureRun::unusableConfig_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QByteArray>("content");
    QTest::newRow("words") << "file" << QByteArray("abc\r\n");
    QTest::newRow("empty") << "file" << QByteArray();
    QTest::newRow("a number out of range") << "file" << QByteArray("99999\r\n");
    QTest::newRow("unreadable") << "unreadable" << QByteArray("2\r\n\r\n");
    QTest::newRow("a folder") << "folder" << QByteArray();
    QTest::newRow("a named pipe") << "pipe" << QByteArray("2\r\n\r\n");
    QTest::newRow("a link that leads nowhere") << "link" << QByteArray();
}

void TestCaptureRun::unusableConfig()
{
    QFETCH(QString, kind);
    QFETCH(QByteArray, content);
    const QString config = QStringLiteral("tvx.cfg");
    QVERIFY(::chmod(".", 0777) == 0); // the ordinary user's, for the captures
    int pipe = -1;
    if (kind == QLatin1String("folder"))
        QVERIFY(QDir().mkdir(config));
    else if (kind == QLatin1String("pipe"))
        QVERIFY((pipe = test::makeFullNamedPipe(config, content)) >= 0);
    else if (kind == QLatin1String("link"))
        QVERIFY(QFile::link(QStringLiteral("nowhere.cfg"), config));
    else
        QVERIFY(test::writeFile(config, content) &&
                ::chmod("tvx.cfg", kind == QLatin1String("file") ? 0644 : 0) == 0);
    const auto closePipe = qScopeGuard([pipe] { ::close(pipe); });

    test::OrdinaryUser user;
    if (!user.active())
        QSKIP("cannot run as an ordinary user here, and root reads every file");
    CaptureRun &run = makeRun(CaptureOptions());
    run.start();
    QVERIFY(run.isOver());
    QCOMPARE(run.status(), int(PortNotOpened));
    QCOMPARE(m_comm->openCount(), 0);
    QCOMPARE(QString::fromUtf8(m_stderr),
             QStringLiteral("tarvix-capture: tvx.cfg: no usable port number\n"));

    CaptureOptions port;
    port.port = 2;
    makeRun(port).start();
    QCOMPARE(m_comm->openedDevice(), QStringLiteral("/dev/fake2"));
}

void TestCaptureRun::outputUnusableBeforeThePort()
{
    CaptureOptions options;
    options.outputPath = QStringLiteral("missing");
    CaptureRun &run = makeRun(options);
    QCOMPARE(run.exec(), int(WriteFailed));
    QCOMPARE(m_comm->openCount(), 0);
    QCOMPARE(QString::fromUtf8(m_stderr),
             QStringLiteral("tarvix-capture: cannot write to missing: there is no such folder\n"));
}

// Captures follow each other until the count is reached or, with 0, until interrupted.
void TestCaptureRun::captures_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<QString>("lines");

    QTest::newRow("two of three, then interrupted")
        << 3
        << "[1/3] COM1 (/dev/fake1): 41 bytes in {s} s, written to {file}\n"
           "[2/3] COM1 (/dev/fake1): 42 bytes in {s} s, written to {file}\n";
    QTest::newRow("until interrupted")
        << 0
        << "[1] COM1 (/dev/fake1): 41 bytes in {s} s, written to {file}\n"
           "[2] COM1 (/dev/fake1): 42 bytes in {s} s, written to {file}\n";
}

void TestCaptureRun::captures()
{
    QFETCH(int, count);
    QFETCH(QString, lines);
    CaptureOptions options;
    options.count = count;
    CaptureRun &run = makeRun(options);
    QSignalSpy written(&run, &CaptureRun::written);
    run.start();
    QList<QByteArray> sent;
    QList<QStringList> startNames; // the names a capture that began at its first byte takes
    for (int i = 1; i <= 2; ++i) {
        sent << QByteArray(40 + i, char('0' + i));
        const QDateTime before = QDateTime::currentDateTime();
        m_comm->feed(sent.last());
        startNames << QStringList{CaptureOutput::readingFileName(before),
                                  CaptureOutput::readingFileName(QDateTime::currentDateTime())};
        QTRY_COMPARE_WITH_TIMEOUT(written.count(), i, EndTimeout);
    }
    QVERIFY(!run.isOver());
    run.interrupt();
    QCOMPARE(run.status(), int(AllWritten));
    QVERIFY(!m_comm->portOpen()); // released at once, with its lock
    COMPARE_TEMPLATE(QString::fromUtf8(m_stderr), lines);
    // Each capture is its own file, named by its start; the names sort as the captures came.
    const QStringList names = readingFiles();
    QCOMPARE(names.size(), 2);
    for (int i = 0; i < 2; ++i) {
        // Named by its start, not its end 1.3 s later.
        QVERIFY2(startNames.at(i).contains(names.at(i)), qPrintable(names.at(i)));
        QCOMPARE(written.at(i).at(0).toString(), names.at(i));
        QCOMPARE(fileContent(names.at(i)), readingfile::format(sent.at(i)));
    }
}

// After the first capture the second did not come in time: the wait holds for each capture.
void TestCaptureRun::waitHoldsForEachCapture()
{
    CaptureOptions options;
    options.count = 2;
    options.waitMs = 400;
    options.waitText = QStringLiteral("0.4");
    CaptureRun &run = makeRun(options);
    QSignalSpy written(&run, &CaptureRun::written);
    // Timed from when the capture is written, before the run starts its wait for the next one,
    // to the run's end, not to when the test gets to look: a wait a millisecond short shows.
    QElapsedTimer clock;
    qint64 waitedNs = 0;
    connect(&run, &CaptureRun::written, this, [&clock] { clock.start(); });
    connect(&run, &CaptureRun::finished, this, [&] { waitedNs = clock.nsecsElapsed(); });
    run.start();
    QTest::qWait(300);
    m_comm->feed("only one");
    QTRY_COMPARE_WITH_TIMEOUT(written.count(), 1, EndTimeout);
    QTRY_VERIFY_WITH_TIMEOUT(run.isOver(), EndTimeout);
    QVERIFY2(waitedNs >= 400'000'000, qPrintable(QString::number(waitedNs)));
    QCOMPARE(run.status(), int(NothingReceived));
    COMPARE_TEMPLATE(QString::fromUtf8(m_stderr),
                     QStringLiteral("[1/2] COM1 (/dev/fake1): 8 bytes in {s} s, written to {file}\n"
                                    "tarvix-capture: no transmission started within 0.4 s\n"));
}

// A transmission that starts within the wait is captured whole, however long it lasts.
void TestCaptureRun::transmissionJustBeforeTheWaitEnds()
{
    CaptureOptions options;
    options.waitMs = 300;
    options.waitText = QStringLiteral("0.3");
    CaptureRun &run = makeRun(options);
    run.start();
    QTest::qWait(200);
    QByteArray sent;
    for (int i = 0; i < 8; ++i) { // 800 ms of transmission, well past the wait
        const QByteArray block(20, char('a' + i));
        m_comm->feed(block);
        sent += block;
        QTest::qWait(100);
    }
    QTRY_VERIFY_WITH_TIMEOUT(run.isOver(), EndTimeout);
    QCOMPARE(run.status(), int(AllWritten));
    QCOMPARE(readingFiles().size(), 1);
    QCOMPARE(fileContent(readingFiles().constFirst()), readingfile::format(sent));
}

void TestCaptureRun::deviceLostWhileWaiting()
{
    CaptureRun &run = makeRun(CaptureOptions());
    run.start();
    m_comm->loseDevice();
    QVERIFY(run.isOver());
    QCOMPARE(run.status(), int(Incomplete));
    QCOMPARE(QString::fromUtf8(m_stderr),
             QStringLiteral("tarvix-capture: COM1 (/dev/fake1): device removed\n"
                            "tarvix-capture: the device was lost before a transmission started\n"));
    QVERIFY(readingFiles().isEmpty());
}

// On a terminal the line counts, from the first byte, the bytes still waiting in the port too,
// and the time moves on with the flash of the notice while nothing else happens.
void TestCaptureRun::liveLine()
{
    CaptureRun &run = makeRun(CaptureOptions(), StatusLine::Mode::Live);
    run.start();
    m_stderr.clear();
    m_comm->feed("12345");
    QCOMPARE(QString::fromUtf8(m_stderr),
             QStringLiteral("\r\x1b[KCOM1 (/dev/fake1): receiving, 5 bytes in 0.0 s"));
    const QRegularExpression later(QStringLiteral("receiving, 5 bytes in (0\\.[4-9]|1\\.\\d) s$"));
    QTRY_VERIFY_WITH_TIMEOUT(later.match(QString::fromUtf8(m_stderr)).hasMatch(), 2000);
    // An error ends the open line first, so that both stay readable.
    m_comm->loseDevice();
    QVERIFY2(m_stderr.contains(" s\ntarvix-capture: COM1 (/dev/fake1): device removed\n"),
             m_stderr.constData());
    run.interrupt();
}

QTEST_GUILESS_MAIN(TestCaptureRun)
#include "tst_capture_run.moc"
