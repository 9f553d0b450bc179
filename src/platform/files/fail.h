#pragma once

#include <QString>

namespace tvx {

// A failure of the file doors: the reason, when the caller asks for it, and false.
inline bool fail(QString *reason, const QString &why)
{
    if (reason)
        *reason = why;
    return false;
}

} // namespace tvx
