#pragma once

namespace tvx {

// Puts /dev/null in the place of each closed standard descriptor (0, 1, 2). Called first thing:
// a program started with one of them closed (">&-", some launchers) would otherwise get that
// number for the next file it opens, the serial device or a lock file say, and its messages
// would go there.
// True when standard output was one of them: what the program meant to write there would be lost.
bool openClosedStandardDescriptors();

} // namespace tvx
