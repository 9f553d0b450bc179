#pragma once

#include <QByteArray>
#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tvx::test {

// A pipe of one page (4096 bytes), full from the start when asked: a writer nobody reads waits
// at once, not after 64 KiB. Its writing end blocks as standard output does, its reading end
// never.
inline bool makeNarrowPipe(int ends[2], bool full)
{
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0 || ::fcntl(ends[1], F_SETPIPE_SZ, 4096) != 4096)
        return false;
    const char page[4096] = {};
    while (full && ::write(ends[1], page, sizeof page) > 0) {
    }
    return ::fcntl(ends[1], F_SETFL, 0) == 0;
}

// A named pipe at path (open to every user) holding bytes, then blanks up to 64 KiB, with the
// test as its writer: code that wrongly opens and reads it gets them at once instead of hanging
// the test. Returns the test's descriptor, -1 on failure.
inline int makeFullNamedPipe(const QString &path, const QByteArray &bytes)
{
    const QByteArray name = QFile::encodeName(path);
    if (::mkfifo(name.constData(), 0) != 0 || ::chmod(name.constData(), 0666) != 0)
        return -1;
    const int fd = ::open(name.constData(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0 || ::write(fd, bytes.constData(), size_t(bytes.size())) != bytes.size())
        return -1;
    const QByteArray blanks(512, ' ');
    while (::write(fd, blanks.constData(), size_t(blanks.size())) > 0) {
    }
    return fd;
}

} // namespace tvx::test
