#include "help_text.h"

#include "info_resources.h"

#include <QFile>

namespace tvx::helptext {

QByteArray bytes()
{
    loadInfoResources();
    QFile file(QStringLiteral(":/info/help_text.txt"));
    // Built into the program, so it opens unless the build itself is broken; the window then
    // shows an empty text rather than taking the program down.
    if (!file.open(QIODevice::ReadOnly)) {
        qWarning("The help text is missing from the program's resources");
        return {};
    }
    return file.readAll();
}

QString forDisplay(const QByteArray &bytes)
{
    QByteArray lines = bytes;
    lines.replace("\r\n", "\n");
    return QString::fromLatin1(lines);
}

} // namespace tvx::helptext
