#include "reading_file.h"

#include "platform/files/files.h"

namespace tvx::readingfile {

QByteArray format(const QByteArray &text)
{
    return text + "\r\n";
}

bool save(const QString &path, const QByteArray &text, QString *reason, bool *noRoom)
{
    return writeFileAtomically(path, format(text), reason, noRoom);
}

QString captureName(const QDateTime &startedAt, int attempt)
{
    const QString stamp = startedAt.toString(QStringLiteral("yyyyMMdd-HHmmss"));
    return attempt <= 1 ? QStringLiteral("readings-%1.dat").arg(stamp)
                        : QStringLiteral("readings-%1-%2.dat").arg(stamp).arg(attempt);
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
