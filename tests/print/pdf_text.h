#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

namespace tvx::test {

// A PDF file read back with poppler's pdftotext and pdfinfo.
struct PdfText {
    // The text of each page, top to bottom; empty when the file cannot be read.
    QStringList pages;
    int pageCount = 0;
    QString error;

    static PdfText read(const QString &path);

    // The lines of one page (or of all pages) that show something, blanks collapsed: what a
    // reader sees, whatever spacing the text extraction guesses.
    QStringList visibleLines(int page) const;
    QStringList visibleLines() const;
};

// The lines a report of these printed lines shows, in the same form as PdfText's.
QStringList visibleLines(const QList<QByteArray> &printedLines);

// Reading text lines "   1    10.0", "   2    10.5", ... as the instrument sends them.
QList<QByteArray> numberedReadings(int first, int count);

// Lines joined into a reading text with CR LF line breaks (none after the last one).
QByteArray joinedText(const QList<QByteArray> &lines);

// Prints a report of a reading text and reads back the PDF it made.
using PrintToPdf = std::function<PdfText(const QByteArray &text)>;

// Checks that a report runs on over pages by itself, losing no line at a page break: a first
// report measures how many lines a page holds, then one of two and a half pages' worth of
// lines must come out as three pages, each full but the last.
void verifyReportFillsThreePages(const PrintToPdf &print);

} // namespace tvx::test
