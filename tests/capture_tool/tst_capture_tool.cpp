// tarvix-capture as a script or a service runs it: the built program, without a display, on one
// end of a pseudo-terminal, with tarvix-sim playing the instrument on the other. Each row is
// one run: what the instrument sends and how, the command line, and what the run leaves
// behind (exit status, files, standard output, standard error).

#include "expected_text.h"
#include "files/reading_file.h"
#include "platform/serial/port_lock.h"
#include "platform/serial/serial_port.h"
#include "support/file_bytes.h"
#include "support/pipes.h"
#include "support/pseudo_terminal.h"
#include "support/system_fixtures.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QProcess>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <csignal>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace tvx;

namespace {

// One run of the tool. In texts, {dev} stands for the simulator's terminal.
struct Case {
    QByteArray sent;            // what the instrument sends, after 300 ms
    QStringList sim;            // further options of tarvix-sim (pacing, pauses, hang-up)
    QStringList tool;           // the command line
    QByteArray config;          // tvx.cfg in the working folder; none when empty
    QStringList environment;    // NAME=value
    int signal = 0;             // sent to the tool signalAtMs after its start
    int signalAtMs = 0;         //
    QString standardOutput;     // a file to write standard output to instead of a pipe
    bool closedPipe = false;    // ... or a pipe nobody reads any more (| head -c 10)
    bool stalledPipe = false;   // ... or a full one that nobody reads (| sleep 1000)
    QString closing;            // standard descriptors the shell closes (">&-")
    QString shellBefore;        // shell commands run first, in the working folder
    QString shellArguments;     // further arguments in the shell's words (raw bytes: $(printf))
    QString holder;             // another program holds the terminal: "picocom" (by flock), "lock"
                                // (a lock file naming the simulator, a minute old), "ended" (one
                                // naming a process that has ended), "container" (likewise, while
                                // a process of another PID namespace has the device open),
                                // "exclusive" (likewise, the terminal in exclusive mode) or
                                // "pipe" (a named pipe in the lock file's place)
    bool readOnlyLocks = false; // the lock folder is mounted read-only for the run
    int status = 0;             // the exit status
    QStringList files;          // what the run leaves in its folder, by name (templates)
    QList<QByteArray> content;  // ... and their content as the desktop program loads it
    bool prefixOnly = false;    // ... or the first part of what was sent, then CR LF
    QByteArray out;             // standard output
    QString err;                // standard error (template)
    int minMs = 0;              // how long the run takes, when that is the point
    int maxMs = 0;
};

struct Outcome {
    int status = -1;
    QByteArray out;
    QByteArray err;
    qint64 ms = 0;
};

QByteArray everyByteValue()
{
    QByteArray bytes;
    for (int i = 0; i < 256; ++i)
        bytes.append(char(i));
    return bytes;
}

QStringList words(const char *text)
{
    return QString::fromUtf8(text).split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

// The lock file serial programs keep while the device is open.
QString lockFileOf(const QString &device)
{
    return QStringLiteral("/run/lock/") + lockFileName(QFileInfo(device).canonicalFilePath());
}

QStringList withDevice(QStringList texts, const QString &device)
{
    for (QString &text : texts) {
        text.replace(QStringLiteral("{dev}"), device);
        text.replace(QStringLiteral("{lock}"), lockFileOf(device));
    }
    return texts;
}

// Debian's picocom, another serial program, which holds its port with flock().
class Picocom {
public:
    static bool installed() { return !QStandardPaths::findExecutable(name()).isEmpty(); }

    // Started on the device; true once it says it holds it.
    bool hold(const QString &device)
    {
        // Its standard input stays open: picocom ends at the end of its input.
        m_process.start(name(), {QStringLiteral("-b"), QStringLiteral("1200"), device});
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 5000 && m_process.waitForReadyRead(500)) {
            m_output += m_process.readAll();
            if (m_output.contains("Terminal ready"))
                return true;
        }
        return false;
    }
    qint64 pid() const { return m_process.processId(); }

    // A run of a second or less on the device: its exit status and what it said.
    static std::pair<int, QByteArray> tryOpen(const QString &device)
    {
        QProcess process;
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(name(), {QStringLiteral("-b"), QStringLiteral("1200"), QStringLiteral("-x"),
                               QStringLiteral("300"), device});
        process.waitForFinished(5000);
        return {process.exitCode(), process.readAll()};
    }

    ~Picocom()
    {
        m_process.kill();
        m_process.waitForFinished(3000);
    }

private:
    static QString name() { return QStringLiteral("picocom"); }
    QProcess m_process;
    QByteArray m_output;
};

// A case that needs what this machine lacks is skipped; not under CI (CI set), where the machine
// is made for the tests and a skip would hide a case that never ran.
#define SKIP_UNLESS_CI(why)                                                                        \
    do {                                                                                           \
        if (!qEnvironmentVariableIsEmpty("CI"))                                                    \
            QFAIL(why);                                                                            \
        QSKIP(why);                                                                                \
    } while (false)

// The PID a process had, now free: it has ended and been reaped.
qint64 endedPid()
{
    QProcess ended;
    ended.start(QStringLiteral("sh"), {QStringLiteral("-c"), QStringLiteral("echo $$")});
    ended.waitForFinished();
    return ended.readAll().trimmed().toLongLong();
}

// Whether the child that unshare --pid --fork started runs sleep with the device as its input.
bool childHolds(qint64 parent, const QString &device)
{
    const QByteArray child =
        test::fileContent(QStringLiteral("/proc/%1/task/%1/children").arg(parent)).trimmed();
    const QString proc = QStringLiteral("/proc/") + QString::fromLatin1(child);
    return programOfProcess(child.toLongLong()) == QLatin1String("sleep") &&
           QFileInfo(proc + QStringLiteral("/fd/0")).symLinkTarget() == device;
}

} // namespace

