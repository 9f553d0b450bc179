#include "command_line.h"

#include "journal/journal_folder.h"
#include "platform/serial/port_lock.h"
#include "port/port_description.h"

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
        "      --journal  Names the folder of the capture journal.\n");
}

} // namespace

namespace {

// The program's options; the parser's own errors (unknown options) are ignored.
struct Options {
    Options()
    {
        // "-stylesheet" and the like are whole words, not bundles of one-letter options that
        // could hold an h or a v.
        parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
        parser.addOptions({help, showVersion, listPorts, journal});
    }
    QCommandLineParser parser;
    const QCommandLineOption help{
        QStringList{QStringLiteral("h"), QStringLiteral("help"), QStringLiteral("?")}};
    const QCommandLineOption showVersion{
        QStringList{QStringLiteral("v"), QStringLiteral("version")}};
    const QCommandLineOption listPorts{QStringLiteral("ports")};
    const QCommandLineOption journal{QStringLiteral("journal")};
};

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

std::optional<QString> commandLineAnswer(const QStringList &arguments, const QString &version,
                                         const std::function<PortMap()> &ports,
                                         const std::function<QString()> &lockNote)
{
    Options options;
    QCommandLineParser &parser = options.parser;
    // Unknown options make parse() report an error; they are ignored all the same.
    parser.parse(arguments);
    if (parser.isSet(options.help))
        return helpText();
    if (parser.isSet(options.showVersion))
        return QStringLiteral("tarvix %1\n").arg(version);
    if (parser.isSet(options.listPorts))
        return portdescription::listing(ports(), lockNote());
    if (parser.isSet(options.journal))
        return journalFolder() + QLatin1Char('\n');
    return std::nullopt;
}

} // namespace tvx
