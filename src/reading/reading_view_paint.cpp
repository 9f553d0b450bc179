// The reading area's drawing: the rows on screen, the selection over them, and, while the area
// has the keyboard focus, the caret and the focus frame.

#include "reading_view.h"

#include "platform/windows.h"
#include "reading/characters.h"

#include <QGlyphRun>
#include <QPainter>
#include <QStyle>

namespace tvx {

void ReadingView::paintEvent(QPaintEvent *)
{
    QPainter painter(viewport());
    const QPalette::ColorGroup group = hasFocus() ? QPalette::Active : QPalette::Inactive;
    const QColor text = palette().color(group, QPalette::Text);
    const QColor highlight = palette().color(group, QPalette::Highlight);
    const QColor highlighted = palette().color(group, QPalette::HighlightedText);
    const qint64 selStart = selectionStart();
    const qint64 selEnd = selectionEnd();
    const char *data = bytes().constData();
    // The caret shows where the keys go on from only while they come here.
    const bool caretShown = hasFocus();
    const Place caretPlace = caretShown ? placeOf(m_position) : Place();
    const int caretWidth = std::max(1, style()->pixelMetric(QStyle::PM_TextCursorWidth));

    Place place = m_top;
    for (int y = Margin; y < viewport()->height(); y += m_rowHeight) {
        const Row r = row(place);
        const int n = int(r.end - r.start);
        const std::vector<qreal> xs = m_layout.positions(data + r.start, n);
        QGlyphRun run;
        QList<quint32> glyphs;
        QList<QPointF> positions;
        for (int i = 0; i < n; ++i) {
            const uchar c = uchar(data[r.start + i]);
            if (c != ' ' && isShown(c)) {
                glyphs.append(m_layout.glyphs().glyph(c));
                positions.append(QPointF(xs[size_t(i)], 0));
            }
        }
        const QPointF origin(Margin, y + m_ascent);
        const auto draw = [&](const QColor &color) {
            painter.setPen(color);
            if (m_layout.glyphs().rawFont().isValid()) {
                run.setRawFont(m_layout.glyphs().rawFont());
                run.setGlyphIndexes(glyphs);
                run.setPositions(positions);
                painter.drawGlyphRun(origin, run);
            } else {
                painter.setFont(font());
                painter.drawText(origin, QString::fromLatin1(data + r.start, n));
            }
        };
        draw(text);
        const qint64 from = std::max(selStart, r.start);
        const qint64 to = std::min(selEnd, r.end);
        if (from < to || (from == r.end && selEnd > r.end)) {
            const qreal left = Margin + xs[size_t(from - r.start)];
            // A selection that goes on past the row reaches the edge.
            const qreal right =
                selEnd > r.end ? viewport()->width() : Margin + xs[size_t(to - r.start)];
            const QRectF box(left, y, right - left, m_rowHeight);
            painter.fillRect(box, highlight);
            painter.save();
            painter.setClipRect(box);
            draw(highlighted);
            painter.restore();
        }
        if (caretShown && place == caretPlace) {
            const qreal x = Margin + xs[size_t(std::clamp<qint64>(m_position - r.start, 0, n))];
            painter.fillRect(QRectF(x, y, caretWidth, m_rowHeight), text);
        }
        const Place next = moved(place, 1);
        if (next == place)
            break;
        place = next;
    }
    // The area shows that it has the keyboard focus as the style shows it on its controls, also
    // when the focus came back after a capture rather than by Tab: a text box's caret would.
    if (hasFocus())
        drawFocusFrame(this, &painter, viewport()->rect());
}

void ReadingView::focusInEvent(QFocusEvent *event)
{
    QAbstractScrollArea::focusInEvent(event);
    viewport()->update();
}

void ReadingView::focusOutEvent(QFocusEvent *event)
{
    QAbstractScrollArea::focusOutEvent(event);
    viewport()->update();
}

} // namespace tvx
