#pragma once

#include <QRect>
#include <QWidget>

namespace tvx::test {

// The windows are laid out at 15 twips per pixel; these give a control's place and a window's
// size in twips, to compare with the layouts as they are written down.
inline QRect twips(const QWidget *widget)
{
    const QRect g = widget->geometry();
    return {g.x() * 15, g.y() * 15, g.width() * 15, g.height() * 15};
}

inline QSize twipsSize(const QWidget *widget)
{
    return widget->size() * 15;
}

} // namespace tvx::test
