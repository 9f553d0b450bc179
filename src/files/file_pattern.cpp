#include "file_pattern.h"

namespace tvx {

namespace {

QString toExpression(QStringView wildcards)
{
    QString expression;
    for (const QChar c : wildcards) {
        if (c == QLatin1Char('*'))
            expression += QLatin1String(".*");
        else if (c == QLatin1Char('?'))
            expression += QLatin1Char('.');
        else
            expression += QRegularExpression::escape(QString(c));
    }
    return expression;
}

} // namespace

FilePattern::FilePattern(const QString &text)
{
    const QStringList parts = text.split(QLatin1Char(';'), Qt::SkipEmptyParts);
    for (const QString &part : parts) {
        const QString wildcards = part.trimmed();
        if (wildcards.isEmpty())
            continue;
        QString expression;
        if (wildcards.endsWith(QLatin1String(".*"))) {
            const QStringView stem = QStringView(wildcards).chopped(2);
            expression = toExpression(stem) + QLatin1String("(\\..*)?");
        } else {
            expression = toExpression(wildcards);
        }
        m_patterns.append(QRegularExpression(QRegularExpression::anchoredPattern(expression),
                                             QRegularExpression::CaseInsensitiveOption |
                                                 QRegularExpression::DotMatchesEverythingOption));
    }
}

bool FilePattern::matches(const QString &fileName) const
{
    for (const QRegularExpression &pattern : m_patterns) {
        if (pattern.match(fileName).hasMatch())
            return true;
    }
    return false;
}

} // namespace tvx
