// tarvix-capture's command line: what each option asks for, the bounds of its values, and the
// texts a user reads for --help, --version and every usage error.

#include "capture_tool/capture_options.h"

#include <QDir>
#include <QTest>

using namespace tvx;

namespace {

#ifdef Q_OS_WIN
constexpr bool windows = true;
#else
constexpr bool windows = false;
#endif

QStringList words(const char *text)
{
    return QString::fromUtf8(text).split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

ToolCommandLine parse(const QStringList &arguments)
{
    return parseToolCommandLine(QStringList{QStringLiteral("tarvix-capture")} + arguments,
                                QStringLiteral("1.2"));
}

// The options in one line, so that a table row can say what it expects.
QString describe(const CaptureOptions &o)
{
    const char *kinds[] = {"folder", "file", "stdout"};
    return QStringLiteral("port=%1 device=%2 out=%3:%4 count=%5 wait=%6 quiet=%7")
        .arg(o.port ? QString::number(*o.port) : QStringLiteral("-"), o.device,
             QLatin1String(kinds[int(o.output)]), o.outputPath)
        .arg(o.count)
        .arg(o.waitMs)
        .arg(int(o.quiet));
}

QString usage(const char *problem)
{
    return QStringLiteral("tarvix-capture: %1\nTry 'tarvix-capture --help'.\n")
        .arg(QString::fromUtf8(problem));
}

} // namespace

class TestToolCommandLine : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void options_data();
    void options();
    void usageErrors_data();
    void usageErrors();
    void answers_data();
    void answers();
    void helpSpeaksTheSystemsWords();
    void deviceNames_data();
    void deviceNames();
};

void TestToolCommandLine::options_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("expected");

    const auto row = [](const char *name, const char *arguments, const char *expected) {
        QTest::newRow(name) << words(arguments) << QString::fromUtf8(expected);
    };
    row("defaults", "", "port=- device= out=folder:. count=1 wait=0 quiet=0");
    row("--port 1, the lowest", "--port 1", "port=1 device= out=folder:. count=1 wait=0 quiet=0");
    row("--port 32767, the highest", "--port 32767",
        "port=32767 device= out=folder:. count=1 wait=0 quiet=0");
    row("--count 0, until interrupted", "--count 0",
        "port=- device= out=folder:. count=0 wait=0 quiet=0");
    row("--count 0 with --out -", "--out - --count 0",
        "port=- device= out=stdout:- count=0 wait=0 quiet=0");
    row("--wait 2.5", "--wait 2.5", "port=- device= out=folder:. count=1 wait=2500 quiet=0");
    row("--wait 0.001", "--wait 0.001", "port=- device= out=folder:. count=1 wait=1 quiet=0");
    // Rounded up to whole milliseconds: never down to 0, which would wait for ever.
    row("--wait 0.0001, rounded up", "--wait 0.0001",
        "port=- device= out=folder:. count=1 wait=1 quiet=0");
    row("--wait 1.0001, rounded up", "--wait 1.0001",
        "port=- device= out=folder:. count=1 wait=1001 quiet=0");
    row("--wait 2147483, the longest", "--wait 2147483",
        "port=- device= out=folder:. count=1 wait=2147483000 quiet=0");
}

void TestToolCommandLine::options()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, expected);
    const ToolCommandLine result = parse(arguments);
    QCOMPARE(result.text, QString());
    QCOMPARE(int(result.action), int(ToolCommandLine::Action::Capture));
    QCOMPARE(describe(result.options), expected);
}

void TestToolCommandLine::usageErrors_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("expected");

    const auto row = [](const char *name, const QStringList &arguments, const char *problem) {
        QTest::newRow(name) << arguments << usage(problem);
    };
    row("unknown option", words("--bogus"), "unknown option 'bogus'");
    row("option without its value", words("--port"), "missing value after '--port'");
    row("value for a switch", words("--quiet=yes"), "unexpected value after '--quiet'");
    row("stray word", words("COM1"), "unexpected argument \"COM1\"");
    row("--port 0", words("--port 0"), "--port takes a port number from 1 to 32767, not \"0\"");
    row("--port 32768", words("--port 32768"),
        "--port takes a port number from 1 to 32767, not \"32768\"");
    row("--port COM2", words("--port COM2"),
        "--port takes a port number from 1 to 32767, not \"COM2\"");
    row("--port and --device", words("--port 2 --device /dev/ttyUSB0"),
        "--port and --device exclude each other");
    row("--out and --dir", words("--out r.dat --dir d"), "--out and --dir exclude each other");
    row("empty --device", {QStringLiteral("--device"), QString()},
        "--device takes the path of a device");
    row("empty --out", {QStringLiteral("--out"), QString()},
        "--out takes a file name, or - for standard output");
    row("empty --dir", {QStringLiteral("--dir"), QString()}, "--dir takes a folder");
    row("--count -1", words("--count=-1"),
        "--count takes a number of captures, 0 or more, not \"-1\"");
    row("--count 2 into one file", words("--out r.dat --count 2"),
        "--out FILE holds one capture; --count 2 needs --dir FOLDER or --out -");
    row("--count 0 into one file", words("--out r.dat --count 0"),
        "--out FILE holds one capture; --count 0 needs --dir FOLDER or --out -");
    row("--wait 0", words("--wait 0"),
        "--wait takes a number of seconds above 0 (at most 2147483), not \"0\"");
    row("--wait 2147484", words("--wait 2147484"),
        "--wait takes a number of seconds above 0 (at most 2147483), not \"2147484\"");
    row("--wait inf", words("--wait inf"),
        "--wait takes a number of seconds above 0 (at most 2147483), not \"inf\"");
    row("--ports beside an unknown option", words("--ports --bogus"), "unknown option 'bogus'");
}

