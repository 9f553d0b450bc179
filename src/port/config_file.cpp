#include "config_file.h"

#include "platform/files/files.h"

#include <QFile>
#include <QFileInfo>

namespace tvx::configfile {

namespace {
// More than any number needs; a binary file is not read whole just to be refused.
constexpr qint64 ReadLimit = 4096;

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}
} // namespace

QByteArray format(qint16 port)
{
    return QByteArray::number(port) + "\r\n\r\n";
}

std::optional<qint16> parse(const QByteArray &content)
{
    qsizetype begin = 0;
    while (begin < content.size() &&
           (isBlank(content[begin]) || content[begin] == '\r' || content[begin] == '\n'))
        ++begin;
    qsizetype end = begin;
    while (end < content.size() && content[end] != ',' && content[end] != '\r' &&
           content[end] != '\n')
        ++end;
    const QByteArray value = content.mid(begin, end - begin).trimmed();
    if (value.isEmpty())
        return std::nullopt;
    // Digits only after an optional sign: no blanks inside, no fractions, no hex.
    const qsizetype digits = (value[0] == '-' || value[0] == '+') ? 1 : 0;
    if (digits == value.size())
        return std::nullopt;
    for (qsizetype i = digits; i < value.size(); ++i) {
        if (value[i] < '0' || value[i] > '9')
            return std::nullopt;
    }
    bool ok = false;
    const short number = value.toShort(&ok);
    if (!ok)
        return std::nullopt;
    return number;
}

std::optional<qint16> read(const QString &path)
{
    // A named pipe in its place would hold the start-up until something writes to it, and a
    // device may never end: only a regular file (or a link to one) is read.
    if (!QFileInfo(path).isFile())
        return std::nullopt;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray head = file.read(ReadLimit);
    file.close();
    return parse(head);
}

bool write(qint16 port, QString *reason, const QString &path)
{
    return writeFileAtomically(path, format(port), reason);
}

} // namespace tvx::configfile
