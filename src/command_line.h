#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace tvx {

// What the program answers on its command line, before any window or display is needed:
// --version (-v) and --help (-h, -?) print a text on standard output and end the program.
// Every other argument is ignored, as the program always did; nothing there is an error.
// Returns the text to print, or nothing when the program is to start as usual.
std::optional<QString> commandLineAnswer(const QStringList &arguments, const QString &version);

} // namespace tvx
