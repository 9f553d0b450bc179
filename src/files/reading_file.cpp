#include "reading_file.h"

#include "platform/files.h"

namespace tvx::readingfile {

QByteArray format(const QByteArray &text)
{
    return text + "\r\n";
}

bool save(const QString &path, const QByteArray &text, QString *reason)
{
    return writeFileAtomically(path, format(text), reason);
}

bool load(const QString &path, QByteArray *text, QString *reason)
{
    return readWholeFile(path, MaxLoadSize, text, reason);
}

QString loadFailure(const QString &path, const QString &reason)
{
    return QStringLiteral("The readings could not be loaded from %1: %2").arg(path, reason);
}

} // namespace tvx::readingfile