Q_DECLARE_METATYPE(Case)

class TestCaptureTool : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void runs_data();
    void runs();
    void liveLineOnATerminal();
    void otherProgramsWaitForTheCapture();
    void closedDescriptorsStandForDevNull();
    void waitsForRoomOnAFullDisk();
    void answersWithoutDisplay_data();
    void answersWithoutDisplay();

private:
    QString startSimulator(const QByteArray &bytes, const QStringList &options);
    Outcome runTool(const QStringList &arguments, const QStringList &environment,
                    const Case &options = Case(), const QString &errorFile = QString());
    QStringList filesLeft() const;
    QProcessEnvironment toolEnvironment() const;

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_work; // the tool's working folder
    std::unique_ptr<QProcess> m_sim;
    QString m_lock; // a lock file a test made
};

void TestCaptureTool::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_work = m_dir->filePath(QStringLiteral("work"));
    QVERIFY(QDir().mkpath(m_work + QStringLiteral("/out")));
}

void TestCaptureTool::cleanup()
{
    if (!m_lock.isEmpty())
        QFile::remove(std::exchange(m_lock, QString()));
    if (m_sim) {
        m_sim->terminate();
        m_sim->waitForFinished(3000);
        m_sim.reset();
    }
}

QString TestCaptureTool::startSimulator(const QByteArray &bytes, const QStringList &options)
{
    const QString file = m_dir->filePath(QStringLiteral("send.bin"));
    if (!test::writeFile(file, bytes))
        return QString();
    m_sim = std::make_unique<QProcess>();
    m_sim->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_sim->start(QStringLiteral(TARVIX_SIM),
                 QStringList{QStringLiteral("--file"), file, QStringLiteral("--delay"),
                             QStringLiteral("300")} +
                     options);
    if (!m_sim->waitForStarted() || !m_sim->waitForReadyRead(5000))
        return QString();
    return QString::fromLocal8Bit(m_sim->readLine().trimmed());
}

