#include "pdf_text.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTest>

namespace tvx::test {

namespace {

bool run(const QString &program, const QStringList &arguments, QByteArray *output, QString *error)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
        *error = QStringLiteral("%1 failed: %2 %3")
                     .arg(program, process.errorString(),
                          QString::fromLocal8Bit(process.readAllStandardError()));
        return false;
    }
    *output = process.readAllStandardOutput();
    return true;
}

} // namespace

PdfText PdfText::read(const QString &path)
{
    PdfText pdf;
    QByteArray info;
    QByteArray text;
    if (!run(QStringLiteral("pdfinfo"), {path}, &info, &pdf.error) ||
        !run(QStringLiteral("pdftotext"),
             {QStringLiteral("-layout"), QStringLiteral("-enc"), QStringLiteral("UTF-8"), path,
              QStringLiteral("-")},
             &text, &pdf.error))
        return pdf;
    const auto pages =
        QRegularExpression(QStringLiteral("^Pages:\\s+(\\d+)"), QRegularExpression::MultilineOption)
            .match(QString::fromUtf8(info));
    pdf.pageCount = pages.hasMatch() ? pages.captured(1).toInt() : 0;
    // pdftotext ends every page with a form feed.
    pdf.pages = QString::fromUtf8(text).split(QLatin1Char('\f'));
    if (!pdf.pages.isEmpty() && pdf.pages.last().trimmed().isEmpty())
        pdf.pages.removeLast();
    return pdf;
}

QStringList PdfText::visibleLines(int page) const
{
    QStringList lines;
    const QStringList all = pages.value(page).split(QLatin1Char('\n'));
    for (const QString &line : all) {
        if (!line.trimmed().isEmpty())
            lines.append(line.simplified());
    }
    return lines;
}

QStringList PdfText::visibleLines() const
{
    QStringList lines;
    for (int page = 0; page < pages.size(); ++page)
        lines.append(visibleLines(page));
    return lines;
}

QStringList visibleLines(const QList<QByteArray> &printedLines)
{
    QStringList lines;
    for (const QByteArray &line : printedLines) {
        const QString shown = QString::fromLatin1(line).simplified();
        if (!shown.isEmpty())
            lines.append(shown);
    }
    return lines;
}

QList<QByteArray> numberedReadings(int first, int count)
{
    QList<QByteArray> lines;
    for (int id = first; id < first + count; ++id) {
        lines.append(QByteArray::number(id).rightJustified(4, ' ') + "    " +
                     QByteArray::number(10 + id * 0.5, 'f', 1).rightJustified(6, ' '));
    }
    return lines;
}

QByteArray joinedText(const QList<QByteArray> &lines)
{
    return lines.join("\r\n");
}

void verifyReportFillsThreePages(const PrintToPdf &print)
{
    const PdfText probe = print(joinedText(numberedReadings(1, 200)));
    QVERIFY2(probe.pageCount >= 2, qPrintable(probe.error));
    const QStringList firstPage = probe.visibleLines(0);
    QCOMPARE(firstPage.value(0), QStringLiteral("ID Reading"));
    // The heading and the separator line, then readings.
    const int perPage = int(firstPage.size()) - 1 + 2;
    // A normal print size: about 60 lines on A4 or Letter.
    QVERIFY2(perPage >= 45 && perPage <= 90, qPrintable(QString::number(perPage)));

    const int count = 2 * perPage + perPage / 2 - 3;
    const QList<QByteArray> readings = numberedReadings(1, count);
    const PdfText pdf = print(joinedText(readings));
    QVERIFY2(pdf.error.isEmpty(), qPrintable(pdf.error));
    QCOMPARE(pdf.pageCount, 3);
    QCOMPARE(pdf.pages.size(), 3);
    QList<QByteArray> report{" ID     Reading", " "};
    report.append(readings);
    report.append("Report Over");
    QCOMPARE(pdf.visibleLines(), visibleLines(report));
    // Every page but the last is full.
    const auto shown = [](const QByteArray &line) {
        return QString::fromLatin1(line).simplified();
    };
    QCOMPARE(pdf.visibleLines(1).value(0), shown(readings.at(perPage - 2)));
    QCOMPARE(pdf.visibleLines(1).size(), perPage);
    QCOMPARE(pdf.visibleLines(2).value(0), shown(readings.at(2 * perPage - 2)));
    QCOMPARE(pdf.visibleLines(2).last(), QStringLiteral("Report Over"));
}

} // namespace tvx::test
