#pragma once

#include <QString>

#include <functional>

namespace tvx {

// Where the capture journal keeps its files, by the system's rules for a program's state: on
// Windows %LOCALAPPDATA%\Tarvix\captures, elsewhere $XDG_STATE_HOME/tarvix/captures, which is
// ~/.local/state/tarvix/captures when the variable is unset, empty or not an absolute path.
// environment gives a variable's value (empty when unset).
QString journalFolder(const std::function<QString(const char *)> &environment, bool windows);

// The journal folder of the user running the program.
QString journalFolder();

} // namespace tvx
