#pragma once

#include <QByteArray>
#include <QString>

namespace tvx {

// Replaces the file at path by exactly these bytes, or leaves it as it was: a failed write
// (folder missing or read-only, disk full, a folder in the way) never leaves a truncated file.
// On failure returns false and, when reason is given, the system's explanation.
bool writeFileAtomically(const QString &path, const QByteArray &bytes, QString *reason = nullptr);

} // namespace tvx
