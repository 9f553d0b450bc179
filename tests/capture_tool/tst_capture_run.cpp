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

#include <QDir>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

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
    void portDoesNotOpen();
    void outputUnusableBeforeThePort();
    void captures_data();
    void captures();
    void waitRunsOut_data();
    void waitRunsOut();
    void transmissionJustBeforeTheWaitEnds();
    void interrupt_data();
    void interrupt();
    void deviceLostWhileWaiting();
    void deviceLostMidCapture();
    void writeFails();
    void liveLine();
    void quietShowsOnlyErrors();

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

void TestCaptureRun::portChoice_data()
{
    QTest::addColumn<QByteArray>("config"); // tvx.cfg, none when empty
    QTest::addColumn<int>("port");          // --port, none when 0
    QTest::addColumn<QString>("device");    // --device
    QTest::addColumn<QString>("opened");
    QTest::addColumn<QString>("where");

    QTest::newRow("no tvx.cfg: COM1") << QByteArray() << 0 << QString() << "/dev/fake1"
                                      << "COM1 (/dev/fake1)";
    QTest::newRow("tvx.cfg") << QByteArray("3\r\n\r\n") << 0 << QString() << "/dev/fake3"
                             << "COM3 (/dev/fake3)";
    QTest::newRow("tvx.cfg without a number: COM1")
        << QByteArray("abc\r\n") << 0 << QString() << "/dev/fake1"
        << "COM1 (/dev/fake1)";
    QTest::newRow("--port over tvx.cfg")
        << QByteArray("3\r\n\r\n") << 2 << QString() << "/dev/fake2"
        << "COM2 (/dev/fake2)";
    QTest::newRow("--device") << QByteArray("3\r\n\r\n") << 0 << "/dev/ttyUSB7"
                              << "/dev/ttyUSB7"
                              << "/dev/ttyUSB7";
}

void TestCaptureRun::portChoice()
{
    QFETCH(QByteArray, config);
    QFETCH(int, port);
    QFETCH(QString, device);
    QFETCH(QString, opened);
    QFETCH(QString, where);
    if (!config.isEmpty())
        QVERIFY(test::writeFile(QStringLiteral("tvx.cfg"), config));
    CaptureOptions options;
    if (port)
        options.port = qint16(port);
    options.device = device;
    CaptureRun &run = makeRun(options, StatusLine::Mode::Live);
    run.start();
    QVERIFY(!run.isOver());
    // The port-opening procedure: the line settings and the receive threshold, nothing else.
    QCOMPARE(m_comm->openedDevice(), opened);
    QCOMPARE(m_comm->openedSettings().toString(), QStringLiteral("1200,N,8,1"));
    QCOMPARE(m_comm->rThreshold(), qint16(1));
    QCOMPARE(m_comm->openCount(), 1);
    QCOMPARE(QString::fromUtf8(m_stderr),
             QStringLiteral("\r\x1b[K%1: waiting for a transmission").arg(where));
    run.interrupt();
    QVERIFY(!m_comm->portOpen()); // released at once, with its lock
}

void TestCaptureRun::portDoesNotOpen()
{
    m_comm->setUnavailable(QStringLiteral("/dev/fake1"));
    CaptureRun &run = makeRun(CaptureOptions());
    QSignalSpy finished(&run, &CaptureRun::finished);
    QCOMPARE(run.exec(), int(PortNotOpened));
    QCOMPARE(finished.count(), 1);
    QCOMPARE(QString::fromUtf8(m_stderr),
             QStringLiteral("tarvix-capture: COM1 (/dev/fake1): Device or resource busy\n"));
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

void TestCaptureRun::captures_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("transmissions"); // sent one after another, each once the last is written
    QTest::addColumn<int>("files");
    QTest::addColumn<bool>("over");
    QTest::addColumn<QString>("lines");

    QTest::newRow("one") << 1 << 1 << 1 << true
                         << "COM1 (/dev/fake1): 41 bytes in {s} s, written to {file}\n";
    QTest::newRow("two of two")
        << 2 << 2 << 2 << true
        << "[1/2] COM1 (/dev/fake1): 41 bytes in {s} s, written to {file}\n"
           "[2/2] COM1 (/dev/fake1): 42 bytes in {s} s, written to {file}\n";
    QTest::newRow("two of three: still waiting")
        << 3 << 2 << 2 << false
        << "[1/3] COM1 (/dev/fake1): 41 bytes in {s} s, written to {file}\n"
           "[2/3] COM1 (/dev/fake1): 42 bytes in {s} s, written to {file}\n";
    QTest::newRow("until interrupted")
        << 0 << 2 << 2 << false
        << "[1] COM1 (/dev/fake1): 41 bytes in {s} s, written to {file}\n"
           "[2] COM1 (/dev/fake1): 42 bytes in {s} s, written to {file}\n";
}

