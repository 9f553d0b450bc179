#include "standard_descriptors.h"

#include <QtGlobal>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace tvx {

#ifdef Q_OS_UNIX

namespace {

// Whether the descriptor was closed and now stands for /dev/null.
bool reopenIfClosed(int descriptor)
{
    if (::fcntl(descriptor, F_GETFD) != -1 || errno != EBADF)
        return false;
    // The lower descriptors are open by now, so the new one takes this number; dup2() makes
    // sure of it all the same. No close-on-exec: they stay the standard ones of programs started
    // from here.
    const int opened = ::open("/dev/null", descriptor == STDIN_FILENO ? O_RDONLY : O_WRONLY);
    if (opened >= 0 && opened != descriptor) {
        ::dup2(opened, descriptor);
        ::close(opened);
    }
    return true;
}

} // namespace

ClosedStandardDescriptors openClosedStandardDescriptors()
{
    ClosedStandardDescriptors closed;
    closed.input = reopenIfClosed(STDIN_FILENO);
    closed.output = reopenIfClosed(STDOUT_FILENO);
    closed.error = reopenIfClosed(STDERR_FILENO);
    return closed;
}

#else

// The program opens its files on Windows as handles, never as numbered descriptors: no file can
// take a standard descriptor's place.
ClosedStandardDescriptors openClosedStandardDescriptors()
{
    return ClosedStandardDescriptors();
}

#endif

} // namespace tvx
