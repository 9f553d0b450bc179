#pragma once

#include "platform/serial/serial_port.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace tvx {

// Why no lock file can be written in the system's lock folder; empty when one can.
QString systemLockNote();

// What the program answers on its command line, before any window or display is needed:
// --version (-v), --help (-h, -?), --ports and --journal print a text on standard output and
// end the program; --ports lists what the port numbers stand for on the machine that ports()
// gives, and lockNote()'s word on the lock folder; --journal names the capture journal's folder.
// Unknown options are ignored, as the program always did; nothing there is an error.
// Returns the text to print, or nothing when the program is to start as usual.
std::optional<QString> commandLineAnswer(const QStringList &arguments, const QString &version,
                                         const std::function<PortMap()> &ports = PortMap::ofSystem,
                                         const std::function<QString()> &lockNote = systemLockNote);

// The reading file to open at start-up: the first argument that is no option (a file manager's
// "Open with" passes one), or an empty string.
QString readingFileArgument(const QStringList &arguments);

} // namespace tvx