void TestToolCommandLine::usageErrors()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, expected);
    const ToolCommandLine result = parse(arguments);
    QCOMPARE(int(result.action), int(ToolCommandLine::Action::UsageError));
    QCOMPARE(result.text, expected);
}

void TestToolCommandLine::answers_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("action");

    const int help = int(ToolCommandLine::Action::Help);
    const int version = int(ToolCommandLine::Action::Version);
    const int ports = int(ToolCommandLine::Action::Ports);
    QTest::newRow("--help") << words("--help") << help;
    QTest::newRow("-h") << words("-h") << help;
    QTest::newRow("-?") << words("-?") << help;
    QTest::newRow("--version") << words("--version") << version;
    QTest::newRow("-v") << words("-v") << version;
    QTest::newRow("help wins over version") << words("--version --help") << help;
    QTest::newRow("help beside a bad option") << words("--port 0 --help") << help;
    QTest::newRow("version beside a stray word") << words("COM1 --version") << version;
    QTest::newRow("--ports") << words("--ports") << ports;
    QTest::newRow("--ports beside a capture's options")
        << words("--port 3 --out r.dat --ports") << ports;
    QTest::newRow("help wins over ports") << words("--ports --help") << help;
}

void TestToolCommandLine::answers()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, action);
    const ToolCommandLine result = parse(arguments);
    QCOMPARE(int(result.action), action);
    // The version's whole text, with the licence, is compared where the program prints it
    // (tst_capture_tool).
    if (action == int(ToolCommandLine::Action::Version)) {
        QVERIFY2(result.text.startsWith(QLatin1String("tarvix-capture 1.2\nCopyright")),
                 qPrintable(result.text));
    } else if (action == int(ToolCommandLine::Action::Help)) {
        QVERIFY2(result.text.startsWith(
                     QStringLiteral(
                         "Usage: tarvix-capture [--port N | --device %1] [--out FILE | --dir "
                         "FOLDER]\n                      [--count K] [--wait SECONDS] [--quiet]\n"
                         "       tarvix-capture --ports\n")
                         .arg(QLatin1String(windows ? "NAME" : "PATH"))),
                 qPrintable(result.text));
    } else {
        QCOMPARE(result.text, QString()); // the listing is the machine's: the program makes it
    }
}

// A Windows user reads of COM ports, a Linux user of devices and the group that may open them.
void TestToolCommandLine::helpSpeaksTheSystemsWords()
{
    const QString help = parse(words("--help")).text;
    QVERIFY(help.contains(QLatin1String(
        "  --ports         Lists the serial ports with their COM numbers, and ends.\n")));
    const QString linuxWords[] = {QStringLiteral("/dev"), QStringLiteral("dialout")};
    for (const QString &word : linuxWords)
        QCOMPARE(help.contains(word), !windows);
    if (windows) {
        QVERIFY2(
            help.contains(QLatin1String(
                "  --port N        Opens COM N (default: the port number in .\\tvx.cfg; 1 when\n"
                "                  there is no tvx.cfg).\n"
                "  --device NAME   Opens this port instead, by its Windows name: COM7, or\n"
                "                  \\\\.\\COM12.\n")),
            qPrintable(help));
        QVERIFY2(help.contains(QLatin1String(
                     "COM n stands for the same port as in tarvix: Windows's own COMn (--ports "
                     "lists\nthem). The environment variable TARVIX_COM<n> maps it to another "
                     "port, e.g.\nTARVIX_COM1=COM7.\n")),
                 qPrintable(help));
    }
}

// What --device opens: on Windows the port's name as given, on Linux a path.
void TestToolCommandLine::deviceNames_data()
{
    QTest::addColumn<QString>("given");
    QTest::addColumn<QString>("opened"); // {cwd}: the current folder
    if (windows) {
        QTest::newRow("a COM port") << "COM7"
                                    << "COM7";
        QTest::newRow("a port by its device name") << "\\\\.\\COM12"
                                                   << "\\\\.\\COM12";
    } else {
        QTest::newRow("a bare name") << "ttyUSB0"
                                     << "/dev/ttyUSB0";
        QTest::newRow("an absolute path") << "/srv/lab/instrument"
                                          << "/srv/lab/instrument";
        QTest::newRow("a relative path") << "lab/instrument"
                                         << "{cwd}/lab/instrument";
    }
}

void TestToolCommandLine::deviceNames()
{
    QFETCH(QString, given);
    QFETCH(QString, opened);
    opened.replace(QStringLiteral("{cwd}"), QDir::currentPath());
    QCOMPARE(devicePath(given), opened);
}

QTEST_GUILESS_MAIN(TestToolCommandLine)
#include "tst_tool_command_line.moc"
