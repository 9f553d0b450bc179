#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace tvx {

// A regular file's bytes as a QByteArray that is the file itself, mapped copy-on-write: a file
// of a gigabyte takes no memory of the program's own beyond the pages being looked at, and no
// byte is read before it is needed. It behaves as any QByteArray: copies share it, and the first
// change (a capture's append) makes a copy of its own, never touching the file. A mapping goes
// once no QByteArray holds it any more, at the next releaseUnused().
//
// Another program may cut the file short while it is mapped. What the file no longer holds then
// reads as NUL bytes instead of ending the program with SIGBUS, and cutShort() tells of it.
// Only on systems with mmap; elsewhere map() maps nothing.
class FileMapping {
public:
    // Maps the first size bytes of the regular file open as descriptor, which it keeps a
    // duplicate of. Nothing, with the reason, where the system cannot map it.
    static std::optional<QByteArray> map(int descriptor, qint64 size, const QString &path,
                                         QString *reason = nullptr);
    // Whether bytes are those of a mapped file.
    static bool isMapped(const QByteArray &bytes);
    // Whether the file behind bytes was cut short by another program since it was mapped; path
    // is then the file's name as map() was given it.
    static bool cutShort(const QByteArray &bytes, QString *path = nullptr);
    // Gives the bytes [from, to) of a mapped file back to the system once they have been looked
    // at: they are read again from the file when needed, so they take none of the program's
    // memory meanwhile. from is a multiple of the page size.
    static void letGo(const QByteArray &bytes, qint64 from, qint64 to);
    // Unmaps every file that no QByteArray holds any more.
    static void releaseUnused();
    // How many files are mapped now.
    static int count();
};

} // namespace tvx
