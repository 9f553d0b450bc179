#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

namespace tvx::test {

// The whole content of a file as bytes; "<unreadable>" when it cannot be read, which no test
// expects as content.
inline QByteArray fileContent(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return "<unreadable>";
    return file.readAll();
}

// Creates or replaces a file with exactly these bytes; false when that fails.
inline bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

} // namespace tvx::test
