#include "info_resources.h"

#include <QtGlobal>

// Q_INIT_RESOURCE names a function in the global namespace, so it cannot be used inside tvx.
static void initInfoResources()
{
    Q_INIT_RESOURCE(info);
}

namespace tvx {

void loadInfoResources()
{
    static const bool loaded = (initInfoResources(), true);
    Q_UNUSED(loaded);
}

} // namespace tvx

#include "icon_image.h"

#include <QIcon>
#include <QPixmap>
#include <QResource>

namespace tvx {

QIcon programIcon()
{
    // Made at build time from the about window's picture, as the pixels the window system takes:
    // kept in that form, they are sent as they are.
    QIcon icon;
    for (const int size : IconSizes) {
        const QResource pixels(QStringLiteral(":/info/icons/%1.argb").arg(size));
        if (pixels.size() != qint64(size) * size * 4 ||
            pixels.compressionAlgorithm() != QResource::NoCompression)
            continue;
        icon.addPixmap(QPixmap::fromImage(QImage(pixels.data(), size, size, QImage::Format_ARGB32),
                                          Qt::NoFormatConversion));
    }
    return icon;
}

} // namespace tvx
