#include "icon_image.h"

#include <QPainter>

#include <vector>

namespace tvx {

namespace {

// The white around the instrument, reached from the picture's border without crossing its
// outline, becomes transparent; the white keys inside stay white.
void clearSurroundings(QImage &image)
{
    const QRgb white = qRgb(255, 255, 255);
    std::vector<QPoint> todo;
    for (int x = 0; x < image.width(); ++x)
        todo.insert(todo.end(), {QPoint(x, 0), QPoint(x, image.height() - 1)});
    for (int y = 0; y < image.height(); ++y)
        todo.insert(todo.end(), {QPoint(0, y), QPoint(image.width() - 1, y)});
    while (!todo.empty()) {
        const QPoint p = todo.back();
        todo.pop_back();
        if (!image.rect().contains(p) || image.pixel(p) != white)
            continue;
        image.setPixel(p, qRgba(0, 0, 0, 0));
        todo.insert(todo.end(),
                    {p + QPoint(1, 0), p - QPoint(1, 0), p + QPoint(0, 1), p - QPoint(0, 1)});
    }
}

// The picture centred on a transparent square as high as it is.
QImage squared(const QImage &picture)
{
    const int side = qMax(picture.width(), picture.height());
    QImage square(side, side, QImage::Format_ARGB32);
    square.fill(Qt::transparent);
    QPainter painter(&square);
    painter.drawImage((side - picture.width()) / 2, (side - picture.height()) / 2, picture);
    return square;
}

// Pixel art keeps sharp edges when enlarged by whole pixels first and only then smoothed down
// to the size asked for.
QImage scaled(const QImage &square, int size)
{
    QImage image = square;
    if (size > square.width()) {
        const int factor = (size + square.width() - 1) / square.width();
        image = square.scaled(square.width() * factor, square.height() * factor,
                              Qt::IgnoreAspectRatio, Qt::FastTransformation);
    }
    return image.scaled(size, size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

} // namespace

QImage iconPicture(const QImage &picture)
{
    QImage image = picture.convertToFormat(QImage::Format_ARGB32);
    clearSurroundings(image);
    return squared(image);
}

QImage iconImage(const QImage &picture, int size)
{
    return scaled(iconPicture(picture), size);
}

} // namespace tvx
