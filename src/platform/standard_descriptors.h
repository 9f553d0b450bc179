#pragma once

namespace tvx {

// Which of the standard descriptors were closed when the program started.
struct ClosedStandardDescriptors {
    bool input = false;
    bool output = false;
    bool error = false;
};

// Puts /dev/null in the place of each closed standard descriptor (0, 1, 2). Called first thing:
// a program started with one of them closed (">&-", some launchers) would otherwise get that
// number for the next file it opens, the serial device or a lock file say, and its messages
// would go there.
ClosedStandardDescriptors openClosedStandardDescriptors();

} // namespace tvx
