#include "framed_list.h"

#include "platform/windows.h"

#include <QPainter>

namespace tvx {

void FramedList::paintEvent(QPaintEvent *event)
{
    QListWidget::paintEvent(event);
    if (hasFocus()) {
        QPainter painter(viewport());
        drawFocusFrame(this, &painter, viewport()->rect());
    }
}

void FramedList::focusInEvent(QFocusEvent *event)
{
    QListWidget::focusInEvent(event);
    viewport()->update();
}

void FramedList::focusOutEvent(QFocusEvent *event)
{
    QListWidget::focusOutEvent(event);
    viewport()->update();
}

} // namespace tvx
