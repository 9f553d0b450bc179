#include "port_description.h"

namespace tvx::portdescription {

namespace {

QString nothingBehind()
{
    return QStringLiteral("no serial port stands behind this number");
}

QString noteLine(const QString &note)
{
    return QStringLiteral("\nNote: %1.").arg(note);
}

} // namespace

QString describe(const PortMap::Entry &entry)
{
    QString text = entry.description;
    if (text.isEmpty()) {
        text = PortMap::isBuiltIn(entry.path) ? QStringLiteral("built-in serial port")
                                              : QStringLiteral("serial port");
    }
    if (!entry.setBy.isEmpty())
        text += QStringLiteral(" (set by %1)").arg(entry.setBy);
    return text;
}

QString hint(const std::optional<PortMap::Entry> &entry,
             const std::optional<SerialControl::OpenFailure> &lastFailure, const QString &lockNote)
{
    QString text = entry ? QStringLiteral("%1 \u2014 %2").arg(entry->path, describe(*entry))
                         : QStringLiteral("No serial port stands behind this number on this "
                                          "computer.");
    if (entry && !lockNote.isEmpty())
        text += noteLine(lockNote);
    // A number with nothing behind it has said why already.
    if (!lastFailure || lastFailure->kind == SerialControl::OpenFailure::NoDevice)
        return text;
    text += QStringLiteral("\nThe last opening failed: %1.").arg(lastFailure->reason);
    if (lastFailure->kind == SerialControl::OpenFailure::Permission) {
        text += QStringLiteral("\nSerial ports belong to the group dialout: add yourself with "
                               "\"sudo adduser $USER dialout\", then log out and in again.");
    } else if (lastFailure->kind == SerialControl::OpenFailure::Busy) {
        text += QStringLiteral("\nAnother program holds the port: end it, then choose Ok again.");
    }
    return text;
}

QString listing(const PortMap &map, const QString &lockNote)
{
    struct Line {
        QString number, device, description;
    };
    QList<Line> lines;
    qsizetype numberWidth = 0;
    qsizetype deviceWidth = 0;
    for (const qint16 port : map.listedNumbers()) {
        const std::optional<PortMap::Entry> entry = map.entry(port);
        Line line{QStringLiteral("COM%1").arg(port), entry ? entry->path : QStringLiteral("-"),
                  entry ? describe(*entry) : nothingBehind()};
        numberWidth = qMax(numberWidth, line.number.size());
        deviceWidth = qMax(deviceWidth, line.device.size());
        lines.append(line);
    }
    QString text;
    for (const Line &line : lines) {
        text += QStringLiteral("%1  %2  %3\n")
                    .arg(line.number, -int(numberWidth))
                    .arg(line.device, -int(deviceWidth))
                    .arg(line.description);
    }
    if (!lockNote.isEmpty())
        text += noteLine(lockNote) + QLatin1Char('\n');
    return text;
}

} // namespace tvx::portdescription
