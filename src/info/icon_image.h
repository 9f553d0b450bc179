#pragma once

#include <QImage>

namespace tvx {

// The program's icon at size x size pixels, made from the about window's picture of the
// instrument: centred on a transparent square, the white around it made transparent, enlarged
// by whole pixels before it is smoothed, so the pixel art keeps sharp edges. The desktop icons
// and the windows' icon are both made by it.
QImage iconImage(const QImage &picture, int size);

// The same picture before it is scaled: the instrument on a transparent square as high as the
// picture, pixel for pixel. The scalable icon draws this.
QImage iconPicture(const QImage &picture);

// The sizes the icon is made in, for the desktop and for the windows.
constexpr int IconSizes[] = {16, 22, 24, 32, 48, 64, 128, 256};

} // namespace tvx
