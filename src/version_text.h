#pragma once

#include <QString>

namespace tvx {

// What --version prints for each of the programs (tarvix, tarvix-capture, tarvix-sim): the name
// and version on the first line, as scripts read it, then the copyright and the licence.
inline QString versionText(const QString &program, const QString &version)
{
    return QStringLiteral("%1 %2\n"
                          "Copyright (C) 2026 The Tarvix Conectivity maintainers\n"
                          "License GPL-3.0-or-later: GNU GPL version 3 or later "
                          "<https://gnu.org/licenses/gpl.html>.\n"
                          "This is free software: you are free to change and redistribute it.\n"
                          "There is NO WARRANTY, to the extent permitted by law.\n")
        .arg(program, version);
}

} // namespace tvx
