// The reading area's selection: what is selected, the word or row a click takes, and what goes on
// the clipboard and the primary selection.

#include "reading_view.h"

#include "app/reading_text.h"
#include "reading/characters.h"

#include <QAccessible>
#include <QGuiApplication>

#include <climits>

namespace tvx {

void ReadingView::setSelection(qint64 anchor, qint64 position)
{
    const qint64 size = bytes().size();
    anchor = std::clamp<qint64>(anchor, 0, size);
    position = std::clamp<qint64>(position, 0, size);
    if (anchor == m_anchor && position == m_position)
        return;
    m_anchor = anchor;
    m_position = position;
    viewport()->update();
    if (QAccessible::isActive()) {
        QAccessibleTextSelectionEvent event(this, int(std::min<qint64>(selectionStart(), INT_MAX)),
                                            int(std::min<qint64>(selectionEnd(), INT_MAX)));
        event.setCursorPosition(int(std::min<qint64>(m_position, INT_MAX)));
        QAccessible::updateAccessibility(&event);
    }
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

void ReadingView::selectWordAt(qint64 offset)
{
    const QByteArray &text = bytes();
    if (offset >= text.size())
        return;
    // A word never reaches beyond its segment, so a double-click costs the same anywhere.
    const LineIndex::Segment s = lines().segment(text, lines().segmentOf(text, offset));
    qint64 start = offset;
    qint64 end = offset + 1;
    if (isWordCharacter(text.at(offset))) {
        while (start > s.start && isWordCharacter(text.at(start - 1)))
            --start;
        while (end < s.end && isWordCharacter(text.at(end)))
            ++end;
    }
    setSelection(start, end);
}

void ReadingView::selectRowAt(qint64 offset)
{
    const auto [start, end] = rowAround(offset);
    setSelection(start, end);
}

} // namespace tvx
