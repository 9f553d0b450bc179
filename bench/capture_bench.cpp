// Measures the capture over a real serial line (a pseudo-terminal written by a second thread):
// how soon a capture ends after the last byte, in the desktop program and in tarvix-capture, how
// long the event loop stalls while capturing, the CPU a fast burst costs, and what the program
// does while idle with the port open.

#include "app/main_window.h"
#include "capture_tool/capture_output.h"
#include "capture_tool/capture_run.h"
#include "capture_tool/status_line.h"
#include "platform/serial/serial_port.h"
#include "port/config_file.h"
#include "transmission.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <atomic>
#include <climits>
#include <cstdio>
#include <pty.h>
#include <sys/resource.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

struct Line {
    int master = -1;
    int slave = -1;
    QString device;
    Line()
    {
        char name[PATH_MAX] = {};
        termios raw{};
        cfmakeraw(&raw);
        openpty(&master, &slave, name, &raw, nullptr);
        device = QString::fromLocal8Bit(name);
    }
    ~Line()
    {
        ::close(master);
        ::close(slave);
    }
};

qint64 cpuUs()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1000000LL + u.ru_utime.tv_usec +
           u.ru_stime.tv_usec;
}

long contextSwitches()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_nvcsw + u.ru_nivcsw;
}

// Runs the event loop until pred() holds or the time runs out.
template <typename Pred> bool runUntil(Pred pred, int timeoutMs)
{
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (pred())
            loop.quit();
    });
    check.start(10);
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    if (!pred())
        loop.exec();
    return pred();
}

// Writes bytes into the line at cps characters a second (0: at once) from a thread of its own,
// and sets lastByteAt to the clock's time once the last one is written.
std::thread startWriter(const Line &line, const QByteArray &bytes, int cps,
                        const QElapsedTimer &clock, std::atomic<qint64> &lastByteAt)
{
    return std::thread([&line, bytes, cps, &clock, &lastByteAt] {
        tvx::sim::Pacing pacing;
        pacing.charsPerSecond = cps;
        const int fd = line.master;
        tvx::sim::send(bytes, pacing, [fd](const char *data, qint64 size) {
            while (size > 0) {
                const ssize_t n = ::write(fd, data, size_t(size));
                if (n <= 0)
                    return false;
                data += n;
                size -= n;
            }
            return true;
        });
        lastByteAt = clock.nsecsElapsed();
    });
}

struct Run {
    double endLatencyMs = 0; // last byte written -> capture ended
    double longestStallMs = 0;
    int stretches = 0; // times the event loop woke up during the capture
    double cpuMs = 0;
    bool exact = false;
};

Run capture(const QByteArray &bytes, int cps, bool watchStalls)
{
    Line line;
    qputenv("TARVIX_COM1", line.device.toLocal8Bit());
    tvx::MainWindow window(std::make_unique<tvx::SystemSerialControl>());
    window.start();

    // The event loop is held up from the moment it wakes until it blocks again: the longest
    // such stretch while the capture runs is the longest the window could not answer.
    QElapsedTimer clock;
    clock.start();
    qint64 awakeAt = -1;
    qint64 longestBusy = 0;
    int stretches = 0;
    bool watching = false;
    auto *dispatcher = QAbstractEventDispatcher::instance();
    const auto awake = QObject::connect(dispatcher, &QAbstractEventDispatcher::awake,
                                        [&] { awakeAt = clock.nsecsElapsed(); });
    const auto blocking =
        QObject::connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, [&] {
            if (watching && awakeAt >= 0) {
                longestBusy = qMax(longestBusy, clock.nsecsElapsed() - awakeAt);
                ++stretches;
            }
            awakeAt = -1;
        });
    if (!watchStalls) {
        QObject::disconnect(awake);
        QObject::disconnect(blocking);
    }

    std::atomic<qint64> lastByteAt{0};
    const qint64 cpuBefore = cpuUs();
    std::thread writer = startWriter(line, bytes, cps, clock, lastByteAt);
    runUntil([&] { return window.capturing(); }, 5000);
    watching = true;
    runUntil([&] { return !window.capturing(); }, 600000);
    const qint64 endedAt = clock.nsecsElapsed();
    writer.join();
    Run run;
    run.cpuMs = (cpuUs() - cpuBefore) / 1000.0;
    run.endLatencyMs = (endedAt - lastByteAt) / 1e6;
    run.longestStallMs = longestBusy / 1e6;
    run.stretches = stretches;
    QObject::disconnect(awake);
    QObject::disconnect(blocking);
    run.exact = window.readingText().bytes() == bytes;
    return run;
}

