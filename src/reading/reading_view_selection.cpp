// The reading area's selection: what is selected, the word or row a click takes, and what goes on
// the clipboard and the primary selection.

#include "reading_view.h"

#include "app/reading_text.h"
#include "reading/characters.h"
#include "reading/reading_view_accessible.h"

#include <QGuiApplication>

namespace tvx {

void ReadingView::setSelection(qint64 anchor, qint64 position)
{
    const qint64 size = bytes().size();
    anchor = std::clamp<qint64>(anchor, 0, size);
    position = std::clamp<qint64>(position, 0, size);
    m_goalX = -1;
    if (anchor == m_anchor && position == m_position)
        return;
    const qint64 oldPosition = m_position;
    const std::pair oldSelection(selectionStart(), selectionEnd());
    m_anchor = anchor;
    m_position = position;
    viewport()->update();
    announceCaret(this, oldPosition, oldSelection);
    Q_EMIT selectionChanged();
}

void ReadingView::selectAll()
{
    setSelection(0, bytes().size());
}

QByteArray ReadingView::selectedBytes() const
{
    return bytes().mid(selectionStart(), selectionEnd() - selectionStart());
}

void ReadingView::copy()
{
    if (selectionEnd() > selectionStart())
        m_clipboard.put(QClipboard::Clipboard, bytes(), selectionStart(), selectionEnd());
}

void ReadingView::offerSelection()
{
    if (QGuiApplication::clipboard()->supportsSelection() && selectionEnd() > selectionStart())
        m_clipboard.put(QClipboard::Selection, bytes(), selectionStart(), selectionEnd());
}

std::pair<qint64, qint64> ReadingView::wordAround(qint64 offset) const
{
    const QByteArray &text = bytes();
    offset = std::clamp<qint64>(offset, 0, text.size());
    if (offset == text.size())
        return {offset, offset};
    // A word never reaches beyond its segment, so finding one costs the same anywhere.
    const LineIndex::Segment s = lines().segment(text, lines().segmentOf(text, offset));
    qint64 start = offset;
    qint64 end = offset + 1;
    if (isWordCharacter(text.at(offset))) {
        while (start > s.start && isWordCharacter(text.at(start - 1)))
            --start;
        while (end < s.end && isWordCharacter(text.at(end)))
            ++end;
    }
    return {start, end};
}

void ReadingView::selectWordAt(qint64 offset)
{
    if (offset >= bytes().size())
        return;
    const auto [start, end] = wordAround(offset);
    setSelection(start, end);
}

void ReadingView::selectRowAt(qint64 offset)
{
    const auto [start, end] = rowAround(offset);
    setSelection(start, end);
}

} // namespace tvx
