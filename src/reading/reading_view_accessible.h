#pragma once

#include <QAccessible>
#include <QAccessibleWidget>

namespace tvx {

class ReadingView;

// The reading area as assistive technology sees it: a read-only, multi-line text whose
// characters are the reading text's bytes, one each, with its lines, selection and the
// character at a point. One request gets at most TextLimit characters, so that asking for the
// whole of a large text never holds the window.
class ReadingViewAccessible : public QAccessibleWidget, public QAccessibleTextInterface {
public:
    static constexpr int TextLimit = 1024 * 1024;

    explicit ReadingViewAccessible(ReadingView *view);

    QAccessible::State state() const override;
    QString text(QAccessible::Text t) const override;
    void *interface_cast(QAccessible::InterfaceType t) override;

    void selection(int selectionIndex, int *startOffset, int *endOffset) const override;
    int selectionCount() const override;
    void addSelection(int startOffset, int endOffset) override;
    void removeSelection(int selectionIndex) override;
    void setSelection(int selectionIndex, int startOffset, int endOffset) override;
    int cursorPosition() const override;
    void setCursorPosition(int position) override;
    QString text(int startOffset, int endOffset) const override;
    QString textBeforeOffset(int offset, QAccessible::TextBoundaryType boundaryType,
                             int *startOffset, int *endOffset) const override;
    QString textAfterOffset(int offset, QAccessible::TextBoundaryType boundaryType,
                            int *startOffset, int *endOffset) const override;
    QString textAtOffset(int offset, QAccessible::TextBoundaryType boundaryType, int *startOffset,
                         int *endOffset) const override;
    int characterCount() const override;
    QRect characterRect(int offset) const override;
    int offsetAtPoint(const QPoint &point) const override;
    void scrollToSubstring(int startIndex, int endIndex) override;
    QString attributes(int offset, int *startOffset, int *endOffset) const override;

private:
    ReadingView *view() const;
    // The stretch of the given kind around offset, as [start, end).
    std::pair<qint64, qint64> range(qint64 offset, QAccessible::TextBoundaryType type) const;
    QString rangeText(std::pair<qint64, qint64> r, int *startOffset, int *endOffset) const;
};

// Makes assistive technology use ReadingViewAccessible for every reading view.
void installReadingViewAccessibility();

// Tell assistive technology of a change of the view's text, as the toolkit's text boxes did: a
// text replaced (oldSize the size before), and a block added at position. Each event carries at
// most TextLimit characters.
void announceReplaced(ReadingView *view, qint64 oldSize);
void announceAppended(ReadingView *view, qint64 position, const QByteArray &block);
// Tell it that the caret or the selection changed, as the toolkit's text boxes do: the caret's
// move first, then the selection's change (an empty selection is none, wherever the caret is).
void announceCaret(ReadingView *view, qint64 oldPosition, std::pair<qint64, qint64> oldSelection);

} // namespace tvx