// The same through tarvix-capture's run, as the tool makes it: its end is the moment the
// reading file is written.
Run captureWithTool(const QByteArray &bytes, int cps)
{
    Line line;
    QTemporaryDir folder;
    tvx::CaptureOptions options;
    options.device = line.device;
    options.outputPath = folder.path();
    tvx::CaptureOutput output(options.output, options.outputPath);
    tvx::StatusLine status(tvx::StatusLine::Mode::Quiet, [](const QByteArray &) {});
    tvx::SystemSerialControl comm;
    tvx::CaptureRun run(comm, options, output, status);
    QElapsedTimer clock;
    clock.start();
    qint64 writtenAt = -1;
    QString written;
    QObject::connect(&run, &tvx::CaptureRun::written, [&](const QString &where) {
        writtenAt = clock.nsecsElapsed();
        written = where;
    });
    run.start();

    std::atomic<qint64> lastByteAt{0};
    std::thread writer = startWriter(line, bytes, cps, clock, lastByteAt);
    runUntil([&] { return run.isOver(); }, 600000);
    writer.join();
    Run result;
    result.endLatencyMs = (writtenAt - lastByteAt) / 1e6;
    QFile file(written);
    result.exact = file.open(QIODevice::ReadOnly) && file.readAll() == bytes + "\r\n";
    return result;
}

QByteArray pattern(qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = char((i * 7 + i / 256) % 256);
    return bytes;
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir dir;
    QDir::setCurrent(dir.path());
    tvx::configfile::write(1);

    const Run paced = capture(tvx::sim::sampleTransmission().repeated(3), 120, true);
    std::printf("paced 1200 baud, %lld bytes: end %.0f ms after the last byte (goal <= 1335), "
                "longest event-loop stall %.2f ms of %d wake-ups (goal <= 5), byte-exact %s\n",
                (long long)tvx::sim::sampleTransmission().size() * 3, paced.endLatencyMs,
                paced.longestStallMs, paced.stretches, paced.exact ? "yes" : "NO");

    const Run tool = captureWithTool(tvx::sim::sampleTransmission().repeated(3), 120);
    std::printf("tarvix-capture, paced 1200 baud, %lld bytes: file written %.0f ms after the last "
                "byte (goal <= 1335), byte-exact %s\n",
                (long long)tvx::sim::sampleTransmission().size() * 3, tool.endLatencyMs,
                tool.exact ? "yes" : "NO");

    capture(pattern(64 << 10), 0, false); // warm-up: fonts, first layout
    const Run one = capture(pattern(1 << 20), 0, false);
    const Run two = capture(pattern(2 << 20), 0, false);
    std::printf("burst 1 MB: %.0f ms CPU (goal <= 2000), byte-exact %s\n", one.cpuMs,
                one.exact ? "yes" : "NO");
    std::printf("burst 2 MB: %.0f ms CPU (%.2fx the 1 MB burst; goal ~2x), byte-exact %s\n",
                two.cpuMs, two.cpuMs / one.cpuMs, two.exact ? "yes" : "NO");

    // Idle with the port open: no timer of the program runs, so it never wakes up.
    Line line;
    qputenv("TARVIX_COM1", line.device.toLocal8Bit());
    tvx::MainWindow window(std::make_unique<tvx::SystemSerialControl>());
    window.start();
    runUntil([] { return false; }, 200);
    const long switchesBefore = contextSwitches();
    const qint64 cpuBefore = cpuUs();
    QTimer::singleShot(5000, &app, &QCoreApplication::quit);
    QApplication::exec();
    std::printf("idle 5 s with the port open: %ld wake-ups, %.1f ms CPU (goal: none)\n",
                contextSwitches() - switchesBefore - 1, (cpuUs() - cpuBefore) / 1000.0);
    return 0;
}
