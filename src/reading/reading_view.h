#pragma once

#include "reading/clipboard_writer.h"
#include "reading/line_index.h"
#include "reading/row_layout.h"

#include <QAbstractScrollArea>
#include <QElapsedTimer>
#include <QRawFont>
#include <QTimer>

#include <unordered_map>
#include <vector>

namespace tvx {

class ReadingText;

// The reading area: shows the reading text read-only, straight from its bytes (one Latin-1
// character each), with CR LF, LF and CR each a line break and lines wrapped at the area's width.
// Only the visible rows are laid out, through the text's line index, so a text of any length is
// shown, scrolled and added to at the cost of what is on screen.
//
// The scroll bar counts bytes (the start of the top row); the view itself scrolls by rows, and
// the scroll bar's steps and pages move by rows as the keys do. A line is wrapped from its start,
// a line longer than a segment (64 KiB) from the start of each segment.
//
// The position is the keyboard caret, as in a read-only text box that takes keyboard selection:
// the arrows, Home, End and the page keys move it (with Shift they extend the selection), and the
// view follows it.
//
// Its work is spread by job: layout and scrolling (reading_view.cpp), drawing
// (reading_view_paint.cpp), selection and clipboard (reading_view_selection.cpp), the caret's
// moves (reading_view_caret.cpp), keyboard and mouse (reading_view_input.cpp); assistive
// technology reads it through ReadingViewAccessible.
class ReadingView : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit ReadingView(QWidget *parent = nullptr);
    ~ReadingView() override;

    // The text to show; set once, before the view is used.
    void setReadingText(ReadingText *text);
    const ReadingText *readingText() const { return m_text; }
    // The text's bytes and line index (empty ones before a text is set).
    const QByteArray &bytes() const;
    const LineIndex &lines() const;

    // The selection: the bytes from the anchor to the position (the caret), in either order.
    qint64 anchor() const { return m_anchor; }
    qint64 position() const { return m_position; }
    qint64 selectionStart() const { return std::min(m_anchor, m_position); }
    qint64 selectionEnd() const { return std::max(m_anchor, m_position); }
    void setSelection(qint64 anchor, qint64 position);
    void selectAll();
    QByteArray selectedBytes() const;
    // Puts the selected bytes on the clipboard as text, one character each.
    void copy();
    // The point sizes Ctrl+wheel adds to the font, as in the toolkit's read-only text boxes.
    void zoomBy(qreal points);

    // The text offset nearest to a point of the viewport, and the box of the character at an
    // offset (empty when it is not on screen).
    qint64 offsetAt(const QPoint &point);
    QRect characterRect(qint64 offset);
    // The visual row around offset: [start, end) of the text, without the line break.
    std::pair<qint64, qint64> rowAround(qint64 offset);
    // The stretch of word characters around offset, or the one character there that is not one,
    // within the part of its line that is laid out at once: [start, end) of the text.
    std::pair<qint64, qint64> wordAround(qint64 offset) const;
    // Scrolls so that offset is on screen.
    void ensureVisible(qint64 offset);
    void scrollToTop();
    void scrollToEnd();
    // The rows on screen, as [start, end) of the text, top to bottom.
    std::vector<std::pair<qint64, qint64>> visibleRows();

Q_SIGNALS:
    void selectionChanged();

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    // The space around the text, as in the toolkit's text boxes.
    static constexpr int Margin = 4;

    // A place in the laid-out text: a row of a segment.
    struct Place {
        qint64 segment = 0;
        qint64 row = 0;
        bool operator<(const Place &o) const
        {
            return segment < o.segment || (segment == o.segment && row < o.row);
        }
        bool operator==(const Place &o) const { return segment == o.segment && row == o.row; }
    };
    struct Row {
        qint64 start;
        qint64 end;
    };

    void textAboutToReplace();
    void textReplaced();
    void textAppended(const QByteArray &block);
    void takeFont();
    // Where the rows of a segment begin, relative to its start (laid out on first use).
    const std::vector<int> &rowsOf(qint64 segment);
    Row row(const Place &place);
    qreal wrapWidth() const;
    int visibleRowCount() const;
    // Moves the top row by delta rows, within the text.
    Place moved(Place place, qint64 delta);
    void setTop(const Place &top);
    void updateEnd();
    void syncScrollBar();
    // How far byte offsets are shifted right to fit the scroll bar's range.
    int scrollShift() const;
    qint64 hitRow(const Place &place, qreal x);
    Place placeOf(qint64 offset);
    // A scroll bar's step or page, or a move to its ends, as the keys move.
    void scrollBarAction(int action);
    void moveSelection(const QPoint &point);
    void selectWordAt(qint64 offset);
    void selectRowAt(qint64 offset);
    // Puts the selection on the primary selection, as a mouse selection does on X11.
    void offerSelection();

    // Where a key takes the caret.
    enum class Motion {
        NextCharacter,
        PreviousCharacter,
        NextWord,
        PreviousWord,
        NextRow,
        PreviousRow,
        NextPage,
        PreviousPage,
        RowStart,
        RowEnd,
        TextStart,
        TextEnd,
    };
    // The motion a key asks for, and whether it extends the selection; false for other keys.
    static bool caretMotion(const QKeyEvent *event, Motion *motion, bool *extend);
    void moveCaret(Motion motion, bool extend);
    // The caret's offset a number of rows away, as near to x as the row allows.
    qint64 rowsAway(qint64 offset, qint64 rows, qreal x);
    // The last caret offset of a row: before the character that a wrap ends it with, so that
    // the caret stays on the row.
    qint64 rowEndOffset(const Row &row) const;
    qreal xOf(qint64 offset);
    qint64 nextWord(qint64 offset) const;
    qint64 previousWord(qint64 offset) const;

    ReadingText *m_text = nullptr;
    RowLayout m_layout;
    int m_rowHeight = 1;
    int m_ascent = 0;
    std::unordered_map<qint64, std::vector<int>> m_rows;
    Place m_top;
    Place m_end; // the top row that shows the last row at the bottom
    bool m_syncing = false;
    qint64 m_anchor = 0;
    qint64 m_position = 0;
    // The x that Up, Down and the page keys keep the caret at, while they move it; -1 after any
    // other move.
    qreal m_goalX = -1;
    bool m_dragging = false;
    QPoint m_dragPoint;
    QTimer m_dragScroll;
    // A press this soon after a double-click, near it, is a triple-click.
    QElapsedTimer m_sinceDoubleClick;
    QPoint m_doubleClickPoint;
    qint64 m_oldSize = 0; // the text's size before a replacement, for assistive technology
    ClipboardWriter m_clipboard;
};

} // namespace tvx
