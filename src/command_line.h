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
// --help and --version are answered beside anything else, as tarvix-capture answers them. An
// option that is neither the program's nor the toolkit's (-platform, -style, -reverse and the
// others QApplication takes) is refused: the window never opens for a mistyped option.
struct CommandLineAnswer {
    QString text;
    int exitStatus = 0; // 0: the text goes to standard output; 1: a refusal, to standard error
};

// The answer, or nothing when the program is to start as usual.
std::optional<CommandLineAnswer>
commandLineAnswer(const QStringList &arguments, const QString &version,
                  const std::function<PortMap()> &ports = PortMap::ofSystem,
                  const std::function<QString()> &lockNote = systemLockNote);

// The reading file to open at start-up: the first argument that is no option (a file manager's
// "Open with" passes one), or an empty string.
QString readingFileArgument(const QStringList &arguments);

} // namespace tvx
