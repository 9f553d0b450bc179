#include "capture_options.h"

#include "version_text.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>

#include <cmath>

namespace tvx {

namespace {

// The words of the system the tool runs on: its port names, and where its devices are.
QString helpText()
{
#ifdef Q_OS_WIN
    const QString usage = QStringLiteral("[--port N | --device NAME]");
    const QString device =
        QStringLiteral("  --device NAME   Opens this port instead, by its Windows name: COM7, or\n"
                       "                  \\\\.\\COM12.\n");
    const QString ports = QStringLiteral(
        "COM n stands for the same port as in tarvix: Windows's own COMn (--ports lists\n"
        "them). The environment variable TARVIX_COM<n> maps it to another port, e.g.\n"
        "TARVIX_COM1=COM7.\n");
    const QString config = QStringLiteral(".\\tvx.cfg");
#else
    const QString usage = QStringLiteral("[--port N | --device PATH]");
    const QString device = QStringLiteral(
        "  --device PATH   Opens this device instead, e.g. /dev/ttyUSB0; a relative\n"
        "                  PATH is taken from the current folder, and a bare name\n"
        "                  that is not there from /dev (ttyUSB0).\n");
    const QString ports = QStringLiteral(
        "COM n stands for the same device as in tarvix: the n-th serial port the computer\n"
        "has, built-in ports first, then USB adapters (--ports lists them). The\n"
        "environment variable TARVIX_COM<n> maps it to another device, e.g.\n"
        "TARVIX_COM1=/dev/ttyUSB0. Serial devices belong to the group dialout.\n");
    const QString config = QStringLiteral("./tvx.cfg");
#endif
    return QStringLiteral(
               "Usage: tarvix-capture %1 [--out FILE | --dir FOLDER]\n"
               "                      [--count K] [--wait SECONDS] [--quiet]\n"
               "       tarvix-capture --ports\n"
               "\n"
               "Captures a transmission of a Tarvix-1M instrument from a serial line (1200 baud,\n"
               "8N1) without a display, and writes it as a reading file that Tarvix Conectivity\n"
               "opens: the bytes exactly as received, then CR LF. A transmission starts with its\n"
               "first byte and ends when, for about 1.3 seconds, no more than 32 bytes have\n"
               "piled up.\n"
               "\n"
               "Options:\n"
               "  --port N        Opens COM N (default: the port number in %2; 1 when\n"
               "                  there is no tvx.cfg).\n"
               "%3"
               "  --out FILE      Writes the capture to FILE, replacing it as a whole;\n"
               "                  --out - writes the raw bytes to standard output.\n"
               "  --dir FOLDER    Writes each capture to FOLDER as readings-YYYYMMDD-HHMMSS.dat,\n"
               "                  named by its start time, never overwriting a file\n"
               "                  (default: the current folder).\n"
               "  --count K       Captures K transmissions, then ends (default 1; 0: until\n"
               "                  interrupted).\n"
               "  --wait SECONDS  Gives up when no transmission has started within SECONDS.\n"
               "  --quiet         Prints nothing but errors.\n"
               "  --ports         Lists the serial ports with their COM numbers, and ends.\n"
               "  -h, --help      Shows this text.\n"
               "  -v, --version   Shows the program's version.\n"
               "\n"
               "%4"
               "\n"
               "A capture that finds the disk full waits for room, tried again every second,\n"
               "while the captures go on; what still waits when the program ends is kept in\n"
               "the journal folder and named on standard error.\n"
               "\n"
               "Exit status: 0 all captures written (also when interrupted between captures),\n"
               "1 usage error, 2 the port did not open, 3 --wait ran out with nothing received,\n"
               "4 the device was lost or the program interrupted in the middle of a capture\n"
               "(what arrived is written), 5 a capture could not be written where asked (or\n"
               "standard output took no more).\n")
        .arg(usage, config, device, ports);
}

QString usageError(const QString &problem)
{
    return QStringLiteral("tarvix-capture: %1\nTry 'tarvix-capture --help'.\n").arg(problem);
}

std::optional<qint16> portNumber(const QString &text)
{
    bool ok = false;
    const int port = text.toInt(&ok);
    if (!ok || port < 1 || port > CaptureOptions::MaxPort)
        return std::nullopt;
    return static_cast<qint16>(port);
}

std::optional<int> captureCount(const QString &text)
{
    bool ok = false;
    const int count = text.toInt(&ok);
    if (!ok || count < 0)
        return std::nullopt;
    return count;
}

// Whole and decimal seconds ("1", "2.5"), as milliseconds, at least 1.
std::optional<int> waitMilliseconds(const QString &text)
{
    bool ok = false;
    const double seconds = text.toDouble(&ok);
    if (!ok || !std::isfinite(seconds) || seconds <= 0 || seconds > CaptureOptions::MaxWaitSeconds)
        return std::nullopt;
    return static_cast<int>(std::ceil(seconds * 1000));
}

} // namespace

ToolCommandLine parseToolCommandLine(const QStringList &arguments, const QString &version)
{
    using Action = ToolCommandLine::Action;
    QCommandLineParser parser;
    const QCommandLineOption help(
        QStringList{QStringLiteral("h"), QStringLiteral("help"), QStringLiteral("?")});
    const QCommandLineOption showVersion(
        QStringList{QStringLiteral("v"), QStringLiteral("version")});
    const QCommandLineOption port(QStringLiteral("port"), QString(), QStringLiteral("N"));
    const QCommandLineOption device(QStringLiteral("device"), QString(), QStringLiteral("PATH"));
    const QCommandLineOption out(QStringLiteral("out"), QString(), QStringLiteral("FILE"));
    const QCommandLineOption dir(QStringLiteral("dir"), QString(), QStringLiteral("FOLDER"));
    const QCommandLineOption count(QStringLiteral("count"), QString(), QStringLiteral("K"));
    const QCommandLineOption wait(QStringLiteral("wait"), QString(), QStringLiteral("SECONDS"));
    const QCommandLineOption quiet(QStringLiteral("quiet"));
    const QCommandLineOption ports(QStringLiteral("ports"));
    parser.addOptions({help, showVersion, port, device, out, dir, count, wait, quiet, ports});

    ToolCommandLine result;
    const bool parsed = parser.parse(arguments);
    if (parser.isSet(help)) {
        result.action = Action::Help;
        result.text = helpText();
        return result;
    }
    if (parser.isSet(showVersion)) {
        result.action = Action::Version;
        result.text = versionText(QStringLiteral("tarvix-capture"), version);
        return result;
    }
    const auto fail = [&result](const QString &problem) {
        result.action = Action::UsageError;
        result.text = usageError(problem);
        return result;
    };
    if (!parsed) {
        // Qt's "Unknown option 'x'." in the form of the tool's own messages.
        QString problem = parser.errorText();
        if (problem.endsWith(QLatin1Char('.')))
            problem.chop(1);
        if (!problem.isEmpty())
            problem[0] = problem.at(0).toLower();
        return fail(problem);
    }
    // As tarvix answers it: the listing, whatever else the command line asks.
    if (parser.isSet(ports)) {
        result.action = Action::Ports;
        return result;
    }
    if (!parser.positionalArguments().isEmpty())
        return fail(QStringLiteral("unexpected argument \"%1\"")
                        .arg(parser.positionalArguments().constFirst()));
    if (parser.isSet(port) && parser.isSet(device))
        return fail(QStringLiteral("--port and --device exclude each other"));
    if (parser.isSet(out) && parser.isSet(dir))
        return fail(QStringLiteral("--out and --dir exclude each other"));

    CaptureOptions &options = result.options;
    if (parser.isSet(port)) {
        options.port = portNumber(parser.value(port));
        if (!options.port)
            return fail(QStringLiteral("--port takes a port number from 1 to %1, not \"%2\"")
                            .arg(CaptureOptions::MaxPort)
                            .arg(parser.value(port)));
    }
    if (parser.isSet(device)) {
        options.device = parser.value(device);
        if (options.device.isEmpty())
            return fail(QStringLiteral("--device takes the path of a device"));
    }
    if (parser.isSet(out)) {
        options.outputPath = parser.value(out);
        options.output = options.outputPath == QLatin1String("-") ? OutputKind::StandardOutput
                                                                  : OutputKind::File;
        if (options.outputPath.isEmpty())
            return fail(QStringLiteral("--out takes a file name, or - for standard output"));
    }
    if (parser.isSet(dir)) {
        options.outputPath = parser.value(dir);
        if (options.outputPath.isEmpty())
            return fail(QStringLiteral("--dir takes a folder"));
    }
    if (parser.isSet(count)) {
        const std::optional<int> k = captureCount(parser.value(count));
        if (!k)
            return fail(QStringLiteral("--count takes a number of captures, 0 or more, not \"%1\"")
                            .arg(parser.value(count)));
        options.count = *k;
    }
    // A second capture would replace the first: more than one needs a folder or a stream.
    if (options.output == OutputKind::File && options.count != 1)
        return fail(QStringLiteral("--out FILE holds one capture; --count %1 needs --dir FOLDER "
                                   "or --out -")
                        .arg(options.count));
    if (parser.isSet(wait)) {
        const std::optional<int> ms = waitMilliseconds(parser.value(wait));
        if (!ms)
            return fail(QStringLiteral("--wait takes a number of seconds above 0 (at most %1), "
                                       "not \"%2\"")
                            .arg(CaptureOptions::MaxWaitSeconds, 0, 'f', 0)
                            .arg(parser.value(wait)));
        options.waitMs = *ms;
        options.waitText = parser.value(wait);
    }
    options.quiet = parser.isSet(quiet);
    return result;
}

QString devicePath(const QString &given)
{
#ifdef Q_OS_WIN
    // A port's name (COM7, \\.\COM12) is no path in any folder.
    return given;
#else
    if (QDir::isAbsolutePath(given))
        return given;
    if (given.contains(QLatin1Char('/')) || QFileInfo::exists(given))
        return QFileInfo(given).absoluteFilePath();
    return QStringLiteral("/dev/") + given;
#endif
}

} // namespace tvx
