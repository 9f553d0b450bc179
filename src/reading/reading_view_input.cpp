// The reading area's keyboard and mouse: the keys move the caret and the wheel scrolls as in the
// toolkit's read-only text boxes, the mouse selects, and the right button offers Copy and Select
// All.

#include "reading_view.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QScrollBar>

namespace tvx {

namespace {

QString withShortcut(const QString &text, QKeySequence::StandardKey key)
{
    if (QCoreApplication::testAttribute(Qt::AA_DontShowShortcutsInContextMenus))
        return text;
    return text + QLatin1Char('\t') + QKeySequence(key).toString(QKeySequence::NativeText);
}

} // namespace

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
    Motion motion = Motion::NextCharacter;
    bool extend = false;
    if (caretMotion(event, &motion, &extend)) {
        moveCaret(motion, extend);
        event->accept();
        return;
    }
    // Space pages the text as the toolkit's read-only text boxes page it, leaving the caret.
    if (event->key() == Qt::Key_Space) {
        verticalScrollBar()->triggerAction(event->modifiers() & Qt::ShiftModifier
                                               ? QAbstractSlider::SliderPageStepSub
                                               : QAbstractSlider::SliderPageStepAdd);
        event->accept();
        return;
    }
    QAbstractScrollArea::keyPressEvent(event);
}

void ReadingView::zoomBy(qreal points)
{
    QFont larger = font();
    const qreal size = larger.pointSizeF() + points;
    if (points == 0 || size <= 0)
        return;
    larger.setPointSizeF(size);
    setFont(larger);
}

void ReadingView::wheelEvent(QWheelEvent *event)
{
    // Ctrl+wheel makes the text larger or smaller by a point a notch, for this window only.
    if (event->modifiers() & Qt::ControlModifier) {
        zoomBy(event->angleDelta().y() / 120.0);
        event->accept();
        return;
    }
    const int notches = event->angleDelta().y() / 120;
    if (notches == 0) {
        QAbstractScrollArea::wheelEvent(event);
        return;
    }
    setTop(moved(m_top, -qint64(notches) * QApplication::wheelScrollLines()));
    event->accept();
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
    const QPoint point = event->position().toPoint();
    const qint64 at = offsetAt(point);
    // A third click soon after a double-click, where it was, takes the row.
    if (m_sinceDoubleClick.isValid() &&
        m_sinceDoubleClick.elapsed() < QApplication::doubleClickInterval() &&
        (point - m_doubleClickPoint).manhattanLength() < QApplication::startDragDistance()) {
        m_sinceDoubleClick.invalidate();
        selectRowAt(at);
        offerSelection();
        return;
    }
    if (event->modifiers() & Qt::ShiftModifier)
        setSelection(m_anchor, at);
    else
        setSelection(at, at);
    m_dragging = true;
    m_dragPoint = point;
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
    offerSelection();
}

void ReadingView::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mouseDoubleClickEvent(event);
        return;
    }
    m_doubleClickPoint = event->position().toPoint();
    m_sinceDoubleClick.start();
    selectWordAt(offsetAt(m_doubleClickPoint));
    m_dragging = false;
    m_dragScroll.stop();
    offerSelection();
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

} // namespace tvx
