// A run of tarvix-capture over the fake serial control: which port it opens, how captures
// follow each other, how it ends (written, wait ran out, device lost, interrupted, write
// failed), how captures wait for room on a full disk, and what it says on standard error each
// time.

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

// The output on a disk that may be full: while it is, every write finds no room.
class FullDisk : public CaptureOutput {
public:
    using CaptureOutput::CaptureOutput;
    Result write(const QByteArray &bytes, const QDateTime &startedAt) override
    {
        ++tries;
        Result full;
        full.noRoom = true;
        full.reason = QStringLiteral("cannot write %1: No space left on device").arg(path());
        return isFull ? full : CaptureOutput::write(bytes, startedAt);
    }
    bool isFull = false;
    int tries = 0;
};

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
    void waitsForRoom_data();
    void waitsForRoom();
    void endsWhileWaiting_data();
    void endsWhileWaiting();
    void limitOfWhatWaits_data();
    void limitOfWhatWaits();

private:
    CaptureRun &makeRun(const CaptureOptions &options,
                        StatusLine::Mode mode = StatusLine::Mode::Final);
    QStringList readingFiles() const;
    static QList<QByteArray> readingsIn(const QString &folder, QList<QByteArray> *expected);
    QString journal() const { return m_dir->filePath(QStringLiteral("state/tarvix/captures")); }
    bool feedWhileFull(CaptureRun &run, int captures, QList<QByteArray> *sent);

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<test::FakeSerialControl> m_comm;
    std::unique_ptr<FullDisk> m_output;
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
    // The journal of what could not be written, not the user's own.
    qputenv("XDG_STATE_HOME", QFile::encodeName(m_dir->filePath(QStringLiteral("state"))));
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
    m_output = std::make_unique<FullDisk>(options.output, options.outputPath);
    m_line =
        std::make_unique<StatusLine>(mode, [this](const QByteArray &bytes) { m_stderr += bytes; });
    m_run = std::make_unique<CaptureRun>(*m_comm, options, *m_output, *m_line);
    return *m_run;
}

QStringList TestCaptureRun::readingFiles() const
{
    return QDir().entryList({QStringLiteral("readings-*.dat")}, QDir::Files, QDir::Name);
}

// The contents of the folder's reading files, oldest first; expected becomes the reading files
// of its texts.
QList<QByteArray> TestCaptureRun::readingsIn(const QString &folder, QList<QByteArray> *expected)
{
    for (QByteArray &text : *expected)
        text = readingfile::format(text);
    QList<QByteArray> found;
    for (const QString &name :
         QDir(folder).entryList({QStringLiteral("readings-*.dat")}, QDir::Files, QDir::Name))
        found << fileContent(folder + QLatin1Char('/') + name);
    return found;
}

// Captures of 41, 42, ... bytes taken one after another while the disk is full; false when one
// is not taken.
bool TestCaptureRun::feedWhileFull(CaptureRun &run, int captures, QList<QByteArray> *sent)
{
    m_output->isFull = true;
    for (int i = 1; i <= captures; ++i) {
        const int before = run.taken();
        sent->append(QByteArray(40 + i, char('0' + i)));
        m_comm->feed(sent->last());
        // A capture lasts more than a second: the next one is named by a later second.
        if (!QTest::qWaitFor([&] { return run.taken() == before + 1; }, EndTimeout))
            return false;
    }
    return true;
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
    QTest::addColumn<QString>("why"); // after "tvx.cfg: no usable port number: "
    QTest::newRow("words") << "file" << QByteArray("abc\r\n") << "\"abc\" is not a port number";
    QTest::newRow("empty") << "file" << QByteArray() << "the file is empty";
    QTest::newRow("a number out of range")
        << "file" << QByteArray("99999\r\n") << "\"99999\" is not a port number";
    QTest::newRow("unreadable") << "unreadable" << QByteArray("2\r\n\r\n") << "Permission denied";
    QTest::newRow("a folder") << "folder" << QByteArray() << "a folder, not a file";
    QTest::newRow("a named pipe") << "pipe" << QByteArray("2\r\n\r\n") << "not a regular file";
    QTest::newRow("a link that leads nowhere")
        << "link" << QByteArray() << "a symbolic link to {cwd}/nowhere.cfg, which does not exist";
}

