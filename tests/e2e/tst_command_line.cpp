// The program's command line: --version, --help, --ports and --journal are answered, the
// toolkit's options are let through, any other option is refused, and the first word that is no
// option names a reading file to open.

#include "command_line.h"

#include <QTest>

using Request = QString; // "run", "version", "help", "ports", or the text answered

namespace {

Request requestOf(const QStringList &arguments)
{
    // A Linux machine with one built-in UART (ports named by enumeration on Windows too).
    const auto machine = [] {
        return tvx::PortMap({{QStringLiteral("/dev/ttyS0"), QString()}},
                            tvx::PortMap::Naming::Enumerated);
    };
    const auto answer = tvx::commandLineAnswer(QStringList{QStringLiteral("tarvix")} + arguments,
                                               QStringLiteral("1.2"), machine);
    if (!answer)
        return QStringLiteral("run");
    // A refusal goes to standard error, with status 1.
    if (answer->exitStatus != 0)
        return QStringLiteral("[%1] %2").arg(answer->exitStatus).arg(answer->text);
    const QString &text = answer->text;
    if (text.startsWith(QLatin1String("Usage: tarvix")))
        return QStringLiteral("help");
    if (text == QLatin1String("COM1  /dev/ttyS0  built-in serial port\n"
                              "COM2  -           no serial port stands behind this number\n"
                              "COM3  -           no serial port stands behind this number\n"
                              "COM4  -           no serial port stands behind this number\n"))
        return QStringLiteral("ports");
    const QLatin1String version("tarvix 1.2\n"
                                "Copyright (C) 2026 The Tarvix Conectivity maintainers\n"
                                "License GPL-3.0-or-later: GNU GPL version 3 or later "
                                "<https://gnu.org/licenses/gpl.html>.\n"
                                "This is free software: you are free to change and redistribute "
                                "it.\n"
                                "There is NO WARRANTY, to the extent permitted by law.\n");
    return text == version ? QStringLiteral("version") : text;
}

} // namespace

class TestCommandLine : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase()
    {
        qputenv("XDG_STATE_HOME", "/srv/state");
        qputenv("LOCALAPPDATA", "D:\\Users\\tech\\AppData\\Local");
    }
    void request_data();
    void request();
    void helpStatesTheLineSettings();
    void readingFile_data();
    void readingFile();
};

void TestCommandLine::request_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<Request>("expected");

    const auto list = [](const char *words) {
        return QString::fromLatin1(words).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    };
    const Request run = QStringLiteral("run");
    const Request version = QStringLiteral("version");
    const Request help = QStringLiteral("help");
    const Request ports = QStringLiteral("ports");

    QTest::newRow("none") << QStringList() << run;
    QTest::newRow("--version") << list("--version") << version;
    QTest::newRow("-v") << list("-v") << version;
    QTest::newRow("--help") << list("--help") << help;
    QTest::newRow("-h") << list("-h") << help;
    QTest::newRow("-?") << list("-?") << help;
    QTest::newRow("help wins over version") << list("--version --help") << help;
    QTest::newRow("after unknown options") << list("--bogus -x --version") << version;
    QTest::newRow("after a stray word") << list("readings.dat --help") << help;
    // Qt's own options are single-dash words; their letters are no options of the program.
    QTest::newRow("-stylesheet holds an h") << list("-stylesheet dark.qss") << run;
    QTest::newRow("-reverse holds a v") << list("-reverse") << run;
    // The toolkit's options with one dash or two, a value after them or joined by =.
    QTest::newRow("-platform xcb") << list("-platform xcb") << run;
    QTest::newRow("--platform xcb") << list("--platform xcb") << run;
    QTest::newRow("-display") << list("-display :1 -name tarvix -nograb") << run;
    QTest::newRow("-style=") << list("-style=fusion -qwindowtitle Readings") << run;
    QTest::newRow("stray words") << list("COM1 readings.dat") << run;
    QTest::newRow("a file named like an option after --") << list("-- --version --bogus") << run;
    QTest::newRow("--help with a value") << list("--help=all") << help;
    const auto refused = [](const char *problem) {
        return QStringLiteral("[1] tarvix: %1\nTry 'tarvix --help'.\n")
            .arg(QString::fromLatin1(problem));
    };
    QTest::newRow("an unknown option")
        << list("--no-such-option") << refused("unknown option 'no-such-option'");
    QTest::newRow("unknown options")
        << list("--bogus -x --port=2") << refused("unknown options: bogus, x, port");
    QTest::newRow("one dash") << list("-bogus readings.dat") << refused("unknown option 'bogus'");
    QTest::newRow("beside the toolkit's")
        << list("-platform xcb --bogus") << refused("unknown option 'bogus'");
    QTest::newRow("a toolkit option's value is no option") << list("-stylesheet --bogus") << run;
    QTest::newRow("before --ports") << list("--bogus --ports") << refused("unknown option 'bogus'");
    QTest::newRow("--ports") << list("--ports") << ports;
    QTest::newRow("-ports as Qt spells options") << list("-ports") << ports;
    QTest::newRow("help wins over ports") << list("--ports --help") << help;
    QTest::newRow("version wins over ports") << list("--ports -v") << version;
#ifdef Q_OS_WIN
    const Request journal = QStringLiteral("D:\\Users\\tech\\AppData\\Local\\Tarvix\\captures\n");
#else
    const Request journal = QStringLiteral("/srv/state/tarvix/captures\n");
#endif
    QTest::newRow("--journal") << list("--journal") << journal;
    QTest::newRow("ports win over journal") << list("--journal --ports") << ports;
    QTest::newRow("help wins over journal") << list("--journal -h") << help;
}

void TestCommandLine::request()
{
    QFETCH(QStringList, arguments);
    QFETCH(Request, expected);
    QCOMPARE(requestOf(arguments), expected);
}

// The instrument sends at 1200 baud, 8 data bits, no parity, 1 stop bit; --help tells a user
// setting up an adapter the same.
void TestCommandLine::helpStatesTheLineSettings()
{
    const auto answer = tvx::commandLineAnswer({QStringLiteral("tarvix"), QStringLiteral("--help")},
                                               QStringLiteral("1.2"));
    QVERIFY(answer);
    QVERIFY2(answer->text.contains(QStringLiteral("(1200 baud, 8N1)")), qPrintable(answer->text));
}

// The reading file to open: the first word that is no option.
void TestCommandLine::readingFile_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("file");
    const auto list = [](const char *words) {
        return QString::fromLatin1(words).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    };
    QTest::newRow("none") << QStringList() << "";
    QTest::newRow("one") << list("readings.dat") << "readings.dat";
    QTest::newRow("the first of two") << list("a.dat b.dat") << "a.dat";
    // The toolkit leaves -geometry to the program on a platform other than X11's.
    QTest::newRow("after the toolkit's options") << list("-geometry 640x480 a.dat") << "a.dat";
    QTest::newRow("named like an option after --") << list("-- --version") << "--version";
}

void TestCommandLine::readingFile()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, file);
    QCOMPARE(tvx::readingFileArgument(QStringList{QStringLiteral("tarvix")} + arguments), file);
}

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_command_line.moc"