Outcome TestCaptureTool::runTool(const QStringList &arguments, const QStringList &environment,
                                 const Case &options, const QString &errorFile)
{
    QProcess tool;
    tool.setWorkingDirectory(m_work);
    QProcessEnvironment env = toolEnvironment();
    for (const QString &setting : environment)
        env.insert(setting.section(QLatin1Char('='), 0, 0), setting.section(QLatin1Char('='), 1));
    tool.setProcessEnvironment(env);
    if (!options.standardOutput.isEmpty())
        tool.setStandardOutputFile(options.standardOutput);
    if (!errorFile.isEmpty())
        tool.setStandardErrorFile(errorFile);
    int pipeEnds[2] = {-1, -1};
    if (options.closedPipe) {
        if (::pipe2(pipeEnds, O_CLOEXEC) != 0)
            return Outcome();
        ::close(pipeEnds[0]);
        tool.setChildProcessModifier([end = pipeEnds[1]] { ::dup2(end, STDOUT_FILENO); });
    }
    int stalled[2] = {-1, -1};
    if (options.stalledPipe) {
        if (!test::makeNarrowPipe(stalled, true))
            return Outcome();
        tool.setChildProcessModifier([end = stalled[1]] { ::dup2(end, STDOUT_FILENO); });
    }
    const auto closeStalled = qScopeGuard([&stalled] {
        for (const int fd : stalled)
            ::close(fd);
    });
    QSignalSpy finished(&tool, &QProcess::finished);
    QElapsedTimer clock;
    clock.start();
    if (options.readOnlyLocks) {
        // In a mount namespace of its own, so that nothing else sees the folder read-only.
        tool.start(QStringLiteral("unshare"),
                   QStringList{QStringLiteral("--mount"), QStringLiteral("--propagation"),
                               QStringLiteral("private"), QStringLiteral("sh"),
                               QStringLiteral("-c"),
                               QStringLiteral("mount --bind /run/lock /run/lock && mount -o "
                                              "remount,bind,ro /run/lock && exec \"$0\" \"$@\""),
                               QStringLiteral(TARVIX_CAPTURE)} +
                       arguments);
    } else if (!options.closing.isEmpty() || !options.shellArguments.isEmpty()) {
        tool.start(QStringLiteral("/bin/sh"),
                   QStringList{QStringLiteral("-c"),
                               options.shellBefore + QStringLiteral(" exec \"$0\" \"$@\" ") +
                                   options.shellArguments + QLatin1Char(' ') + options.closing,
                               QStringLiteral(TARVIX_CAPTURE)} +
                       arguments);
    } else {
        tool.start(QStringLiteral(TARVIX_CAPTURE), arguments);
    }
    if (pipeEnds[1] >= 0)
        ::close(pipeEnds[1]);
    Outcome outcome;
    if (!tool.waitForStarted())
        return outcome;
    if (options.signal) {
        const qint64 pid = tool.processId();
        QTimer::singleShot(options.signalAtMs, &tool,
                           [pid, signal = options.signal] { ::kill(pid_t(pid), signal); });
    }
    if (!finished.wait(30000) && finished.isEmpty()) {
        tool.kill();
        tool.waitForFinished();
        return outcome;
    }
    outcome.ms = clock.elapsed();
    if (tool.exitStatus() == QProcess::NormalExit)
        outcome.status = tool.exitCode();
    outcome.out = tool.readAllStandardOutput();
    outcome.err = tool.readAllStandardError();
    return outcome;
}

QProcessEnvironment TestCaptureTool::toolEnvironment() const
{
    // No display: the tool must not need one.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(QString::fromLatin1(name));
    for (int port = 1; port <= 9; ++port)
        env.remove(QStringLiteral("TARVIX_COM%1").arg(port));
    // A journal of the test's own, never the user's.
    env.insert(QStringLiteral("XDG_STATE_HOME"), m_dir->filePath(QStringLiteral("state")));
    return env;
}

QStringList TestCaptureTool::filesLeft() const
{
    QStringList files;
    QDirIterator it(m_work, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = QDir(m_work).relativeFilePath(it.next());
        if (path != QLatin1String("tvx.cfg"))
            files << path;
    }
    files.sort();
    return files;
}

