// Makes the program's desktop icon from the about window's picture: the 54 x 96 bitmap of the
// instrument, centred on a square with its white surroundings made transparent, written as PNG
// files in the hicolor theme's layout.
//
//     icongen <picture.bmp> <hicolor folder> <icon name> <size>...
//
// writes <hicolor folder>/<size>x<size>/apps/<icon name>.png for every size.

#include <QColor>
#include <QDir>
#include <QImage>
#include <QPainter>

#include <cstdio>
#include <vector>

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

int main(int argc, char *argv[])
{
    if (argc < 5) {
        std::fprintf(stderr, "usage: icongen <picture.bmp> <hicolor folder> <icon name> "
                             "<size>...\n");
        return 2;
    }
    QImage picture(QString::fromLocal8Bit(argv[1]));
    if (picture.isNull()) {
        std::fprintf(stderr, "icongen: cannot read %s\n", argv[1]);
        return 1;
    }
    picture = picture.convertToFormat(QImage::Format_ARGB32);
    clearSurroundings(picture);
    const QImage square = squared(picture);
    const QDir hicolor(QString::fromLocal8Bit(argv[2]));
    const QString name = QString::fromLocal8Bit(argv[3]);
    for (int i = 4; i < argc; ++i) {
        bool ok = false;
        const int size = QString::fromLocal8Bit(argv[i]).toInt(&ok);
        if (!ok || size < 1) {
            std::fprintf(stderr, "icongen: not a size: %s\n", argv[i]);
            return 2;
        }
        const QString folder = QStringLiteral("%1x%1/apps").arg(size);
        const QString path =
            hicolor.filePath(folder + QLatin1Char('/') + name + QStringLiteral(".png"));
        if (!hicolor.mkpath(folder) || !scaled(square, size).save(path, "PNG")) {
            std::fprintf(stderr, "icongen: cannot write %s\n", qPrintable(path));
            return 1;
        }
    }
    return 0;
}
