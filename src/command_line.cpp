#include "command_line.h"

#include "journal/journal_folder.h"
#include "platform/serial/port_lock.h"
#include "port/port_description.h"
#include "version_text.h"

#include <QCommandLineParser>

namespace tvx {

namespace {

QString helpText()
{
    return QStringLiteral(
        "Usage: tarvix [--help] [--version] [--ports] [--journal] [FILE]\n"
        "\n"
        "Tarvix Conectivity captures the readings a Tarvix-1M instrument sends over a serial\n"
        "line (1200 baud, 8N1), shows them as received, and saves, opens and prints them.\n"
        "FILE, a reading file, is opened as soon as the program has started.\n"
        "\n"
        "The serial port (COM1 to COM4) is chosen in the program and kept in tvx.cfg in the\n"
        "folder the program was started from. COM n is the n-th serial port the computer\n"
        "has: built-in ports first, then USB adapters (--ports lists them). The environment\n"
        "variable TARVIX_COM<n> maps COM n to any device, e.g. TARVIX_COM1=/dev/ttyUSB0.\n"
        "Serial devices belong to the group dialout.\n"
        "\n"
        "Every capture is also kept, as it arrives, in the capture journal (--journal names\n"
        "its folder): the newest 500, as reading files that File Open opens.\n"
        "\n"
        "Options:\n"
        "  -h, --help     Shows this text.\n"
        "  -v, --version  Shows the program's version.\n"
        "      --ports    Lists the serial ports with their COM numbers.\n"
        "      --journal  Names the folder of the capture journal.\n"
        "\n"
        "The toolkit's own options, such as -platform, -style, -stylesheet and -reverse,\n"
        "are taken too; any other option is refused.\n");
}

} // namespace

namespace {

// The toolkit's own options, which QApplication takes out of the command line itself, with a
// dash or two. Those with a value take the next word, as the toolkit does.
const char ToolkitOptionsWithValue[] =
    "platform platformpluginpath platformtheme plugin qwindowgeometry qwindowicon qwindowtitle "
    "geometry title icon display name visual session style stylesheet qmljsdebugger";
const char ToolkitSwitches[] = "reverse testability widgetcount nograb dograb qdevel qdebug";

// The program's options, and the toolkit's so that they are not taken for unknown ones.
struct Options {
    Options()
    {
        // "-stylesheet" and the like are whole words, not bundles of one-letter options that
        // could hold an h or a v.
        parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
        parser.addOptions({help, showVersion, listPorts, journal});
        const QChar blank = QLatin1Char(' ');
        for (const QString &name : QString::fromLatin1(ToolkitOptionsWithValue).split(blank))
            parser.addOption(QCommandLineOption(name, QString(), QStringLiteral("value")));
        for (const QString &name : QString::fromLatin1(ToolkitSwitches).split(blank))
            parser.addOption(QCommandLineOption(name));
    }
    QCommandLineParser parser;
    const QCommandLineOption help{
        QStringList{QStringLiteral("h"), QStringLiteral("help"), QStringLiteral("?")}};
    const QCommandLineOption showVersion{
        QStringList{QStringLiteral("v"), QStringLiteral("version")}};
    const QCommandLineOption listPorts{QStringLiteral("ports")};
    const QCommandLineOption journal{QStringLiteral("journal")};
};

// The refusal of options the program does not know, in the words of tarvix-capture's.
CommandLineAnswer refusal(const QStringList &unknown)
{
    const QString problem =
        unknown.size() == 1
            ? QStringLiteral("unknown option '%1'").arg(unknown.constFirst())
            : QStringLiteral("unknown options: %1").arg(unknown.join(QStringLiteral(", ")));
    return {QStringLiteral("tarvix: %1\nTry 'tarvix --help'.\n").arg(problem), 1};
}

} // namespace

QString readingFileArgument(const QStringList &arguments)
{
    Options options;
    options.parser.parse(arguments);
    return options.parser.positionalArguments().value(0);
}

QString systemLockNote()
{
    return lockFolderNote(systemLockFolder());
}

std::optional<CommandLineAnswer> commandLineAnswer(const QStringList &arguments,
                                                   const QString &version,
                                                   const std::function<PortMap()> &ports,
                                                   const std::function<QString()> &lockNote)
{
    Options options;
    QCommandLineParser &parser = options.parser;
    // A toolkit option without its value makes parse() report an error too; the toolkit
    // decides what it does with it.
    parser.parse(arguments);
    if (parser.isSet(options.help))
        return CommandLineAnswer{helpText()};
    if (parser.isSet(options.showVersion))
        return CommandLineAnswer{versionText(QStringLiteral("tarvix"), version)};
    if (!parser.unknownOptionNames().isEmpty())
        return refusal(parser.unknownOptionNames());
    if (parser.isSet(options.listPorts))
        return CommandLineAnswer{portdescription::listing(ports(), lockNote())};
    if (parser.isSet(options.journal))
        return CommandLineAnswer{journalFolder() + QLatin1Char('\n')};
    return std::nullopt;
}

} // namespace tvx
