#include "framed_list.h"

#include "platform/windows.h"

#include <QPainter>

namespace tvx {

// The list repaints its whole surface itself when the focus comes or goes.
void FramedList::paintEvent(QPaintEvent *event)
{
    QListWidget::paintEvent(event);
    if (hasFocus()) {
        QPainter painter(viewport());
        drawFocusFrame(this, &painter, viewport()->rect());
    }
}

} // namespace tvx
