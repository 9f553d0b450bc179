#include "reading_view.h"

#include "app/reading_text.h"
#include "reading/characters.h"
#include "reading/reading_view_accessible.h"

#include <QAccessible>
#include <QFontMetrics>
#include <QScrollBar>
#include <QtMath>

#include <climits>

namespace tvx {

namespace {

// The toolkit's text boxes set tab stops 80 pixels apart.
constexpr qreal TabWidth = 80;
// Rows of segments laid out and kept; more are dropped at once.
constexpr size_t KeptSegments = 4096;

} // namespace

ReadingView::ReadingView(QWidget *parent) : QAbstractScrollArea(parent)
{
    installReadingViewAccessibility();
    setFocusPolicy(Qt::StrongFocus);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    viewport()->setCursor(Qt::IBeamCursor);
    viewport()->setBackgroundRole(QPalette::Base);
    viewport()->setAutoFillBackground(true);
    m_dragScroll.setInterval(50);
    connect(&m_dragScroll, &QTimer::timeout, this, [this] { moveSelection(m_dragPoint); });
    connect(verticalScrollBar(), &QScrollBar::actionTriggered, this, &ReadingView::scrollBarAction);
    takeFont();
}

ReadingView::~ReadingView() = default;

void ReadingView::setReadingText(ReadingText *text)
{
    m_text = text;
    connect(text, &ReadingText::aboutToReplace, this, &ReadingView::textAboutToReplace);
    connect(text, &ReadingText::replaced, this, &ReadingView::textReplaced);
    connect(text, &ReadingText::appended, this, &ReadingView::textAppended);
    textReplaced();
}

const QByteArray &ReadingView::bytes() const
{
    static const QByteArray none;
    return m_text ? m_text->bytes() : none;
}

const LineIndex &ReadingView::lines() const
{
    static const LineIndex none;
    return m_text ? m_text->lines() : none;
}

void ReadingView::takeFont()
{
    const QFont shown = font();
    const QFontMetrics metrics(shown);
    m_layout = RowLayout(std::make_shared<GlyphTable>(shown), TabWidth);
    // The toolkit's text box rounds each line's exact height up to whole pixels; so do we, so
    // that as many lines show at once as there.
    m_rowHeight = std::max(1, qCeil(QFontMetricsF(shown).height()));
    m_ascent = metrics.ascent();
    m_rows.clear();
    updateEnd();
    setTop(m_top);
}

void ReadingView::textAboutToReplace()
{
    m_oldSize = bytes().size();
}

void ReadingView::textReplaced()
{
    m_rows.clear();
    m_anchor = m_position = 0;
    m_goalX = -1;
    m_top = Place();
    updateEnd();
    syncScrollBar();
    viewport()->update();
    announceReplaced(this, m_oldSize);
    Q_EMIT selectionChanged();
}

void ReadingView::textAppended(const QByteArray &block)
{
    announceAppended(this, bytes().size() - block.size(), block);
    // Only the segments at the end change: the old last one and those after it.
    const qint64 firstChanged = m_end.segment;
    for (auto it = m_rows.begin(); it != m_rows.end();)
        it = it->first >= firstChanged ? m_rows.erase(it) : std::next(it);
    updateEnd();
    syncScrollBar();
    viewport()->update();
}

const std::vector<int> &ReadingView::rowsOf(qint64 segment)
{
    const auto found = m_rows.find(segment);
    if (found != m_rows.end())
        return found->second;
    if (m_rows.size() >= KeptSegments)
        m_rows.clear();
    const LineIndex::Segment s = lines().segment(bytes(), segment);
    std::vector<int> rows =
        m_layout.wrap(bytes().constData() + s.start, int(s.end - s.start), wrapWidth());
    rows.push_back(int(s.end - s.start)); // where the last row ends
    return m_rows.emplace(segment, std::move(rows)).first->second;
}

ReadingView::Row ReadingView::row(const Place &place)
{
    const LineIndex::Segment s = lines().segment(bytes(), place.segment);
    const std::vector<int> &rows = rowsOf(place.segment);
    const size_t r = size_t(std::clamp<qint64>(place.row, 0, qint64(rows.size()) - 2));
    return {s.start + rows[r], s.start + rows[r + 1]};
}

qreal ReadingView::wrapWidth() const
{
    return std::max(1, viewport()->width() - 2 * Margin);
}

int ReadingView::visibleRowCount() const
{
    return std::max(1, (viewport()->height() - Margin) / m_rowHeight);
}

ReadingView::Place ReadingView::moved(Place place, qint64 delta)
{
    const qint64 segments = lines().segmentCount();
    while (delta > 0) {
        const qint64 rows = qint64(rowsOf(place.segment).size()) - 1;
        if (place.row + delta < rows) {
            place.row += delta;
            break;
        }
        if (place.segment + 1 >= segments) {
            place.row = rows - 1;
            break;
        }
        delta -= rows - place.row;
        ++place.segment;
        place.row = 0;
    }
    while (delta < 0) {
        if (place.row + delta >= 0) {
            place.row += delta;
            break;
        }
        if (place.segment == 0) {
            place.row = 0;
            break;
        }
        delta += place.row + 1;
        --place.segment;
        place.row = qint64(rowsOf(place.segment).size()) - 2;
    }
    return place;
}

void ReadingView::updateEnd()
{
    const qint64 last = lines().segmentCount() - 1;
    m_end = moved({last, qint64(rowsOf(last).size()) - 2}, -(visibleRowCount() - 1));
}

void ReadingView::setTop(const Place &top)
{
    m_top = m_end < top ? m_end : top;
    syncScrollBar();
    viewport()->update();
}

void ReadingView::syncScrollBar()
{
    // The scroll bar counts bytes: the start of the top row (halved until it fits an int).
    QScrollBar *bar = verticalScrollBar();
    const qint64 endStart = row(m_end).start;
    const int shift = scrollShift();
    const int page = int(std::max<qint64>(1, (bytes().size() - endStart) >> shift));
    m_syncing = true;
    bar->setRange(0, int(endStart >> shift));
    bar->setPageStep(page);
    bar->setSingleStep(std::max(1, page / visibleRowCount()));
    // A value the user chose that already shows the top row stays.
    const Row top = row(m_top);
    const qint64 now = qint64(bar->value()) << shift;
    if (m_top == m_end)
        bar->setValue(bar->maximum());
    else if (now < top.start || now > top.end)
        bar->setValue(int(top.start >> shift));
    m_syncing = false;
}

int ReadingView::scrollShift() const
{
    int shift = 0;
    while ((bytes().size() >> shift) > INT_MAX / 2)
        ++shift;
    return shift;
}

void ReadingView::scrollContentsBy(int, int dy)
{
    if (m_syncing)
        return;
    const QScrollBar *bar = verticalScrollBar();
    Place top =
        bar->value() >= bar->maximum() ? m_end : placeOf(qint64(bar->value()) << scrollShift());
    // A step of the scroll bar always moves the text by a row at least.
    if (top == m_top && dy != 0)
        top = moved(m_top, dy < 0 ? 1 : -1);
    m_top = m_end < top ? m_end : top;
    viewport()->update();
}

void ReadingView::scrollBarAction(int action)
{
    // The toolkit would move the scroll bar by bytes; the text moves by rows instead, a page
    // being the rows on screen, as Page Down moves it.
    switch (action) {
    case QAbstractSlider::SliderSingleStepAdd:
        setTop(moved(m_top, 1));
        break;
    case QAbstractSlider::SliderSingleStepSub:
        setTop(moved(m_top, -1));
        break;
    case QAbstractSlider::SliderPageStepAdd:
        setTop(moved(m_top, visibleRowCount()));
        break;
    case QAbstractSlider::SliderPageStepSub:
        setTop(moved(m_top, -visibleRowCount()));
        break;
    case QAbstractSlider::SliderToMinimum:
        setTop(Place());
        break;
    case QAbstractSlider::SliderToMaximum:
        setTop(m_end);
        break;
    default:
        return; // the handle dragged: the text follows the bytes
    }
    // The scroll bar takes the value the new top row gave it, not the one of its own step.
    QScrollBar *bar = verticalScrollBar();
    m_syncing = true;
    bar->setSliderPosition(bar->value());
    m_syncing = false;
}

ReadingView::Place ReadingView::placeOf(qint64 offset)
{
    offset = std::clamp<qint64>(offset, 0, bytes().size());
    const qint64 segment = lines().segmentOf(bytes(), offset);
    const qint64 start = lines().segment(bytes(), segment).start;
    const std::vector<int> &rows = rowsOf(segment);
    // The last entry is where the last row ends, not a row.
    const auto after = std::upper_bound(rows.cbegin(), rows.cend() - 1, offset - start);
    return {segment, std::max<qint64>(0, after - rows.cbegin() - 1)};
}

void ReadingView::resizeEvent(QResizeEvent *event)
{
    QAbstractScrollArea::resizeEvent(event);
    // The same text stays at the top, wrapped anew.
    const qint64 topStart = row(m_top).start;
    m_rows.clear();
    updateEnd();
    setTop(placeOf(topStart));
}

void ReadingView::changeEvent(QEvent *event)
{
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        const qint64 topStart = row(m_top).start;
        takeFont();
        setTop(placeOf(topStart));
    }
}

