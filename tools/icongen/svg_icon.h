#pragma once

#include <QByteArray>
#include <QImage>

namespace tvx {

// The picture as an SVG drawing of its pixels: one rectangle for each run of pixels of one
// colour in a row, nothing for transparent ones, drawn with crisp edges so that the pixel art
// stays sharp at any size. One unit of the drawing is one pixel of the picture.
QByteArray svgIcon(const QImage &picture);

} // namespace tvx
