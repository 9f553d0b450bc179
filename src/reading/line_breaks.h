#pragma once

#include <QtGlobal>

namespace tvx::linebreaks {

// The first CR or LF in bytes[from, to), or to when there is none. The line index spends nearly
// all of a large file's indexing here, so where the processor has 16-byte vector compares
// (SSE2, always there on x86-64) they look at 16 bytes at once; elsewhere a byte at a time.
qint64 next(const char *bytes, qint64 from, qint64 to);

// The two ways, so that they can be checked against each other: next() is vector(), which on a
// processor without those compares is plain().
qint64 plain(const char *bytes, qint64 from, qint64 to);
qint64 vector(const char *bytes, qint64 from, qint64 to);

} // namespace tvx::linebreaks
