// Makes the program's desktop icon from the about window's picture: the 54 x 96 bitmap of the
// instrument, centred on a square with its white surroundings made transparent, written as PNG
// files in the hicolor theme's layout.
//
//     icongen <picture.bmp> <hicolor folder> <icon name> <size>...
//
// writes <hicolor folder>/<size>x<size>/apps/<icon name>.png for every size.

#include "info/icon_image.h"

#include <QDir>

#include <cstdio>

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
        if (!hicolor.mkpath(folder) || !tvx::iconImage(picture, size).save(path, "PNG")) {
            std::fprintf(stderr, "icongen: cannot write %s\n", qPrintable(path));
            return 1;
        }
    }
    return 0;
}
