#pragma once

#include <QString>

namespace tvx {

// Where the program's own text for a terminal goes. A Windows GUI program (tarvix.exe) starts
// without a console: started from the Start menu it has none, and started from a command
// prompt it does not share the prompt's unless it asks for it.

// Gives the standard streams that lead nowhere the console of the command prompt that started
// the program, so that an answer (--version, --help) reaches the prompt; streams redirected to
// a file or a pipe stay as they are. Nothing where the program was not started from a console,
// and nothing on other systems.
void useParentConsole();

// A line for standard error, where a terminal's user reads it. Where standard error leads
// nowhere (a Windows program without a console) it goes to the debugger's output
// (OutputDebugString), as the toolkit's own messages do there.
void writeErrorLine(const QString &line);

} // namespace tvx