void TestCaptureTool::runs_data()
{
    QTest::addColumn<Case>("run");

    const QByteArray sample = "TARVIX-1M\r\n 001     23.17\r\n 002     23.24 \xb5g\n\x00 003\r\n";
    const QByteArray crlf = "\r\n";
    // The sample at once, captured into the working folder.
    const auto sampleAtOnce = [&] {
        Case c;
        c.sent = sample;
        c.sim = words("--fast");
        c.files = QStringList{QStringLiteral("{file}")};
        c.content = {sample + crlf};
        return c;
    };
    {
        Case c; // 256 bytes at 1200 baud: about 2.1 s
        c.sent = everyByteValue();
        c.tool = words("--device {dev}");
        c.files = QStringList{QStringLiteral("{file}")};
        c.content = {c.sent + crlf};
        c.err = QStringLiteral("{dev}: 256 bytes in {s} s, written to {file}\n");
        QTest::newRow("every byte value at 1200 baud") << c;
    }
    {
        Case c = sampleAtOnce();
        c.tool = words("--device {dev} --out -");
        c.files.clear();
        c.out = sample; // raw: no CR LF added
        c.err = QStringLiteral("{dev}: %1 bytes in {s} s, written to standard output\n")
                    .arg(sample.size());
        QTest::newRow("--out - gives the raw bytes") << c;
    }
    {
        Case c; // two transmissions 2.5 s apart: the first capture ends 1.3 s after its end
        c.sent = QByteArray(100, 'a') + QByteArray(60, 'b');
        c.sim = words("--fast --pause-after 100 --pause-ms 2500");
        c.tool = words("--device {dev} --count 2 --dir out");
        c.files = QStringList{QStringLiteral("out/{file}"), QStringLiteral("out/{file}")};
        c.content = {QByteArray(100, 'a') + crlf, QByteArray(60, 'b') + crlf};
        c.err = QStringLiteral("[1/2] {dev}: 100 bytes in {s} s, written to out/{file}\n"
                               "[2/2] {dev}: 60 bytes in {s} s, written to out/{file}\n");
        QTest::newRow("--count 2 with a pause gives two files") << c;
    }
    {
        Case c;
        c.sent = sample;
        c.sim = words("--delay 60000");
        c.tool = words("--device {dev} --wait 1");
        c.status = 3;
        c.err = QStringLiteral("tarvix-capture: no transmission started within 1 s\n");
        c.minMs = 1000;
        c.maxMs = 1900; // not two seconds
        QTest::newRow("--wait 1 with nothing sent") << c;
    }
    {
        Case c; // the line goes 300 ms after the last byte, before the capture ends
        c.sent = QByteArray(500, 'h');
        c.sim = words("--fast --hangup");
        c.tool = words("--device {dev}");
        c.status = 4;
        c.files = QStringList{QStringLiteral("{file}")};
        c.content = {c.sent + crlf};
        c.err = QStringLiteral("tarvix-capture: {dev}: {reason}\n"
                               "tarvix-capture: the device was lost in the middle of a capture: "
                               "the 500 bytes received are written to {file}, incomplete\n");
        QTest::newRow("hang-up mid-capture") << c;
    }
    {
        Case c;
        c.sim = words("--delay 60000");
        c.tool = words("--device /nonexistent/ttyUSB0");
        c.status = 2;
        c.err = QStringLiteral("tarvix-capture: /nonexistent/ttyUSB0: No such file or directory\n");
        QTest::newRow("a port that does not exist") << c;
    }
    {
        Case c;
        c.sim = words("--delay 60000");
        c.tool = words("--device {dev}");
        c.holder = QStringLiteral("picocom");
        c.status = 2;
        c.err = QStringLiteral("tarvix-capture: {dev}: in use by picocom (process {n}), which "
                               "holds a lock on the device\n");
        QTest::newRow("picocom holds the port") << c;
    }
    {
        // However old: the process lives.
        Case c;
        c.sim = words("--delay 60000");
        c.tool = words("--device {dev}");
        c.holder = QStringLiteral("lock");
        c.status = 2;
        c.err = QStringLiteral("tarvix-capture: {dev}: in use by tarvix-sim (process {n}, lock "
                               "file {lock})\n");
        QTest::newRow("a lock file of a living program") << c;
        // Anyone may put something in the lock folder: read without waiting, it names no one.
        c.holder = QStringLiteral("pipe");
        c.err = QStringLiteral("tarvix-capture: {dev}: in use by another program (lock file "
                               "{lock} names no process)\n");
        c.maxMs = 3000;
        QTest::newRow("a named pipe as the lock file") << c;
    }
    {
        // A holder in a container that shares the lock folder and the device: its number
        // names no process here, but it has the device open. Its lock stays.
        Case c;
        c.sim = words("--delay 60000");
        c.tool = words("--device {dev}");
        c.holder = QStringLiteral("container");
        c.status = 2;
        c.err = QStringLiteral("tarvix-capture: {dev}: in use by process {n}, not seen from here "
                               "(lock file {lock}): the device is open in sleep (process {n})\n");
        QTest::newRow("a lock file of a process in another PID namespace that holds the device")
            << c;
        // Seen from a container, the holder outside it: only its exclusive mode tells.
        c.holder = QStringLiteral("exclusive");
        c.err = QStringLiteral("tarvix-capture: {dev}: in use by process {n}, not seen from here "
                               "(lock file {lock}): the device is in exclusive mode\n");
        QTest::newRow("a lock file of a process not seen here, the terminal in exclusive mode")
            << c;
    }
    {
        Case c = sampleAtOnce();
        c.tool = words("--device {dev}");
        c.holder = QStringLiteral("ended");
        c.err = QStringLiteral("{dev}: {n} bytes in {s} s, written to {file}\n");
        QTest::newRow("a lock file of a program that has ended") << c;
    }
    {
        Case c = sampleAtOnce();
        c.tool = words("--device {dev}");
        c.readOnlyLocks = true;
        c.err = QStringLiteral("tarvix-capture: no lock file can be written (/run/lock: "
                               "Read-only file system): programs that look only for lock files "
                               "will not see the port in use\n"
                               "{dev}: {n} bytes in {s} s, written to {file}\n");
        QTest::newRow("a read-only lock folder") << c;
    }
    {
        Case c = sampleAtOnce();
        c.config = "3\r\n\r\n";
        c.environment = QStringList{QStringLiteral("TARVIX_COM3={dev}")};
        c.err = QStringLiteral("COM3 ({dev}): %1 bytes in {s} s, written to {file}\n")
                    .arg(sample.size());
        QTest::newRow("the port of tvx.cfg") << c;
    }
    {
        Case c = sampleAtOnce();
        c.environment = QStringList{QStringLiteral("TARVIX_COM1={dev}")};
        c.err = QStringLiteral("COM1 ({dev}): %1 bytes in {s} s, written to {file}\n")
                    .arg(sample.size());
        QTest::newRow("COM1 without tvx.cfg") << c;
    }
    {
        Case c = sampleAtOnce();
        c.tool = words("--port 2 --out reading.dat --quiet");
        c.config = "3\r\n\r\n";
        c.environment = QStringList{QStringLiteral("TARVIX_COM2={dev}")};
        c.files = QStringList{QStringLiteral("reading.dat")};
        QTest::newRow("--port over tvx.cfg, --out FILE, --quiet") << c;
    }
    {
        Case c; // the first capture is written about 1.6 s after the start
        c.sent = QByteArray(50, 'i');
        c.sim = words("--fast");
        c.tool = words("--device {dev} --count 2");
        c.signal = SIGINT;
        c.signalAtMs = 3000;
        c.files = QStringList{QStringLiteral("{file}")};
        c.content = {c.sent + crlf};
        c.err = QStringLiteral("[1/2] {dev}: 50 bytes in {s} s, written to {file}\n");
        QTest::newRow("SIGINT between captures") << c;
    }
    {
        Case c;
        c.sim = words("--delay 60000");
        c.tool = words("--device {dev}");
        c.signal = SIGTERM;
        c.signalAtMs = 500;
        QTest::newRow("SIGTERM while waiting") << c;
    }
    {
        Case c; // 600 bytes at 1200 baud take 5 s; the signal comes 2 s after the start
        for (int i = 0; i < 600; ++i)
            c.sent.append(char('A' + i % 26));
        c.tool = words("--device {dev}");
        c.signal = SIGTERM;
        c.signalAtMs = 2000;
        c.status = 4;
        c.files = QStringList{QStringLiteral("{file}")};
        c.prefixOnly = true;
        c.err = QStringLiteral("tarvix-capture: interrupted in the middle of a capture: the {n} "
                               "bytes received are written to {file}, incomplete\n");
        QTest::newRow("SIGTERM mid-capture") << c;
    }
    {
        Case c = sampleAtOnce();
        c.tool = words("--device {dev} --out -");
        c.files.clear();
        c.standardOutput = QStringLiteral("/dev/full");
        c.status = 5;
        c.err = QStringLiteral(
            "tarvix-capture: cannot write to standard output: No space left on device\n");
        QTest::newRow("standard output full") << c;
        c.standardOutput.clear();
        c.closedPipe = true;
        c.err = QStringLiteral("tarvix-capture: cannot write to standard output: Broken pipe\n");
        QTest::newRow("standard output a closed pipe") << c;
        // The capture ends about 1.6 s after the start; its write waits until the signal.
        c.closedPipe = false;
        c.stalledPipe = true;
        c.signal = SIGTERM;
        c.signalAtMs = 3000;
        c.err = QStringLiteral("tarvix-capture: cannot write to standard output: the write was "
                               "interrupted after 0 of %1 bytes\n")
                    .arg(sample.size());
        c.minMs = 3000;
        c.maxMs = 6000; // ends within a second of the signal; 3 s for a loaded machine
        QTest::newRow("SIGTERM while standard output takes nothing") << c;
    }
    {
        Case c; // refused before the port opens: the device is not even looked at
        c.sim = words("--delay 60000");
        c.tool = words("--device /nonexistent/ttyUSB0 --out -");
        c.closing = QStringLiteral(">&-");
        c.status = 5;
        c.err = QStringLiteral("tarvix-capture: cannot write to standard output: it is closed\n");
        QTest::newRow("standard output closed") << c;
        // What cannot be written is found before the port opens, whatever the name.
        c.closing.clear();
        c.tool = words("--device {dev}");
        c.shellArguments = QStringLiteral("--out \"$(printf 'caf\\351.dat')\"");
        // The byte that is not UTF-8 is shown as the replacement character.
        c.err = QStringLiteral("tarvix-capture: cannot write caf\ufffd.dat: the name is not "
                               "valid UTF-8\n");
        QTest::newRow("--out a name that is not UTF-8") << c;
        c.shellArguments = QStringLiteral("--dir \"$(printf 'dir\\377')\"");
        c.err = QStringLiteral("tarvix-capture: cannot write to dir\ufffd: the name is not "
                               "valid UTF-8\n");
        c.files = QStringList{};
        QTest::newRow("--dir a folder whose name is not UTF-8") << c;
        c.shellBefore = QStringLiteral("ln -s loop loop;");
        c.shellArguments = QStringLiteral("--out loop");
        c.err = QStringLiteral("tarvix-capture: cannot write loop: Too many levels of symbolic "
                               "links\n");
        QTest::newRow("--out a loop of links") << c;
    }
}

