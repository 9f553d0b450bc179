// tarvix-sim: plays the Tarvix-1M on a serial line. It creates a pseudo-terminal (and prints the
// device the program should open) or writes to a given device, then sends a reading file or a
// built-in sample transmission, paced like a real 1200-baud line, never altering a byte.

#include "transmission.h"
#include "version_text.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>

#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

volatile std::sig_atomic_t g_stop = 0;

void stop(int)
{
    g_stop = 1;
}

bool writeAll(int fd, const char *data, qint64 size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size_t(size));
        if (n < 0 && errno == EINTR && !g_stop)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= n;
    }
    return true;
}

void sleepMs(qint64 ms)
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!g_stop && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tarvix-sim"));
    QCommandLineParser cli;
    cli.setApplicationDescription(QStringLiteral(
        "Plays the Tarvix-1M instrument on a serial line. Without --device it creates a "
        "pseudo-terminal and prints its path on the first line of output."));
    const QCommandLineOption help(
        QStringList{QStringLiteral("h"), QStringLiteral("help"), QStringLiteral("?")},
        QStringLiteral("Show this text."));
    const QCommandLineOption showVersion(
        QStringList{QStringLiteral("v"), QStringLiteral("version")},
        QStringLiteral("Show the version."));
    const QCommandLineOption device(QStringLiteral("device"),
                                    QStringLiteral("Write to this device instead."),
                                    QStringLiteral("path"));
    const QCommandLineOption file(QStringLiteral("file"),
                                  QStringLiteral("Send this file (default: a sample)."),
                                  QStringLiteral("path"));
    const QCommandLineOption delay(QStringLiteral("delay"),
                                   QStringLiteral("Wait before the first transmission."),
                                   QStringLiteral("ms"), QStringLiteral("0"));
    const QCommandLineOption repeat(QStringLiteral("repeat"),
                                    QStringLiteral("Send again every so many seconds."),
                                    QStringLiteral("seconds"), QStringLiteral("0"));
    const QCommandLineOption pauseAfter(QStringLiteral("pause-after"),
                                        QStringLiteral("Pause after this many bytes."),
                                        QStringLiteral("bytes"), QStringLiteral("-1"));
    const QCommandLineOption pauseMs(QStringLiteral("pause-ms"),
                                     QStringLiteral("Length of that pause."), QStringLiteral("ms"),
                                     QStringLiteral("2000"));
    const QCommandLineOption fast(QStringLiteral("fast"),
                                  QStringLiteral("Send as fast as the line takes it."));
    const QCommandLineOption cps(QStringLiteral("cps"),
                                 QStringLiteral("Characters per second (120 = 1200 baud 8N1)."),
                                 QStringLiteral("n"), QStringLiteral("120"));
    const QCommandLineOption hangup(
        QStringLiteral("hangup"),
        QStringLiteral("Hang up (close the line) once sent and drained."));
    cli.addOptions(
        {help, showVersion, device, file, delay, repeat, pauseAfter, pauseMs, fast, cps, hangup});
    // The answers and refusals of tarvix and tarvix-capture, with the program named as such
    // rather than by the path it was started from.
    const bool parsed = cli.parse(app.arguments());
    if (cli.isSet(help)) {
        const QString text = cli.helpText();
        std::fputs(qPrintable(QStringLiteral("Usage: tarvix-sim [options]") +
                              text.mid(text.indexOf(QLatin1Char('\n')))),
                   stdout);
        return 0;
    }
    if (cli.isSet(showVersion)) {
        std::fputs(
            qPrintable(tvx::versionText(QStringLiteral("tarvix-sim"), QStringLiteral(TVX_VERSION))),
            stdout);
        return 0;
    }
    if (!parsed) {
        QString problem = cli.errorText();
        problem.chop(problem.endsWith(QLatin1Char('.')) ? 1 : 0);
        problem[0] = problem.at(0).toLower();
        std::fprintf(stderr, "tarvix-sim: %s\nTry 'tarvix-sim --help'.\n", qPrintable(problem));
        return 1;
    }

    QByteArray bytes = tvx::sim::sampleTransmission();
    if (cli.isSet(file)) {
        QFile in(cli.value(file));
        if (!in.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "tarvix-sim: %s: %s\n", qPrintable(in.fileName()),
                         qPrintable(in.errorString()));
            return 2;
        }
        bytes = in.readAll();
    }
    tvx::sim::Pacing pacing;
    pacing.charsPerSecond = cli.isSet(fast) ? 0 : cli.value(cps).toInt();
    pacing.pauseAfter = cli.value(pauseAfter).toLongLong();
    pacing.pauseMs = cli.value(pauseMs).toInt();

    std::signal(SIGTERM, stop);
    std::signal(SIGINT, stop);
    std::signal(SIGHUP, stop);
    std::signal(SIGPIPE, SIG_IGN);

    int out = -1;
    int slave = -1; // held open so the terminal stays usable until the program opens it
    if (cli.isSet(device)) {
        out = ::open(cli.value(device).toLocal8Bit().constData(), O_WRONLY | O_NOCTTY);
        if (out < 0) {
            std::perror("tarvix-sim: open");
            return 2;
        }
    } else {
        char name[PATH_MAX] = {};
        termios raw{};
        cfmakeraw(&raw);
        if (openpty(&out, &slave, name, &raw, nullptr) != 0) {
            std::perror("tarvix-sim: openpty");
            return 2;
        }
        std::printf("%s\n", name);
        std::fflush(stdout);
    }

    sleepMs(cli.value(delay).toLongLong());
    const qint64 every = cli.value(repeat).toLongLong() * 1000;
    const auto write = [out](const char *data, qint64 size) { return writeAll(out, data, size); };
    bool ok = true;
    while (!g_stop && ok) {
        ok = tvx::sim::send(bytes, pacing, write);
        if (every <= 0)
            break;
        sleepMs(every);
    }
    if (!ok && !g_stop) {
        std::perror("tarvix-sim: write");
        return 1;
    }
    // Let the line drain (a pseudo-terminal drops what its reader has not taken when it
    // hangs up), then keep it up until told to stop, unless asked to hang up.
    tcdrain(out);
    sleepMs(300);
    while (!g_stop && !cli.isSet(hangup) && slave >= 0)
        sleepMs(100);
    ::close(out);
    if (slave >= 0)
        ::close(slave);
    return 0;
}
