#pragma once

#include <QByteArray>
#include <QList>

namespace tvx {

// The reading report as data: the lines that Print puts on paper, top to bottom.
//
//   " ID     Reading"     the column headings of the reading area
//   " "                   a line that looks blank
//   the reading text      line for line, unchanged
//   "Report Over"
namespace report {

inline QByteArray heading()
{
    return QByteArrayLiteral(" ID     Reading");
}

inline QByteArray separator()
{
    return QByteArrayLiteral(" ");
}

inline QByteArray closing()
{
    return QByteArrayLiteral("Report Over");
}

// The reading text as printed lines. CR LF, and also LF or CR alone, end a line; nothing is
// trimmed, wrapped or numbered. An empty text is one empty line, and a text that ends with a
// line break leaves one empty line after it.
QList<QByteArray> textLines(const QByteArray &text);

} // namespace report

} // namespace tvx
