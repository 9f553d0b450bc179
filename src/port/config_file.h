#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace tvx {

// tvx.cfg: the port number in decimal ASCII, CR LF, then an empty line (CR LF). Always addressed
// by its bare name, so it lives in the working directory of the moment.
namespace configfile {

inline QString fileName()
{
    return QStringLiteral("tvx.cfg");
}

QByteArray format(qint16 port);

// The first value of the file, up to the first comma or line end, blanks around it ignored,
// optionally signed; anything but a decimal integer in the 16-bit range is no value.
std::optional<qint16> parse(const QByteArray &content);

// Missing, unreadable or holding no usable number: no value, and in *reason the line that tells
// why, for standard error ("tvx.cfg: no such file in /home/ann", "tvx.cfg: no usable port
// number: the file is empty"). The file is closed on return.
std::optional<qint16> read(QString *reason = nullptr, const QString &path = fileName());

// Replaces the file atomically; an old file survives a failed write. Where the folder takes no
// new file but tvx.cfg itself may be written, it is overwritten in place.
bool write(qint16 port, QString *reason = nullptr, const QString &path = fileName());

} // namespace configfile
} // namespace tvx