void TestCaptureRun::unusableConfig()
{
    QFETCH(QString, kind);
    QFETCH(QByteArray, content);
    QFETCH(QString, why);
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
    why.replace(QStringLiteral("{cwd}"), QDir::currentPath());
    QCOMPARE(QString::fromUtf8(m_stderr),
             QStringLiteral("tarvix-capture: tvx.cfg: no usable port number: %1\n").arg(why));

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

// A capture that finds no room waits, told once, tried again every second while the run goes on
// capturing; once there is room the captures are written in the order they were taken.
void TestCaptureRun::waitsForRoom_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<QString>("lines");
    const QString waits = QStringLiteral("tarvix-capture: cannot write %1: No space left on "
                                         "device: the reading waits for room, tried again every "
                                         "second\n");
    const QString line = QStringLiteral("[%1] COM1 (/dev/fake1): %2 bytes in {s} s, written to "
                                        "{file}\n");
    QTest::newRow("--out FILE")
        << 1
        << waits.arg(QStringLiteral("r.dat")) +
               QStringLiteral("COM1 (/dev/fake1): 41 bytes in {s} s, written to r.dat\n");
    // A disk that fills again is told again.
    QTest::newRow("--count 0") << 0
                               << waits.arg(QStringLiteral(".")) + line.arg(1).arg(41) +
                                      line.arg(2).arg(42) + waits.arg(QStringLiteral(".")) +
                                      line.arg(3).arg(41);
}

void TestCaptureRun::waitsForRoom()
{
    QFETCH(int, count);
    QFETCH(QString, lines);
    CaptureOptions options;
    options.output = count == 1 ? OutputKind::File : OutputKind::Folder;
    options.outputPath = count == 1 ? QStringLiteral("r.dat") : QStringLiteral(".");
    options.count = count;
    CaptureRun &run = makeRun(options);
    QList<int> asked; // the retries the run asked for, by their delay
    run.setRetrySchedule([&asked](int ms) { asked << ms; });
    run.start();
    QList<QByteArray> sent;
    QVERIFY(feedWhileFull(run, count == 1 ? 1 : 2, &sent));
    QCOMPARE(m_output->tries, 1);             // the second waits behind the first, untried
    QCOMPARE(m_comm->portOpen(), count == 0); // all taken: free for others while writes wait
    run.retryWrites();
    run.retryWrites();
    QCOMPARE(asked, QList<int>(3, 1000));
    QCOMPARE(m_output->tries, 3);
    m_output->isFull = false;
    run.retryWrites();
    QCOMPARE(asked.size(), 3);
    if (count == 0) {
        QVERIFY(feedWhileFull(run, 1, &sent));
        m_output->isFull = false;
        run.retryWrites();
        run.interrupt();
    }
    QVERIFY(run.isOver());
    QCOMPARE(run.status(), int(AllWritten));
    COMPARE_TEMPLATE(QString::fromUtf8(m_stderr), lines);
    if (count == 1)
        QCOMPARE(fileContent(options.outputPath), readingfile::format(sent.first()));
    else
        QCOMPARE(readingsIn(QStringLiteral("."), &sent), sent);
}

// However the run ends while captures wait, each goes to the journal, named, and the status says
// that not everything was written where asked; a journal that cannot take one says it is lost.
void TestCaptureRun::endsWhileWaiting_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<QString>("lines"); // after the wait was told
    const QString kept = QStringLiteral("tarvix-capture: [%1] COM1 (/dev/fake1): %2 bytes in {s} "
                                        "s, not written to out: kept in {journal}/{file}\n");
    QTest::newRow("interrupted") << "interrupt" << kept.arg(1).arg(41);
    QTest::newRow("device lost")
        << "lose"
        << QStringLiteral("tarvix-capture: COM1 (/dev/fake1): device removed\n"
                          "tarvix-capture: the device was lost before a transmission started\n") +
               kept.arg(1).arg(41);
    QTest::newRow("interrupted in the middle of a capture")
        << "cut"
        << kept.arg(1).arg(41) + kept.arg(2).arg(5) +
               QStringLiteral("tarvix-capture: interrupted in the middle of a capture: the 5 "
                              "bytes received are kept in {journal}/{file}, incomplete\n");
    QTest::newRow("a failure waiting does not cure")
        << "gone"
        << QStringLiteral("tarvix-capture: cannot write out/{file}: No such file or directory\n") +
               kept.arg(1).arg(41);
    QTest::newRow("a journal that cannot be written")
        << "no journal"
        << "tarvix-capture: [1] COM1 (/dev/fake1): 41 bytes in {s} s, not written to out, nor "
           "kept in {journal} ({reason}): it is lost\n";
}

