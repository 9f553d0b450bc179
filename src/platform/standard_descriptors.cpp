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

bool openClosedStandardDescriptors()
{
    // In order: each reopened one takes the lowest free number.
    reopenIfClosed(STDIN_FILENO);
    const bool outputClosed = reopenIfClosed(STDOUT_FILENO);
    reopenIfClosed(STDERR_FILENO);
    return outputClosed;
}

#else

// The program opens its files on Windows as handles, never as numbered descriptors: no file can
// take a standard descriptor's place.
bool openClosedStandardDescriptors()
{
    return false;
}

#endif

} // namespace tvx
