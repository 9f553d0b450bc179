#include "reading_view_accessible.h"

#include "reading/reading_view.h"

#include <climits>

namespace tvx {

namespace {

int clampInt(qint64 value)
{
    return int(std::min<qint64>(value, INT_MAX));
}

// Bytes as the characters an event or request carries, no more than the limit.
QString limited(const char *bytes, qint64 size)
{
    return QString::fromLatin1(bytes, std::min<qint64>(size, ReadingViewAccessible::TextLimit));
}

// The end of the line break at offset, if one begins there.
qint64 afterBreak(const QByteArray &text, qint64 at)
{
    if (at < text.size() && text.at(at) == '\r')
        return at + 1 < text.size() && text.at(at + 1) == '\n' ? at + 2 : at + 1;
    return at < text.size() && text.at(at) == '\n' ? at + 1 : at;
}

QAccessibleInterface *makeInterface(const QString &className, QObject *object)
{
    if (className == QLatin1String("tvx::ReadingView") && object && object->isWidgetType())
        return new ReadingViewAccessible(static_cast<ReadingView *>(object));
    return nullptr;
}

} // namespace

// The events cost no more than TextLimit characters each, so they are made whether or not a
// screen reader listens; the toolkit passes them on only when one does.
void announceReplaced(ReadingView *view, qint64 oldSize)
{
    const QByteArray &bytes = view->bytes();
    if (oldSize == 0 && bytes.isEmpty())
        return;
    // The old text is gone: like the toolkit's text boxes, say how much went, in blanks.
    const QString removed(int(std::min<qint64>(oldSize, ReadingViewAccessible::TextLimit)),
                          QLatin1Char(' '));
    const QString inserted = limited(bytes.constData(), bytes.size());
    if (oldSize == 0) {
        QAccessibleTextInsertEvent event(view, 0, inserted);
        QAccessible::updateAccessibility(&event);
    } else if (bytes.isEmpty()) {
        QAccessibleTextRemoveEvent event(view, 0, removed);
        QAccessible::updateAccessibility(&event);
    } else {
        QAccessibleTextUpdateEvent event(view, 0, removed, inserted);
        QAccessible::updateAccessibility(&event);
    }
}

void announceAppended(ReadingView *view, qint64 position, const QByteArray &block)
{
    QAccessibleTextInsertEvent event(view, clampInt(position),
                                     limited(block.constData(), block.size()));
    QAccessible::updateAccessibility(&event);
}

void announceCaret(ReadingView *view, qint64 oldPosition, std::pair<qint64, qint64> oldSelection)
{
    if (!QAccessible::isActive())
        return;
    if (view->position() != oldPosition) {
        QAccessibleTextCursorEvent event(view, clampInt(view->position()));
        QAccessible::updateAccessibility(&event);
    }
    const auto none = [](std::pair<qint64, qint64> s) { return s.first == s.second; };
    const std::pair selection(view->selectionStart(), view->selectionEnd());
    if (selection == oldSelection || (none(selection) && none(oldSelection)))
        return;
    QAccessibleTextSelectionEvent event(view, clampInt(selection.first),
                                        clampInt(selection.second));
    event.setCursorPosition(clampInt(view->position()));
    QAccessible::updateAccessibility(&event);
}

void installReadingViewAccessibility()
{
    static const bool installed = [] {
        QAccessible::installFactory(makeInterface);
        return true;
    }();
    Q_UNUSED(installed)
}

ReadingViewAccessible::ReadingViewAccessible(ReadingView *view)
    : QAccessibleWidget(view, QAccessible::EditableText)
{
}

ReadingView *ReadingViewAccessible::view() const
{
    return static_cast<ReadingView *>(widget());
}

QAccessible::State ReadingViewAccessible::state() const
{
    QAccessible::State s = QAccessibleWidget::state();
    s.readOnly = true;
    s.multiLine = true;
    s.selectableText = true;
    s.editable = false;
    return s;
}

QString ReadingViewAccessible::text(QAccessible::Text t) const
{
    if (t == QAccessible::Value)
        return text(0, characterCount());
    return QAccessibleWidget::text(t);
}

void *ReadingViewAccessible::interface_cast(QAccessible::InterfaceType t)
{
    if (t == QAccessible::TextInterface)
        return static_cast<QAccessibleTextInterface *>(this);
    return QAccessibleWidget::interface_cast(t);
}

void ReadingViewAccessible::selection(int selectionIndex, int *startOffset, int *endOffset) const
{
    *startOffset = *endOffset = 0;
    if (selectionIndex == 0 && selectionCount() == 1) {
        *startOffset = clampInt(view()->selectionStart());
        *endOffset = clampInt(view()->selectionEnd());
    }
}

int ReadingViewAccessible::selectionCount() const
{
    return view()->selectionEnd() > view()->selectionStart() ? 1 : 0;
}

void ReadingViewAccessible::addSelection(int startOffset, int endOffset)
{
    setSelection(0, startOffset, endOffset);
}

void ReadingViewAccessible::removeSelection(int selectionIndex)
{
    if (selectionIndex == 0)
        view()->setSelection(view()->position(), view()->position());
}

void ReadingViewAccessible::setSelection(int selectionIndex, int startOffset, int endOffset)
{
    if (selectionIndex == 0)
        view()->setSelection(startOffset, endOffset);
}

int ReadingViewAccessible::cursorPosition() const
{
    return clampInt(view()->position());
}

void ReadingViewAccessible::setCursorPosition(int position)
{
    view()->setSelection(position, position);
    view()->ensureVisible(view()->position());
}

QString ReadingViewAccessible::text(int startOffset, int endOffset) const
{
    const QByteArray &bytes = view()->bytes();
    const qint64 start = std::clamp<qint64>(startOffset, 0, bytes.size());
    // An end of -1 asks for everything.
    const qint64 end =
        endOffset < 0 ? bytes.size() : std::clamp<qint64>(endOffset, start, bytes.size());
    return limited(bytes.constData() + start, end - start);
}

std::pair<qint64, qint64> ReadingViewAccessible::range(qint64 offset,
                                                       QAccessible::TextBoundaryType type) const
{
    const QByteArray &bytes = view()->bytes();
    const LineIndex &lines = view()->lines();
    const qint64 size = bytes.size();
    offset = std::clamp<qint64>(offset, 0, size);
    switch (type) {
    case QAccessible::CharBoundary:
        return {offset, std::min(offset + 1, size)};
    case QAccessible::WordBoundary:
        if (offset == size)
            return {offset, offset};
        return view()->wordAround(offset);
    case QAccessible::LineBoundary: {
        // A row as shown, with the line break that ends it.
        const auto [start, end] = view()->rowAround(offset);
        return {start, afterBreak(bytes, end)};
    }
    case QAccessible::SentenceBoundary:
    case QAccessible::ParagraphBoundary: {
        const qint64 line = lines.lineOf(bytes, offset);
        return {lines.lineStart(bytes, line), afterBreak(bytes, lines.lineEnd(bytes, line))};
    }
    case QAccessible::NoBoundary:
        break;
    }
    return {0, size};
}

QString ReadingViewAccessible::rangeText(std::pair<qint64, qint64> r, int *startOffset,
                                         int *endOffset) const
{
    *startOffset = clampInt(r.first);
    *endOffset = clampInt(r.second);
    return text(*startOffset, *endOffset);
}

QString ReadingViewAccessible::textAtOffset(int offset, QAccessible::TextBoundaryType boundaryType,
                                            int *startOffset, int *endOffset) const
{
    return rangeText(range(offset, boundaryType), startOffset, endOffset);
}

QString ReadingViewAccessible::textBeforeOffset(int offset,
                                                QAccessible::TextBoundaryType boundaryType,
                                                int *startOffset, int *endOffset) const
{
    const qint64 start = range(offset, boundaryType).first;
    if (start == 0) {
        *startOffset = *endOffset = 0;
        return QString();
    }
    return rangeText(range(start - 1, boundaryType), startOffset, endOffset);
}

QString ReadingViewAccessible::textAfterOffset(int offset,
                                               QAccessible::TextBoundaryType boundaryType,
                                               int *startOffset, int *endOffset) const
{
    const qint64 end = range(offset, boundaryType).second;
    if (end >= view()->bytes().size()) {
        *startOffset = *endOffset = characterCount();
        return QString();
    }
    return rangeText(range(end, boundaryType), startOffset, endOffset);
}

int ReadingViewAccessible::characterCount() const
{
    return clampInt(view()->bytes().size());
}

QRect ReadingViewAccessible::characterRect(int offset) const
{
    const QRect box = view()->characterRect(offset);
    if (box.isNull())
        return QRect();
    return QRect(view()->viewport()->mapToGlobal(box.topLeft()), box.size());
}

int ReadingViewAccessible::offsetAtPoint(const QPoint &point) const
{
    const QPoint local = view()->viewport()->mapFromGlobal(point);
    if (!view()->viewport()->rect().contains(local))
        return -1;
    return clampInt(view()->offsetAt(local));
}

void ReadingViewAccessible::scrollToSubstring(int startIndex, int endIndex)
{
    view()->ensureVisible(endIndex);
    view()->ensureVisible(startIndex);
}

QString ReadingViewAccessible::attributes(int offset, int *startOffset, int *endOffset) const
{
    Q_UNUSED(offset)
    *startOffset = 0;
    *endOffset = characterCount();
    return QString();
}

} // namespace tvx
