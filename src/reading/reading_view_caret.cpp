// The reading area's caret: where each key takes it, as in the toolkit's read-only text boxes
// that take keyboard selection. Every move finds its row through the line index and lays out
// only the rows it passes, so a move costs the same at the start of a long text as at its end.

#include "reading_view.h"

#include "reading/characters.h"

#include <QKeyEvent>

namespace tvx {

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

bool isBreak(char c)
{
    return c == '\r' || c == '\n';
}

} // namespace

bool ReadingView::caretMotion(const QKeyEvent *event, Motion *motion, bool *extend)
{
    // The platform's own keys for each move, as the toolkit's text boxes take them.
    struct Binding {
        QKeySequence::StandardKey move;
        QKeySequence::StandardKey select;
        Motion motion;
    };
    static const Binding bindings[] = {
        {QKeySequence::MoveToNextChar, QKeySequence::SelectNextChar, Motion::NextCharacter},
        {QKeySequence::MoveToPreviousChar, QKeySequence::SelectPreviousChar,
         Motion::PreviousCharacter},
        {QKeySequence::MoveToNextWord, QKeySequence::SelectNextWord, Motion::NextWord},
        {QKeySequence::MoveToPreviousWord, QKeySequence::SelectPreviousWord, Motion::PreviousWord},
        {QKeySequence::MoveToNextLine, QKeySequence::SelectNextLine, Motion::NextRow},
        {QKeySequence::MoveToPreviousLine, QKeySequence::SelectPreviousLine, Motion::PreviousRow},
        {QKeySequence::MoveToNextPage, QKeySequence::SelectNextPage, Motion::NextPage},
        {QKeySequence::MoveToPreviousPage, QKeySequence::SelectPreviousPage, Motion::PreviousPage},
        {QKeySequence::MoveToStartOfLine, QKeySequence::SelectStartOfLine, Motion::RowStart},
        {QKeySequence::MoveToEndOfLine, QKeySequence::SelectEndOfLine, Motion::RowEnd},
        {QKeySequence::MoveToStartOfDocument, QKeySequence::SelectStartOfDocument,
         Motion::TextStart},
        {QKeySequence::MoveToEndOfDocument, QKeySequence::SelectEndOfDocument, Motion::TextEnd},
    };
    for (const Binding &b : bindings) {
        if (event->matches(b.move) || event->matches(b.select)) {
            *motion = b.motion;
            *extend = event->matches(b.select);
            return true;
        }
    }
    return false;
}

void ReadingView::moveCaret(Motion motion, bool extend)
{
    const QByteArray &text = bytes();
    const qint64 size = text.size();
    const qint64 from = m_position;
    const bool selected = selectionEnd() > selectionStart();
    // Up, Down and the page keys keep the caret at the x it had before the first of them.
    const qreal goalX = m_goalX >= 0 ? m_goalX : xOf(from);
    qint64 to = from;
    bool vertical = false;
    switch (motion) {
    case Motion::NextCharacter:
        // Without Shift, a selection is left at its end; a CR LF is one step.
        if (selected && !extend)
            to = selectionEnd();
        else if (from < size)
            to = from +
                 (text.at(from) == '\r' && from + 1 < size && text.at(from + 1) == '\n' ? 2 : 1);
        break;
    case Motion::PreviousCharacter:
        if (selected && !extend)
            to = selectionStart();
        else if (from > 0)
            to = from -
                 (from >= 2 && text.at(from - 1) == '\n' && text.at(from - 2) == '\r' ? 2 : 1);
        break;
    case Motion::NextWord:
        to = nextWord(from);
        break;
    case Motion::PreviousWord:
        to = previousWord(from);
        break;
    case Motion::NextRow:
    case Motion::PreviousRow:
        to = rowsAway(from, motion == Motion::NextRow ? 1 : -1, goalX);
        vertical = true;
        break;
    case Motion::NextPage:
    case Motion::PreviousPage: {
        // The text moves a page, as the scroll bar's page does, and the caret as many rows.
        const qint64 rows = motion == Motion::NextPage ? visibleRowCount() : -visibleRowCount();
        to = rowsAway(from, rows, goalX);
        setTop(moved(m_top, rows));
        vertical = true;
        break;
    }
    case Motion::RowStart:
        to = row(placeOf(from)).start;
        break;
    case Motion::RowEnd:
        to = rowEndOffset(row(placeOf(from)));
        break;
    case Motion::TextStart:
        to = 0;
        break;
    case Motion::TextEnd:
        to = size;
        break;
    }
    setSelection(extend ? m_anchor : to, to);
    if (vertical)
        m_goalX = goalX;
    ensureVisible(to);
    if (extend)
        offerSelection();
}

qint64 ReadingView::rowsAway(qint64 offset, qint64 rows, qreal x)
{
    const Place from = placeOf(offset);
    const Place place = moved(from, rows);
    if (place == from)
        return offset; // no row there: the caret stays
    const Row r = row(place);
    return std::min(hitRow(place, x), rowEndOffset(r));
}

qint64 ReadingView::rowEndOffset(const Row &r) const
{
    const QByteArray &text = bytes();
    // A row that a wrap ends goes on at the same offset on the next row.
    if (r.end > r.start && r.end < text.size() && !isBreak(text.at(r.end)))
        return r.end - 1;
    return r.end;
}

qreal ReadingView::xOf(qint64 offset)
{
    const Row r = row(placeOf(offset));
    const qint64 at = std::clamp<qint64>(offset, r.start, r.end);
    const char *data = bytes().constData() + r.start;
    return m_layout.positions(data, int(at - r.start)).back();
}

// The start of the next word, as Ctrl+Right goes in a text box: past the word (or the one other
// character) at the caret and the blanks after it; a line break is a step of its own.
qint64 ReadingView::nextWord(qint64 offset) const
{
    const QByteArray &text = bytes();
    if (offset >= text.size())
        return text.size();
    if (isBreak(text.at(offset)))
        return offset +
               (text.at(offset) == '\r' && offset + 1 < text.size() && text.at(offset + 1) == '\n'
                    ? 2
                    : 1);
    const qint64 segmentEnd = lines().segment(text, lines().segmentOf(text, offset)).end;
    qint64 at = wordAround(offset).second;
    while (at < segmentEnd && isBlank(text.at(at)))
        ++at;
    return at;
}

// The start of the word before the caret, as Ctrl+Left goes: over the blanks before it, then to
// the word's start; at the start of a line, back over the line break.
qint64 ReadingView::previousWord(qint64 offset) const
{
    const QByteArray &text = bytes();
    if (offset <= 0)
        return 0;
    if (isBreak(text.at(offset - 1)))
        return offset -
               (offset >= 2 && text.at(offset - 1) == '\n' && text.at(offset - 2) == '\r' ? 2 : 1);
    const qint64 segmentStart = lines().segment(text, lines().segmentOf(text, offset - 1)).start;
    qint64 at = offset;
    while (at > segmentStart && isBlank(text.at(at - 1)))
        --at;
    if (at == segmentStart)
        return at;
    return wordAround(at - 1).first;
}

} // namespace tvx