void TestCaptureRun::captures()
{
    QFETCH(int, count);
    QFETCH(int, transmissions);
    QFETCH(int, files);
    QFETCH(bool, over);
    QFETCH(QString, lines);
    CaptureOptions options;
    options.count = count;
    CaptureRun &run = makeRun(options);
    QSignalSpy written(&run, &CaptureRun::written);
    run.start();
    QList<QByteArray> sent;
    for (int i = 1; i <= transmissions; ++i) {
        sent << QByteArray(40 + i, char('0' + i));
        m_comm->feed(sent.last());
        QTRY_COMPARE_WITH_TIMEOUT(written.count(), i, EndTimeout);
    }
    QCOMPARE(run.isOver(), over);
    if (over)
        QCOMPARE(run.status(), int(AllWritten));
    COMPARE_TEMPLATE(QString::fromUtf8(m_stderr), lines);
    // Each capture is its own file, named by its start; the names sort as the captures came.
    const QStringList names = readingFiles();
    QCOMPARE(names.size(), files);
    for (int i = 0; i < files; ++i) {
        QCOMPARE(written.at(i).at(0).toString(), names.at(i));
        QCOMPARE(fileContent(names.at(i)), readingfile::format(sent.at(i)));
    }
}

void TestCaptureRun::waitRunsOut_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("transmissions");

    QTest::newRow("no transmission at all") << 1 << 0;
    // The wait holds for each capture: after the first, the second did not come in time.
    QTest::newRow("the second does not come") << 2 << 1;
}

void TestCaptureRun::waitRunsOut()
{
    QFETCH(int, count);
    QFETCH(int, transmissions);
    CaptureOptions options;
    options.count = count;
    options.waitMs = 400;
    options.waitText = QStringLiteral("0.4");
    CaptureRun &run = makeRun(options);
    QSignalSpy written(&run, &CaptureRun::written);
    run.start();
    if (transmissions) {
        m_comm->feed("only one");
        QTRY_COMPARE_WITH_TIMEOUT(written.count(), 1, EndTimeout);
    }
    QElapsedTimer waited;
    waited.start();
    QTRY_VERIFY_WITH_TIMEOUT(run.isOver(), EndTimeout);
    QVERIFY2(waited.elapsed() >= 399, qPrintable(QString::number(waited.elapsed())));
    QCOMPARE(run.status(), int(NothingReceived));
    QCOMPARE(readingFiles().size(), transmissions);
    COMPARE_TEMPLATE(QString::fromUtf8(m_stderr),
                     QString(transmissions ? QStringLiteral("[1/2] COM1 (/dev/fake1): 8 bytes in "
                                                            "{s} s, written to {file}\n")
                                           : QString()) +
                         QStringLiteral("tarvix-capture: no transmission started within 0.4 s\n"));
    QVERIFY(!m_comm->portOpen());
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

void TestCaptureRun::interrupt_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<QByteArray>("before"); // written captures before the interruption
    QTest::addColumn<QByteArray>("midway"); // bytes of a capture under way, "" while waiting
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("lines");

    QTest::newRow("while waiting")
        << 1 << QByteArray() << QByteArray() << int(AllWritten) << QString();
    QTest::newRow("between captures")
        << 2 << QByteArray(50, 'b') << QByteArray() << int(AllWritten)
        << "[1/2] COM1 (/dev/fake1): 50 bytes in {s} s, written to {file}\n";
    // 40 bytes taken as a block, 5 still waiting in the port: all of them are kept.
    QTest::newRow("mid-capture")
        << 1 << QByteArray() << QByteArray(40, 'm') + "tail." << int(Incomplete)
        << "tarvix-capture: interrupted in the middle of a capture: the 45 bytes received are "
           "written to {file}, incomplete\n";
}

