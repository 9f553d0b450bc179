// Makes the program's desktop icon from the about window's picture: the 54 x 96 bitmap of the
// instrument, centred on a square with its white surroundings made transparent, written as PNG
// files in the hicolor theme's layout.
//
//     icongen <picture.bmp> <hicolor folder> <icon name> <size>...
//
// writes <hicolor folder>/<size>x<size>/apps/<icon name>.png for every size.
//
//     icongen --ico <picture.bmp> <file.ico> <size>...
//
// writes the same pictures as one Windows icon file, for the program's file and its shortcuts:
// 32-bit pictures with their transparency, the largest (256) as PNG, as Windows keeps them.
//
//     icongen --svg <picture.bmp> <file.svg>
//
// writes the scalable icon: the same picture, before it is scaled, drawn pixel for pixel.
//
//     icongen --raw <picture.bmp> <folder> <size>...
//
// writes <folder>/<size>.argb for every size: the same pictures as their pixels in the form the
// window system takes them in (ARGB32, not premultiplied, rows top down, each pixel's 32-bit
// word in the machine's byte order), for the program's resources: read at start-up with nothing
// to decode or convert.

#include "info/icon_image.h"
#include "svg_icon.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QtEndian>

#include <climits>
#include <cstdio>

namespace {

void putWord(QByteArray &out, quint16 value)
{
    char bytes[2];
    qToLittleEndian(value, bytes);
    out.append(bytes, 2);
}

void putLong(QByteArray &out, quint32 value)
{
    char bytes[4];
    qToLittleEndian(value, bytes);
    out.append(bytes, 4);
}

// One picture as an icon file holds it: a bitmap header with twice the height (colour and
// mask), the rows bottom up in BGRA, then the mask (1 where transparent), rows of 32-bit words.
QByteArray iconBitmap(const QImage &picture)
{
    const QImage image = picture.convertToFormat(QImage::Format_ARGB32);
    const int size = image.width();
    const int maskRow = ((size + 31) / 32) * 4;
    QByteArray out;
    putLong(out, 40);
    putLong(out, quint32(size));
    putLong(out, quint32(size * 2));
    putWord(out, 1);
    putWord(out, 32);
    putLong(out, 0);
    putLong(out, quint32(size * size * 4 + maskRow * size));
    for (int i = 0; i < 4; ++i)
        putLong(out, 0);
    for (int y = size - 1; y >= 0; --y) {
        const auto *row = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        for (int x = 0; x < size; ++x)
            putLong(out, row[x]); // ARGB32 in memory is B, G, R, A: what the file wants
    }
    for (int y = size - 1; y >= 0; --y) {
        QByteArray mask(maskRow, '\0');
        const auto *row = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        for (int x = 0; x < size; ++x) {
            if (qAlpha(row[x]) == 0)
                mask[x / 8] = char(mask.at(x / 8) | (0x80 >> (x % 8)));
        }
        out.append(mask);
    }
    return out;
}

int writeIco(const QImage &picture, const QString &path, const QList<int> &sizes)
{
    QList<QByteArray> images;
    for (const int size : sizes) {
        const QImage image = tvx::iconImage(picture, size);
        if (size < 256) {
            images.append(iconBitmap(image));
            continue;
        }
        QBuffer png;
        png.open(QIODevice::WriteOnly);
        image.save(&png, "PNG");
        images.append(png.data());
    }
    QByteArray out;
    putWord(out, 0);
    putWord(out, 1); // an icon
    putWord(out, quint16(sizes.size()));
    quint32 offset = quint32(6 + 16 * sizes.size());
    for (qsizetype i = 0; i < sizes.size(); ++i) {
        const int size = sizes.at(i);
        out.append(char(size >= 256 ? 0 : size)); // 0 stands for 256
        out.append(char(size >= 256 ? 0 : size));
        out.append('\0'); // no palette
        out.append('\0');
        putWord(out, 1);
        putWord(out, 32);
        putLong(out, quint32(images.at(i).size()));
        putLong(out, offset);
        offset += quint32(images.at(i).size());
    }
    for (const QByteArray &image : images)
        out.append(image);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(out) != out.size() || !file.flush()) {
        std::fprintf(stderr, "icongen: cannot write %s\n", qPrintable(path));
        return 1;
    }
    return 0;
}

