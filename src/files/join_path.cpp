#include "join_path.h"

namespace tvx {

QString joinPathWindows(const QString &folder, const QString &name)
{
    if (folder.size() == 3)
        return folder + name;
    return folder + QLatin1Char('\\') + name;
}

QString joinPathPosix(const QString &folder, const QString &name)
{
    if (folder.endsWith(QLatin1Char('/')))
        return folder + name;
    return folder + QLatin1Char('/') + name;
}

QString joinPath(const QString &folder, const QString &name)
{
#ifdef Q_OS_WIN
    return joinPathWindows(folder, name);
#else
    return joinPathPosix(folder, name);
#endif
}

} // namespace tvx