void TestCaptureRun::interrupt()
{
    QFETCH(int, count);
    QFETCH(QByteArray, before);
    QFETCH(QByteArray, midway);
    QFETCH(int, status);
    QFETCH(QString, lines);
    CaptureOptions options;
    options.count = count;
    CaptureRun &run = makeRun(options);
    QSignalSpy written(&run, &CaptureRun::written);
    QSignalSpy finished(&run, &CaptureRun::finished);
    run.start();
    if (!before.isEmpty()) {
        m_comm->feed(before);
        QTRY_COMPARE_WITH_TIMEOUT(written.count(), 1, EndTimeout);
    }
    if (!midway.isEmpty()) {
        m_comm->feed(midway.left(40));
        m_comm->feed(midway.mid(40));
    }
    run.interrupt();
    QVERIFY(run.isOver());
    run.interrupt(); // a second request changes nothing
    QCOMPARE(finished.count(), 1);
    QCOMPARE(run.status(), status);
    COMPARE_TEMPLATE(QString::fromUtf8(m_stderr), lines);
    QStringList expected;
    if (!before.isEmpty())
        expected << QString::fromLatin1(readingfile::format(before));
    if (!midway.isEmpty())
        expected << QString::fromLatin1(readingfile::format(midway));
    QStringList found;
    for (const QString &name : readingFiles())
        found << QString::fromLatin1(fileContent(name));
    QCOMPARE(found, expected);
    QVERIFY(!m_comm->portOpen());
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

void TestCaptureRun::deviceLostMidCapture()
{
    CaptureOptions options;
    options.count = 3;
    CaptureRun &run = makeRun(options);
    run.start();
    m_comm->feed(QByteArray(40, 'k'));
    m_comm->feed("tail");
    m_comm->loseDevice();
    QTRY_VERIFY_WITH_TIMEOUT(run.isOver(), EndTimeout);
    QCOMPARE(run.status(), int(Incomplete));
    COMPARE_TEMPLATE(QString::fromUtf8(m_stderr),
                     QStringLiteral("tarvix-capture: COM1 (/dev/fake1): device removed\n"
                                    "tarvix-capture: the device was lost in the middle of a "
                                    "capture: the 44 bytes received are written to {file}, "
                                    "incomplete\n"));
    QCOMPARE(readingFiles().size(), 1);
    QCOMPARE(fileContent(readingFiles().constFirst()), QByteArray(40, 'k') + "tail\r\n");
}

void TestCaptureRun::writeFails()
{
    QVERIFY(QDir().mkdir(QStringLiteral("out")));
    CaptureOptions options;
    options.outputPath = QStringLiteral("out");
    options.count = 2;
    CaptureRun &run = makeRun(options);
    run.start();
    QVERIFY(QDir().rmdir(QStringLiteral("out"))); // the stick was pulled
    m_comm->feed("reading");
    QTRY_VERIFY_WITH_TIMEOUT(run.isOver(), EndTimeout);
    QCOMPARE(run.status(), int(WriteFailed));
    COMPARE_TEMPLATE(QString::fromUtf8(m_stderr),
                     QStringLiteral("tarvix-capture: cannot write out/{file}: No such file or "
                                    "directory\n"));
}

// On a terminal: waiting, then the bytes received so far (those waiting in the port included)
// and the time, then where the capture went, all on one line.
void TestCaptureRun::liveLine()
{
    CaptureRun &run = makeRun(CaptureOptions(), StatusLine::Mode::Live);
    run.start();
    QCOMPARE(QString::fromUtf8(m_stderr),
             QStringLiteral("\r\x1b[KCOM1 (/dev/fake1): waiting for a transmission"));
    m_stderr.clear();
    m_comm->feed("12345");
    QCOMPARE(QString::fromUtf8(m_stderr),
             QStringLiteral("\r\x1b[KCOM1 (/dev/fake1): receiving, 5 bytes in 0.0 s"));
    m_stderr.clear();
    m_comm->feed(QByteArray(40, 'x'));
    // The flash of the notice moves the time on every 450 ms while nothing else happens.
    const QRegularExpression later(QStringLiteral("receiving, 45 bytes in (0\\.[4-9]|1\\.\\d) s"));
    QTRY_VERIFY_WITH_TIMEOUT(later.match(QString::fromUtf8(m_stderr)).hasMatch(), 2000);
    QTRY_VERIFY_WITH_TIMEOUT(run.isOver(), EndTimeout);
    const QList<QByteArray> updates = m_stderr.split('\r');
    COMPARE_TEMPLATE(QString::fromUtf8(updates.last()),
                     QStringLiteral("\x1b[KCOM1 (/dev/fake1): 45 bytes in {s} s, written to "
                                    "{file}\n"));
    for (const QByteArray &update : updates.mid(1, updates.size() - 2))
        COMPARE_TEMPLATE(QString::fromUtf8(update),
                         QStringLiteral("\x1b[KCOM1 (/dev/fake1): receiving, 45 bytes in {s} s"));
}

void TestCaptureRun::quietShowsOnlyErrors()
{
    CaptureRun &run = makeRun(CaptureOptions(), StatusLine::Mode::Quiet);
    run.start();
    m_comm->feed(QByteArray(40, 'q'));
    m_comm->loseDevice();
    QTRY_VERIFY_WITH_TIMEOUT(run.isOver(), EndTimeout);
    COMPARE_TEMPLATE(QString::fromUtf8(m_stderr),
                     QStringLiteral("tarvix-capture: COM1 (/dev/fake1): device removed\n"
                                    "tarvix-capture: the device was lost in the middle of a "
                                    "capture: the 40 bytes received are written to {file}, "
                                    "incomplete\n"));
}

QTEST_GUILESS_MAIN(TestCaptureRun)
#include "tst_capture_run.moc"