// The picture at path; a null image once it is said that it cannot be read.
QImage readPicture(const char *path)
{
    const QImage picture(QString::fromLocal8Bit(path));
    if (picture.isNull())
        std::fprintf(stderr, "icongen: cannot read %s\n", path);
    return picture;
}

// The sizes from argv[4] on, each 1 to largest; none once a wrong one is said.
QList<int> sizeArguments(int argc, char *argv[], int largest, const char *what)
{
    QList<int> sizes;
    for (int i = 4; i < argc; ++i) {
        bool ok = false;
        const int size = QString::fromLocal8Bit(argv[i]).toInt(&ok);
        if (!ok || size < 1 || size > largest) {
            std::fprintf(stderr, "icongen: not %s: %s\n", what, argv[i]);
            return {};
        }
        sizes.append(size);
    }
    return sizes;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc == 4 && qstrcmp(argv[1], "--svg") == 0) {
        const QImage picture = readPicture(argv[2]);
        if (picture.isNull())
            return 1;
        const QByteArray svg = tvx::svgIcon(tvx::iconPicture(picture));
        QFile file(QString::fromLocal8Bit(argv[3]));
        if (!file.open(QIODevice::WriteOnly) || file.write(svg) != svg.size() || !file.flush()) {
            std::fprintf(stderr, "icongen: cannot write %s\n", argv[3]);
            return 1;
        }
        return 0;
    }
    if (argc >= 5 && qstrcmp(argv[1], "--raw") == 0) {
        const QImage picture = readPicture(argv[2]);
        if (picture.isNull())
            return 1;
        const QList<int> sizes = sizeArguments(argc, argv, INT_MAX, "a size");
        if (sizes.isEmpty())
            return 2;
        const QDir folder(QString::fromLocal8Bit(argv[3]));
        for (const int size : sizes) {
            const QImage image =
                tvx::iconImage(picture, size).convertToFormat(QImage::Format_ARGB32);
            const QString path = folder.filePath(QStringLiteral("%1.argb").arg(size));
            // Written under another name and renamed: the build may run this for more than one
            // of its targets at once, and the resource compiler must never read a file half
            // written.
            QSaveFile file(path);
            const qsizetype row = qsizetype(size) * 4;
            bool written = folder.mkpath(QStringLiteral(".")) && file.open(QIODevice::WriteOnly);
            for (int y = 0; written && y < size; ++y)
                written =
                    file.write(reinterpret_cast<const char *>(image.constScanLine(y)), row) == row;
            if (!written || !file.commit()) {
                std::fprintf(stderr, "icongen: cannot write %s\n", qPrintable(path));
                return 1;
            }
        }
        return 0;
    }
    if (argc >= 5 && qstrcmp(argv[1], "--ico") == 0) {
        const QImage picture = readPicture(argv[2]);
        if (picture.isNull())
            return 1;
        const QList<int> sizes = sizeArguments(argc, argv, 256, "an icon size");
        if (sizes.isEmpty())
            return 2;
        return writeIco(picture, QString::fromLocal8Bit(argv[3]), sizes);
    }
    if (argc < 5) {
        std::fprintf(stderr, "usage: icongen <picture.bmp> <hicolor folder> <icon name> "
                             "<size>...\n"
                             "       icongen --ico <picture.bmp> <file.ico> <size>...\n"
                             "       icongen --svg <picture.bmp> <file.svg>\n"
                             "       icongen --raw <picture.bmp> <folder> <size>...\n");
        return 2;
    }
    const QImage picture = readPicture(argv[1]);
    if (picture.isNull())
        return 1;
    const QList<int> sizes = sizeArguments(argc, argv, INT_MAX, "a size");
    if (sizes.isEmpty())
        return 2;
    const QDir hicolor(QString::fromLocal8Bit(argv[2]));
    const QString name = QString::fromLocal8Bit(argv[3]);
    for (const int size : sizes) {
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
