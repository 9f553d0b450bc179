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

namespace tvx {

QIcon programIcon()
{
    loadInfoResources();
    const QImage picture(QStringLiteral(":/info/instrument.bmp"));
    QIcon icon;
    for (const int size : IconSizes)
        icon.addPixmap(QPixmap::fromImage(iconImage(picture, size)));
    return icon;
}

} // namespace tvx