void TestCaptureRun::endsWhileWaiting()
{
    QFETCH(QString, how);
    QFETCH(QString, lines);
    QVERIFY(QDir().mkpath(QStringLiteral("out")) && QDir().mkpath(QStringLiteral("state")));
    if (how == QLatin1String("no journal"))
        QVERIFY(test::writeFile(QStringLiteral("state/tarvix"), "a file"));
    CaptureOptions options;
    options.outputPath = QStringLiteral("out");
    options.count = 0;
    CaptureRun &run = makeRun(options);
    run.setRetrySchedule([](int) {});
    run.start();
    QList<QByteArray> sent;
    QVERIFY(feedWhileFull(run, 1, &sent));
    m_stderr = m_stderr.mid(m_stderr.indexOf('\n') + 1);
    if (how == QLatin1String("lose"))
        m_comm->loseDevice();
    if (how == QLatin1String("cut"))
        m_comm->feed(sent.emplace_back("12345"));
    if (how == QLatin1String("gone") && QDir(QStringLiteral("out")).removeRecursively()) {
        m_output->isFull = false;
        run.retryWrites();
        // Ended by the failure itself, not by the request to end that follows.
        QVERIFY(run.isOver());
    }
    run.interrupt();
    QCOMPARE(run.status(), int(WriteFailed));
    COMPARE_TEMPLATE(QString::fromUtf8(m_stderr),
                     QString(lines).replace(QStringLiteral("{journal}"), journal()));
    if (how == QLatin1String("no journal"))
        sent.clear();
    QCOMPARE(readingsIn(journal(), &sent), sent);
}

// What waits is held in memory up to 64 MiB in all; beyond, the oldest go to the journal, or
// stay in memory when the journal cannot take them.
void TestCaptureRun::limitOfWhatWaits_data()
{
    QTest::addColumn<qint64>("limit");
    QTest::addColumn<QList<int>>("sizes");
    QTest::addColumn<int>("kept"); // the oldest so many go to the journal
    QTest::addColumn<QString>("lines");
    const int mib64 = 64 * 1024 * 1024;
    const QString kept = QStringLiteral("tarvix-capture: [%1], not written to .: more than %2 "
                                        "wait for room, so it is kept in {journal}/{file}\n");
    QTest::newRow("64 MiB") << WriteQueue::MaxWaitingBytes << QList<int>{1, mib64 - 1} << 0
                            << QString();
    QTest::newRow("64 MiB and a byte") << WriteQueue::MaxWaitingBytes << QList<int>{1, mib64} << 1
                                       << kept.arg(1).arg(QStringLiteral("64 MiB"));
    QTest::newRow("as many as it takes") << qint64(100) << QList<int>{60, 30, 90} << 2
                                         << kept.arg(1).arg(QStringLiteral("100 bytes")) +
                                                kept.arg(2).arg(QStringLiteral("100 bytes"));
    QTest::newRow("a journal that cannot be written")
        << qint64(100) << QList<int>{60, 30, 90} << -1
        << "tarvix-capture: more than 100 bytes wait for room, and the journal cannot take the "
           "oldest ({journal}: {reason}): all are kept in memory\n";
}

void TestCaptureRun::limitOfWhatWaits()
{
    QFETCH(qint64, limit);
    QFETCH(QList<int>, sizes);
    QFETCH(int, kept);
    QFETCH(QString, lines);
    const QString folder = m_dir->filePath(QStringLiteral("journal"));
    QVERIFY(kept >= 0 || test::writeFile(folder, "a file"));
    FullDisk output(OutputKind::Folder, QStringLiteral("."));
    output.isFull = true;
    StatusLine line(StatusLine::Mode::Final,
                    [this](const QByteArray &bytes) { m_stderr += bytes; });
    WriteQueue queue(
        output, line, folder, [](const TakenReading &, const QString &, bool) {}, limit);
    QList<QByteArray> sent;
    for (int i = 0; i < sizes.size(); ++i) {
        sent << QByteArray(sizes.at(i), char('a' + i));
        const QDateTime start(QDate(2024, 3, 7), QTime(15, 4, i));
        queue.add({sent.last(), start, QStringLiteral("[%1]").arg(i + 1), QString()});
    }
    // The wait is told once, however many join it.
    COMPARE_TEMPLATE(QString::fromUtf8(m_stderr),
                     QStringLiteral("tarvix-capture: cannot write .: No space left on device: the "
                                    "reading waits for room, tried again every second\n") +
                         QString(lines).replace(QStringLiteral("{journal}"), folder));
    QCOMPARE(queue.allAsAsked(), kept <= 0);
    QList<QByteArray> journaled = sent.mid(0, qMax(kept, 0));
    QCOMPARE(readingsIn(folder, &journaled), journaled);
    if (limit == WriteQueue::MaxWaitingBytes)
        return; // no need to write 64 MiB to see the rest come in order
    output.isFull = false;
    QCOMPARE(queue.write(), WriteQueue::State::Written);
    QList<QByteArray> rest = sent.mid(qMax(kept, 0));
    QCOMPARE(readingsIn(QStringLiteral("."), &rest), rest);
}

QTEST_GUILESS_MAIN(TestCaptureRun)
#include "tst_capture_run.moc"
