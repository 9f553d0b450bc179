#include "reading_view.h"

#include "app/reading_text.h"

#include <QPlainTextEdit>
#include <QTextCursor>

namespace tvx {

ReadingView::ReadingView(ReadingText &text, QPlainTextEdit &area, QObject *parent)
    : QObject(parent), m_text(text), m_area(area)
{
    m_area.setUndoRedoEnabled(false);
    connect(&m_text, &ReadingText::replaced, this, &ReadingView::show);
    connect(&m_text, &ReadingText::appended, this, &ReadingView::add);
    show();
}

QString ReadingView::displayed(const QByteArray &bytes, bool *afterCr, int *runLength)
{
    QString out;
    out.reserve(bytes.size() + bytes.size() / MaxRun + 1);
    for (const char byte : bytes) {
        const bool wasAfterCr = std::exchange(*afterCr, byte == '\r');
        if (byte == '\n' && wasAfterCr)
            continue; // the LF of a CR LF, even when the CR ended the previous block
        if (byte == '\r' || byte == '\n') {
            out.append(QLatin1Char('\n'));
            *runLength = 0;
            continue;
        }
        if (*runLength == MaxRun) {
            out.append(QLatin1Char('\n'));
            *runLength = 0;
        }
        out.append(QLatin1Char(byte));
        ++*runLength;
    }
    return out;
}

void ReadingView::show()
{
    m_afterCr = false;
    m_runLength = 0;
    m_area.setPlainText(displayed(m_text.bytes(), &m_afterCr, &m_runLength));
}

void ReadingView::add(const QByteArray &block)
{
    // A cursor of our own: the user's view and selection stay where they are.
    QTextCursor cursor(m_area.document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(displayed(block, &m_afterCr, &m_runLength));
}

} // namespace tvx
