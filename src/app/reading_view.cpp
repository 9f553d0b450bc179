#include "reading_view.h"

#include "app/reading_text.h"
#include "app/reading_view_accessible.h"
#include "platform/windows.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFontMetrics>
#include <QGlyphRun>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QPointer>
#include <QScrollBar>
#include <QtMath>

#include <climits>

namespace tvx {

namespace {

// The space around the text, as in the toolkit's text boxes.
constexpr int Margin = 4;
// The toolkit's text boxes set tab stops 80 pixels apart.
constexpr qreal TabWidth = 80;
// Rows of segments laid out and kept; more are dropped at once.
constexpr size_t KeptSegments = 4096;

// Control characters other than the tab take no room and show nothing.
bool isShown(uchar c)
{
    return c >= 0xa0 || (c >= 0x20 && c < 0x7f);
}

bool isWordCharacter(char c)
{
    const QChar ch = QChar::fromLatin1(c);
    return ch.isLetterOrNumber() || ch == QLatin1Char('_');
}

// Selected bytes on the clipboard: turned into text only when someone asks for it, so copying
// costs nothing however much is selected. The bytes are read from the reading text itself, not
// shared with it: a shared copy would make the next received block copy the whole text. Blocks
// only add at the end, so the range keeps its bytes until the text is replaced; the old text
// is kept for the clipboard then (kept, not copied).
class LatinText : public QMimeData {
public:
    LatinText(const ReadingText *text, qint64 start, qint64 end)
        : m_text(text), m_start(start), m_end(end)
    {
        connect(text, &ReadingText::aboutToReplace, this, [this] {
            if (m_text)
                m_kept = m_text->bytes();
            m_text = nullptr;
        });
    }
    QStringList formats() const override { return {QStringLiteral("text/plain")}; }
    bool hasFormat(const QString &mimeType) const override
    {
        return mimeType == QLatin1String("text/plain");
    }

protected:
    QVariant retrieveData(const QString &mimeType, QMetaType type) const override
    {
        if (!hasFormat(mimeType))
            return {};
        const QByteArray &bytes = m_text ? m_text->bytes() : m_kept;
        const qint64 end = std::min<qint64>(m_end, bytes.size());
        const qint64 start = std::min(m_start, end);
        const QString text = QString::fromLatin1(bytes.constData() + start, end - start);
        if (type.id() == QMetaType::QByteArray)
            return text.toUtf8();
        return text;
    }

private:
    QPointer<const ReadingText> m_text;
    QByteArray m_kept;
    qint64 m_start;
    qint64 m_end;
};

QString withShortcut(const QString &text, QKeySequence::StandardKey key)
{
    if (QCoreApplication::testAttribute(Qt::AA_DontShowShortcutsInContextMenus))
        return text;
    return text + QLatin1Char('\t') + QKeySequence(key).toString(QKeySequence::NativeText);
}

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
    takeFont();
}

ReadingView::~ReadingView() = default;

void ReadingView::setReadingText(ReadingText *text)
{
    m_text = text;
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
    m_rawFont = QRawFont::fromFont(shown);
    QString all;
    for (int c = 0; c < 256; ++c)
        all.append(QChar(c));
    std::array<qreal, 256> advances{};
    if (m_rawFont.isValid()) {
        const QList<quint32> glyphs = m_rawFont.glyphIndexesForString(all);
        const QList<QPointF> widths = m_rawFont.advancesForGlyphIndexes(glyphs);
        for (int c = 0; c < 256 && c < glyphs.size(); ++c) {
            m_glyphs[size_t(c)] = glyphs[c];
            advances[size_t(c)] = widths.value(c).x();
        }
    } else {
        const QFontMetricsF exact(shown);
        for (int c = 0; c < 256; ++c)
            advances[size_t(c)] = exact.horizontalAdvance(QChar(c));
    }
    for (int c = 0; c < 256; ++c) {
        if (!isShown(uchar(c)))
            advances[size_t(c)] = 0;
    }
    m_layout = RowLayout(advances, TabWidth);
    // The toolkit's text box rounds each line's exact height up to whole pixels; so do we, so
    // that as many lines show at once as there.
    m_rowHeight = std::max(1, qCeil(QFontMetricsF(shown).height()));
    m_ascent = metrics.ascent();
    m_rows.clear();
    updateEnd();
    setTop(m_top);
}

void ReadingView::textReplaced()
{
    m_rows.clear();
    m_anchor = m_position = 0;
    m_top = Place();
    updateEnd();
    syncScrollBar();
    viewport()->update();
    Q_EMIT selectionChanged();
}

void ReadingView::textAppended()
{
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
                glyphs.append(m_glyphs[c]);
                positions.append(QPointF(xs[size_t(i)], 0));
            }
        }
        const QPointF origin(Margin, y + m_ascent);
        const auto draw = [&](const QColor &color) {
            painter.setPen(color);
            if (m_rawFont.isValid()) {
                run.setRawFont(m_rawFont);
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

void ReadingView::keyPressEvent(QKeyEvent *event)
{
    if (event == QKeySequence::Copy) {
        copy();
        return;
    }
    if (event == QKeySequence::SelectAll) {
        selectAll();
        return;
    }
    switch (event->key()) {
    case Qt::Key_Up:
        setTop(moved(m_top, -1));
        break;
    case Qt::Key_Down:
        setTop(moved(m_top, 1));
        break;
    case Qt::Key_PageUp:
        setTop(moved(m_top, -visibleRowCount()));
        break;
    case Qt::Key_PageDown:
        setTop(moved(m_top, visibleRowCount()));
        break;
    case Qt::Key_Home:
        scrollToTop();
        break;
    case Qt::Key_End:
        scrollToEnd();
        break;
    default:
        QAbstractScrollArea::keyPressEvent(event);
        return;
    }
    event->accept();
}

void ReadingView::scrollToTop()
{
    setTop(Place());
}

void ReadingView::scrollToEnd()
{
    setTop(m_end);
}

void ReadingView::wheelEvent(QWheelEvent *event)
{
    const int notches = event->angleDelta().y() / 120;
    if (notches == 0) {
        QAbstractScrollArea::wheelEvent(event);
        return;
    }
    setTop(moved(m_top, -qint64(notches) * QApplication::wheelScrollLines()));
    event->accept();
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
    Place place = m_top;
    for (qint64 i = 0; i < std::min<qint64>(rows, visibleRowCount() + 1); ++i) {
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
    if (m_text && selectionEnd() > selectionStart())
        QGuiApplication::clipboard()->setMimeData(
            new LatinText(m_text, selectionStart(), selectionEnd()));
}

void ReadingView::moveSelection(const QPoint &point)
{
    if (point.y() < 0)
        setTop(moved(m_top, -1));
    else if (point.y() >= viewport()->height())
        setTop(moved(m_top, 1));
    setSelection(m_anchor, offsetAt(point));
}

void ReadingView::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mousePressEvent(event);
        return;
    }
    const qint64 at = offsetAt(event->position().toPoint());
    if (event->modifiers() & Qt::ShiftModifier)
        setSelection(m_anchor, at);
    else
        setSelection(at, at);
    m_dragging = true;
    m_dragPoint = event->position().toPoint();
}

void ReadingView::mouseMoveEvent(QMouseEvent *event)
{
    if (!m_dragging)
        return;
    m_dragPoint = event->position().toPoint();
    setSelection(m_anchor, offsetAt(m_dragPoint));
    // Held above or below the text, the selection goes on by itself.
    const bool outside = m_dragPoint.y() < 0 || m_dragPoint.y() >= viewport()->height();
    if (outside && !m_dragScroll.isActive())
        m_dragScroll.start();
    else if (!outside)
        m_dragScroll.stop();
}

void ReadingView::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton || !m_dragging)
        return;
    m_dragging = false;
    m_dragScroll.stop();
    QClipboard *clipboard = QGuiApplication::clipboard();
    if (m_text && clipboard->supportsSelection() && selectionEnd() > selectionStart())
        clipboard->setMimeData(new LatinText(m_text, selectionStart(), selectionEnd()),
                               QClipboard::Selection);
}

void ReadingView::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mouseDoubleClickEvent(event);
        return;
    }
    selectWordAt(offsetAt(event->position().toPoint()));
    m_dragging = false;
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

void ReadingView::contextMenuEvent(QContextMenuEvent *event)
{
    QMenu menu(this);
    QAction *copyAction = menu.addAction(withShortcut(tr("&Copy"), QKeySequence::Copy));
    copyAction->setObjectName(QStringLiteral("edit-copy"));
    copyAction->setEnabled(selectionEnd() > selectionStart());
    connect(copyAction, &QAction::triggered, this, &ReadingView::copy);
    QAction *all = menu.addAction(withShortcut(tr("Select All"), QKeySequence::SelectAll));
    all->setObjectName(QStringLiteral("select-all"));
    all->setEnabled(!bytes().isEmpty());
    connect(all, &QAction::triggered, this, &ReadingView::selectAll);
    menu.exec(event->globalPos());
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