void ReadingView::scrollToTop()
{
    setTop(Place());
}

void ReadingView::scrollToEnd()
{
    setTop(m_end);
}

qint64 ReadingView::hitRow(const Place &place, qreal x)
{
    const Row r = row(place);
    return r.start + m_layout.hit(bytes().constData() + r.start, int(r.end - r.start), x);
}

qint64 ReadingView::offsetAt(const QPoint &point)
{
    const int y = point.y() - Margin;
    const qint64 rows = y < 0 ? -1 - (-y - 1) / m_rowHeight : y / m_rowHeight;
    if (rows < 0) {
        const Place above = moved(m_top, rows);
        if (above == m_top && m_top == Place())
            return 0;
        return hitRow(above, point.x() - Margin);
    }
    // The row under the point, also below the viewport while a selection is dragged past it.
    Place place = m_top;
    for (qint64 i = 0; i < rows; ++i) {
        const Place next = moved(place, 1);
        if (next == place)
            return bytes().size(); // below the last row
        place = next;
    }
    return hitRow(place, point.x() - Margin);
}

QRect ReadingView::characterRect(qint64 offset)
{
    const Place target = placeOf(offset);
    Place place = m_top;
    for (int i = 0, y = Margin; y < viewport()->height(); ++i, y += m_rowHeight) {
        if (place == target) {
            const Row r = row(place);
            const int n = int(r.end - r.start);
            const std::vector<qreal> xs = m_layout.positions(bytes().constData() + r.start, n);
            const int at = int(std::clamp<qint64>(offset - r.start, 0, n));
            const qreal width = at < n ? xs[size_t(at) + 1] - xs[size_t(at)] : 0;
            return QRectF(Margin + xs[size_t(at)], y, width, m_rowHeight).toAlignedRect();
        }
        const Place next = moved(place, 1);
        if (next == place)
            break;
        place = next;
    }
    return QRect();
}

std::pair<qint64, qint64> ReadingView::rowAround(qint64 offset)
{
    const Row r = row(placeOf(offset));
    return {r.start, r.end};
}

void ReadingView::ensureVisible(qint64 offset)
{
    const Place target = placeOf(offset);
    if (target < m_top)
        setTop(target);
    else if (moved(m_top, visibleRowCount() - 1) < target)
        setTop(moved(target, -(visibleRowCount() - 1)));
}

std::vector<std::pair<qint64, qint64>> ReadingView::visibleRows()
{
    std::vector<std::pair<qint64, qint64>> shown;
    Place place = m_top;
    for (int y = Margin; y < viewport()->height(); y += m_rowHeight) {
        const Row r = row(place);
        shown.emplace_back(r.start, r.end);
        const Place next = moved(place, 1);
        if (next == place)
            break;
        place = next;
    }
    return shown;
}

} // namespace tvx
