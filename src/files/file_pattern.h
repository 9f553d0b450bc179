#pragma once

#include <QList>
#include <QRegularExpression>
#include <QString>

namespace tvx {

// The file list's pattern: wildcards in the manner of the drive-letter systems the reading
// files come from. "*" stands for any run of characters, "?" for one character, case does
// not matter (R1.DAT matches *.dat), several patterns are separated by ";", and a pattern
// ending in ".*" also takes names without an extension, so "*.*" takes every file.
class FilePattern {
public:
    explicit FilePattern(const QString &text = QString());

    bool matches(const QString &fileName) const;

private:
    QList<QRegularExpression> m_patterns;
};

} // namespace tvx