void TestCaptureTool::runs()
{
    QFETCH(Case, run);
    const QString device = startSimulator(run.sent, run.sim);
    QVERIFY(!device.isEmpty());
    if (!run.config.isEmpty())
        QVERIFY(test::writeFile(m_work + QStringLiteral("/tvx.cfg"), run.config));
    Picocom picocom;
    QProcess container; // a process in a PID namespace of its own, holding the device
    const auto endContainer = qScopeGuard([&container] {
        container.kill(); // unshare --kill-child takes its child with it
        container.waitForFinished();
    });
    int exclusive = -1; // the test's own opening, in exclusive mode
    const auto endExclusive = qScopeGuard([&exclusive] {
        if (exclusive < 0)
            return;
        ::ioctl(exclusive, TIOCNXCL);
        ::close(exclusive);
    });
    if (run.holder == QLatin1String("picocom")) {
        if (!Picocom::installed())
            SKIP_UNLESS_CI("picocom is not installed (make test-deps installs it)");
        QVERIFY(picocom.hold(device));
    } else if (run.holder == QLatin1String("pipe")) {
        m_lock = lockFileOf(device);
        QVERIFY(::mkfifo(QFile::encodeName(m_lock).constData(), 0644) == 0);
    } else if (!run.holder.isEmpty()) {
        qint64 pid = m_sim->processId();
        if (run.holder == QLatin1String("container")) {
            if (::geteuid() != 0 ||
                QStandardPaths::findExecutable(QStringLiteral("unshare")).isEmpty())
                SKIP_UNLESS_CI("a PID namespace of its own needs root and unshare");
            container.setStandardInputFile(device);
            container.start(QStringLiteral("unshare"),
                            {QStringLiteral("--pid"), QStringLiteral("--fork"),
                             QStringLiteral("--kill-child"), QStringLiteral("sleep"),
                             QStringLiteral("600")});
            QVERIFY(container.waitForStarted());
            QTRY_VERIFY(childHolds(container.processId(), device));
        }
        if (run.holder == QLatin1String("exclusive")) {
            if (::geteuid() != 0)
                SKIP_UNLESS_CI("needs root, whom alone the exclusive mode lets through");
            exclusive = ::open(QFile::encodeName(device).constData(), O_RDWR | O_NOCTTY);
            QVERIFY(exclusive >= 0 && ::ioctl(exclusive, TIOCEXCL) == 0);
        }
        if (run.holder != QLatin1String("lock"))
            pid = endedPid();
        m_lock = lockFileOf(device);
        QFile lock(m_lock);
        QVERIFY(lock.open(QIODevice::WriteOnly) && lock.write(lockFileContent(pid)) > 0);
        QVERIFY(lock.setFileTime(QDateTime::currentDateTime().addSecs(-60),
                                 QFileDevice::FileModificationTime));
    }
    if (run.readOnlyLocks &&
        (::geteuid() != 0 || QStandardPaths::findExecutable(QStringLiteral("unshare")).isEmpty()))
        QSKIP("a read-only mount of the lock folder needs root and unshare");

    const Outcome outcome =
        runTool(withDevice(run.tool, device), withDevice(run.environment, device), run);
    const QString err = QString::fromUtf8(outcome.err);
    QVERIFY2(
        outcome.status == run.status,
        qPrintable(
            QStringLiteral("exit status %1, standard error:\n%2").arg(outcome.status).arg(err)));
    COMPARE_TEMPLATE(err, withDevice({run.err}, device).constFirst());
    QCOMPARE(outcome.out, run.out);
    // The port is free for the next program whichever way the run ended; another program's
    // lock stays.
    QCOMPARE(QFile::exists(lockFileOf(device)),
             QStringList({QStringLiteral("lock"), QStringLiteral("pipe"),
                          QStringLiteral("container"), QStringLiteral("exclusive")})
                 .contains(run.holder));
    // Nor does the terminal stay in exclusive mode, signals included: the simulator still has
    // it open, as socat or ser2net would, and every user's next opening must succeed.
    const int terminal =
        ::open(QFile::encodeName(device).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (terminal >= 0 && run.holder.isEmpty()) {
        int exclusive = -1;
        QCOMPARE(::ioctl(terminal, TIOCGEXCL, &exclusive), 0);
        QCOMPARE(exclusive, 0);
    }
    if (terminal >= 0)
        ::close(terminal);
    if (run.maxMs) {
        QVERIFY2(outcome.ms >= run.minMs && outcome.ms < run.maxMs,
                 qPrintable(QStringLiteral("%1 ms").arg(outcome.ms)));
    }

    const QStringList files = filesLeft();
    QCOMPARE(files.size(), run.files.size());
    for (int i = 0; i < files.size(); ++i) {
        COMPARE_TEMPLATE(files.at(i), run.files.at(i));
        // The desktop program's own loader reads what the capture wrote.
        QByteArray loaded;
        QString reason;
        QVERIFY2(readingfile::load(m_work + QLatin1Char('/') + files.at(i), &loaded, &reason),
                 qPrintable(reason));
        if (run.prefixOnly) {
            QVERIFY2(loaded.endsWith("\r\n"), loaded.constData());
            const QByteArray prefix = loaded.chopped(2);
            QVERIFY2(!prefix.isEmpty() && prefix.size() < run.sent.size(),
                     qPrintable(QString::number(prefix.size())));
            QCOMPARE(prefix, run.sent.left(prefix.size()));
            QVERIFY(err.contains(QStringLiteral(" the %1 bytes ").arg(prefix.size())));
        } else {
            QCOMPARE(loaded, run.content.at(i));
        }
    }
}

// On a terminal the one line of the capture is rewritten in place: waiting, receiving, and
// where it was written, kept when the program ends.
void TestCaptureTool::liveLineOnATerminal()
{
    const QByteArray sent(300, 'L'); // 2.5 s at 1200 baud: several updates
    const QString device = startSimulator(sent, {});
    QVERIFY(!device.isEmpty());
    test::PseudoTerminal terminal;
    QVERIFY(terminal.isValid());
    const Outcome outcome =
        runTool({QStringLiteral("--device"), device}, {}, Case(), terminal.slavePath());
    QCOMPARE(outcome.status, 0);
    const QString shown = QString::fromUtf8(terminal.readAvailable());
    const QStringList updates = shown.split(QLatin1Char('\r'));
    QVERIFY2(updates.size() > 4, qPrintable(shown));
    QCOMPARE(updates.at(0), QString());
    QCOMPARE(updates.at(1), QStringLiteral("\x1b[K%1: waiting for a transmission").arg(device));
    for (const QString &update : updates.mid(2, updates.size() - 3))
        COMPARE_TEMPLATE(update,
                         QStringLiteral("\x1b[K%1: receiving, {n} bytes in {s} s").arg(device));
    COMPARE_TEMPLATE(
        updates.last(),
        QStringLiteral("\x1b[K%1: 300 bytes in {s} s, written to {file}\n").arg(device));
}

// While tarvix-capture holds the port, picocom (which locks with flock) and programs that look
// for lock files are refused, and the transmission comes through whole.
void TestCaptureTool::otherProgramsWaitForTheCapture()
{
    if (!Picocom::installed())
        SKIP_UNLESS_CI("picocom is not installed (make test-deps installs it)");
    const QByteArray sent(120, 'R');
    const QString device = startSimulator(sent, words("--delay 3000"));
    QVERIFY(!device.isEmpty());
    QProcess tool;
    tool.setWorkingDirectory(m_work);
    tool.start(QStringLiteral(TARVIX_CAPTURE), {QStringLiteral("--device"), device});
    QFile lock(lockFileOf(device));
    QTRY_VERIFY(lock.exists());
    QVERIFY(lock.open(QIODevice::ReadOnly));
    QCOMPARE(lock.readAll(), lockFileContent(tool.processId()));
    const auto [status, said] = Picocom::tryOpen(device);
    QCOMPARE(status, 1);
    QVERIFY2(said.contains("FATAL: cannot lock " + device.toLocal8Bit()), said.constData());
    QVERIFY(tool.waitForFinished(15000));
    QCOMPARE(tool.exitCode(), 0);
    const QStringList files = filesLeft();
    QCOMPARE(files.size(), 1);
    QCOMPARE(test::fileContent(m_work + QLatin1Char('/') + files.first()), sent + "\r\n");
}

// Started with its standard descriptors closed, the tool has /dev/null there, so the files it
// opens (the device, a lock file) never take their numbers and no line goes into them.
void TestCaptureTool::closedDescriptorsStandForDevNull()
{
    const QString device = startSimulator("never sent", words("--delay 60000"));
    QVERIFY(!device.isEmpty());
    QProcess run;
    run.start(QStringLiteral("/bin/sh"),
              {QStringLiteral("-c"), QStringLiteral("exec \"$0\" \"$@\" <&- >&- 2>&-"),
               QStringLiteral(TARVIX_CAPTURE), QStringLiteral("--device"), device,
               QStringLiteral("--dir"), m_work});
    const auto stop = qScopeGuard([&run] {
        run.terminate();
        run.waitForFinished(5000);
    });
    // Once the shell has become the tool and the tool holds the port.
    QTRY_COMPARE_WITH_TIMEOUT(test::fileContent(lockFileOf(device)),
                              lockFileContent(run.processId()), 10000);
    for (int fd = 0; fd <= 2; ++fd)
        QCOMPARE(QFileInfo(QStringLiteral("/proc/%1/fd/%2").arg(run.processId()).arg(fd))
                     .symLinkTarget(),
                 QStringLiteral("/dev/null"));
}

// On a disk full to the last byte a capture waits while the next transmission is captured, and
// both are written whole, in order, once room is made.
void TestCaptureTool::waitsForRoomOnAFullDisk()
{
    const QString volume = m_work + QStringLiteral("/vol");
    QVERIFY(QDir().mkdir(volume));
    test::ScratchVolume scratch;
    QString reason;
    if (!scratch.mount(volume, 256, &reason))
        QSKIP(qPrintable(QStringLiteral("no volume of its own to fill: ") + reason));
    QFile filler(volume + QStringLiteral("/filler"));
    QVERIFY(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
    while (filler.write(QByteArray(4096, 'f')) > 0 || filler.write("f", 1) > 0) {
    }
    filler.close();
    const QList<QByteArray> sent{everyByteValue(), QByteArray(60, 'b')};
    const QString device =
        startSimulator(sent.join(), words("--fast --pause-after 256 --pause-ms 2500"));
    QVERIFY(!device.isEmpty());
    test::PseudoTerminal terminal; // standard error: the live line tells how far the run is
    QVERIFY(terminal.isValid());
    QProcess run;
    run.setWorkingDirectory(m_work);
    run.setProcessEnvironment(toolEnvironment());
    run.setStandardErrorFile(terminal.slavePath());
    run.start(QStringLiteral(TARVIX_CAPTURE),
              QStringList{QStringLiteral("--device"), device} + words("--dir vol --count 0"));
    const auto stop = qScopeGuard([&run] {
        run.kill();
        run.waitForFinished();
    });
    QByteArray shown;
    // The disk full check passes, the port opens, and the second capture is taken meanwhile.
    QVERIFY2(QTest::qWaitFor(
                 [&] {
                     shown += terminal.readAvailable();
                     return shown.contains("[3] " + device.toUtf8() + ": waiting");
                 },
                 20000),
             shown.constData());
    QTest::qWait(1500); // a try or two more, told no more
    QVERIFY(QFile::remove(filler.fileName()));
    QStringList files;
    QTRY_COMPARE_WITH_TIMEOUT((files = QDir(volume).entryList(QDir::Files, QDir::Name)).size(), 2,
                              10000);
    ::kill(pid_t(run.processId()), SIGTERM);
    QVERIFY(run.waitForFinished(10000));
    QCOMPARE(run.exitStatus(), QProcess::NormalExit);
    QCOMPARE(run.exitCode(), 0);
    shown += terminal.readAvailable();
    QCOMPARE(shown.count("tarvix-capture: cannot write vol/"), 1);
    QVERIFY2(shown.contains(".dat: No space left on device: the reading waits for room, tried "
                            "again every second\n"),
             shown.constData());
    for (int i = 0; i < 2; ++i)
        QCOMPARE(test::fileContent(volume + QLatin1Char('/') + files.at(i)), sent.at(i) + "\r\n");
    QVERIFY(!QFileInfo::exists(m_dir->filePath(QStringLiteral("state/tarvix"))));
}

void TestCaptureTool::answersWithoutDisplay_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("out"); // "{help}": the usage text
    QTest::addColumn<QString>("err");

    const QString version =
        QStringLiteral("tarvix-capture %1\n"
                       "Copyright (C) 2026 The Tarvix Conectivity maintainers\n"
                       "License GPL-3.0-or-later: GNU GPL version 3 or later "
                       "<https://gnu.org/licenses/gpl.html>.\n"
                       "This is free software: you are free to change and redistribute "
                       "it.\n"
                       "There is NO WARRANTY, to the extent permitted by law.\n")
            .arg(QStringLiteral(TVX_VERSION));
    QTest::newRow("--version") << words("--version") << 0 << version << QString();
    QTest::newRow("--help") << words("--help") << 0 << QStringLiteral("{help}") << QString();
    QTest::newRow("unknown option")
        << words("--bogus") << 1 << QString()
        << "tarvix-capture: unknown option 'bogus'\nTry 'tarvix-capture --help'.\n";
}

void TestCaptureTool::answersWithoutDisplay()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(QString, out);
    QFETCH(QString, err);
    const Outcome outcome = runTool(arguments, {});
    QCOMPARE(outcome.status, status);
    QCOMPARE(QString::fromUtf8(outcome.err), err);
    if (out == QLatin1String("{help}"))
        QVERIFY2(outcome.out.startsWith("Usage: tarvix-capture "), outcome.out.constData());
    else
        QCOMPARE(QString::fromUtf8(outcome.out), out);
    QCOMPARE(filesLeft(), QStringList()); // nothing written, no port opened
}

QTEST_GUILESS_MAIN(TestCaptureTool)
#include "tst_capture_tool.moc"
