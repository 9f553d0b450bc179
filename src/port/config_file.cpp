#include "config_file.h"

#include "platform/files/files.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace tvx::configfile {

namespace {
// More than any number needs; a binary file is not read whole just to be refused.
constexpr qint64 ReadLimit = 4096;

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

// The first value: up to the first comma or line end, blank lines and blanks around it skipped.
QByteArray firstValue(const QByteArray &content)
{
    qsizetype begin = 0;
    while (begin < content.size() &&
           (isBlank(content[begin]) || content[begin] == '\r' || content[begin] == '\n'))
        ++begin;
    qsizetype end = begin;
    while (end < content.size() && content[end] != ',' && content[end] != '\r' &&
           content[end] != '\n')
        ++end;
    return content.mid(begin, end - begin).trimmed();
}

// Why content that parse() refuses gives no port number; a value that would not read well on a
// terminal (control bytes, a long binary run) is not quoted.
QString whyNoNumber(const QByteArray &content)
{
    if (content.isEmpty())
        return QStringLiteral("the file is empty");
    const QByteArray value = firstValue(content);
    if (value.isEmpty())
        return QStringLiteral("it holds no number");
    constexpr qsizetype QuotedLimit = 20;
    const bool readable =
        value.size() <= QuotedLimit &&
        std::all_of(value.begin(), value.end(), [](char c) { return c >= ' ' && c <= '~'; });
    if (!readable)
        return QStringLiteral("its first value is not a port number");
    return QStringLiteral("\"%1\" is not a port number").arg(QString::fromLatin1(value));
}

// What the file's place holds when it is no regular file to read, or nothing when it is one.
QString whyNotReadable(const QFileInfo &info)
{
    if (!info.exists() && info.isSymLink())
        return QStringLiteral("a symbolic link to %1, which does not exist")
            .arg(info.symLinkTarget());
    if (info.isDir())
        return QStringLiteral("a folder, not a file");
    if (!info.isFile())
        return QStringLiteral("not a regular file");
    return QString();
}
} // namespace

QByteArray format(qint16 port)
{
    return QByteArray::number(port) + "\r\n\r\n";
}

std::optional<qint16> parse(const QByteArray &content)
{
    const QByteArray value = firstValue(content);
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

std::optional<qint16> read(QString *reason, const QString &path)
{
    const auto refuse = [reason, &path](const QString &why) -> std::optional<qint16> {
        if (reason)
            *reason = QStringLiteral("%1: no usable port number: %2").arg(path, why);
        return std::nullopt;
    };
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink()) {
        // A first start: the port has never been chosen in this folder.
        if (reason)
            *reason = QStringLiteral("%1: no such file in %2").arg(path, info.absolutePath());
        return std::nullopt;
    }
    // A named pipe in its place would hold the start-up until something writes to it, and a
    // device may never end: only a regular file (or a link to one) is read.
    if (const QString why = whyNotReadable(info); !why.isEmpty())
        return refuse(why);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return refuse(file.errorString());
    const QByteArray head = file.read(ReadLimit);
    file.close();
    if (const std::optional<qint16> port = parse(head))
        return port;
    return refuse(whyNoNumber(head));
}

bool write(qint16 port, QString *reason, const QString &path)
{
    return writeFileAtomically(path, format(port), reason);
}

} // namespace tvx::configfile
