#pragma once

#include <QRegularExpression>
#include <QString>

namespace tvx::test {

// Whether text is exactly what a template says, where the template is literal text but for
// "{s}" (seconds with one decimal, "1.3"), "{n}" (a whole number), "{file}" (a reading file
// named by its start time, "readings-20240307-150409.dat") and "{reason}" (the system's words
// for a failure: some text on one line).
inline bool matchesTemplate(const QString &text, const QString &expected)
{
    QString pattern = QRegularExpression::escape(expected);
    pattern.replace(QStringLiteral("\\{s\\}"), QStringLiteral("\\d+\\.\\d"));
    pattern.replace(QStringLiteral("\\{n\\}"), QStringLiteral("\\d+"));
    pattern.replace(QStringLiteral("\\{file\\}"), QStringLiteral("readings-\\d{8}-\\d{6}\\.dat"));
    pattern.replace(QStringLiteral("\\{reason\\}"), QStringLiteral("[^\\n]+"));
    return QRegularExpression(QRegularExpression::anchoredPattern(pattern)).match(text).hasMatch();
}

} // namespace tvx::test

// Compares text with a template of matchesTemplate(), showing both when they differ.
#define COMPARE_TEMPLATE(text, expected)                                                           \
    QVERIFY2(tvx::test::matchesTemplate((text), (expected)),                                       \
             qPrintable(QStringLiteral("\n   Actual: %1\n Expected: %2")                           \
                            .arg(QString(text), QString(expected))))
