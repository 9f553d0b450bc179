#include "command_line.h"

#include <QCommandLineParser>

namespace tvx {

namespace {

QString helpText()
{
    return QStringLiteral(
        "Usage: tarvix [--help] [--version]\n"
        "\n"
        "Tarvix Conectivity captures the readings a Tarvix-1M instrument sends over a serial\n"
        "line (1200 baud, 8N1), shows them as received, and saves, opens and prints them.\n"
        "\n"
        "The serial port (COM1 to COM4) is chosen in the program and kept in tvx.cfg in the\n"
        "folder the program was started from. COM n is /dev/ttyS<n-1>; the environment\n"
        "variable TARVIX_COM<n> maps it to another device, e.g. TARVIX_COM1=/dev/ttyUSB0.\n"
        "Serial devices belong to the group dialout.\n"
        "\n"
        "Options:\n"
        "  -h, --help     Shows this text.\n"
        "  -v, --version  Shows the program's version.\n");
}

} // namespace

std::optional<QString> commandLineAnswer(const QStringList &arguments, const QString &version)
{
    QCommandLineParser parser;
    // "-stylesheet" and the like are whole words, not bundles of one-letter options that
    // could hold an h or a v.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help(
        QStringList{QStringLiteral("h"), QStringLiteral("help"), QStringLiteral("?")});
    const QCommandLineOption showVersion(
        QStringList{QStringLiteral("v"), QStringLiteral("version")});
    parser.addOptions({help, showVersion});
    // Unknown options make parse() report an error; they are ignored all the same.
    parser.parse(arguments);
    if (parser.isSet(help))
        return helpText();
    if (parser.isSet(showVersion))
        return QStringLiteral("tarvix %1\n").arg(version);
    return std::nullopt;
}

} // namespace tvx
