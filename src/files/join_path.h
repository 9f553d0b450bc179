#pragma once

#include <QString>

namespace tvx {

// The full path of a file named name in folder. Both variants exist everywhere so that each can
// be checked on any system; joinPath is the one of the system the program runs on.

// Windows: a drive root such as "C:\" (exactly three characters) already ends in a backslash
// and takes the name directly; any other folder gets one "\" before the name.
QString joinPathWindows(const QString &folder, const QString &name);

// Other systems: a folder that already ends in "/" (the root, a volume root) takes the name
// directly; any other folder gets one "/" before the name.
QString joinPathPosix(const QString &folder, const QString &name);

QString joinPath(const QString &folder, const QString &name);

} // namespace tvx
