// A test fixture for the Windows program under Wine: Wine takes a Linux device for a COM port
// only when it answers the modem-line requests, which a pseudo-terminal does not know (it has no
// modem lines). Loaded into Wine's processes with LD_PRELOAD, this library answers TIOCMGET,
// TIOCMSET, TIOCMBIS and TIOCMBIC on a pseudo-terminal as a cabled port with every line up would,
// and passes every other request through untouched. It answers only when the terminal does not
// know the request (ENOTTY, EINVAL): a pseudo-terminal whose other end has closed fails with
// EIO, as an unplugged adapter does, and Wine must see that to report the port lost.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdarg.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

// The lines of the one process, for every pseudo-terminal it opens: enough for a test.
static int lines = TIOCM_DTR | TIOCM_RTS | TIOCM_CTS | TIOCM_DSR | TIOCM_CAR;

// The pseudo-terminals Unix 98 style: /dev/pts/N, majors 136 to 143.
static int is_pseudo_terminal(int fd)
{
    struct stat status;
    return fstat(fd, &status) == 0 && S_ISCHR(status.st_mode) && major(status.st_rdev) >= 136 &&
           major(status.st_rdev) <= 143;
}

int ioctl(int fd, unsigned long request, ...)
{
    static int (*real_ioctl)(int, unsigned long, ...);
    va_list arguments;
    va_start(arguments, request);
    void *argument = va_arg(arguments, void *);
    va_end(arguments);
    if (!real_ioctl)
        real_ioctl = (int (*)(int, unsigned long, ...))dlsym(RTLD_NEXT, "ioctl");
    const int result = real_ioctl(fd, request, argument);
    const int error = errno;
    if (result == 0 || (error != ENOTTY && error != EINVAL) || !argument)
        return result;
    if (request != TIOCMGET && request != TIOCMSET && request != TIOCMBIS && request != TIOCMBIC)
        return result;
    if (!is_pseudo_terminal(fd)) {
        errno = error;
        return result;
    }
    int *bits = argument;
    if (request == TIOCMGET)
        *bits = lines;
    else if (request == TIOCMSET)
        lines = *bits;
    else if (request == TIOCMBIS)
        lines |= *bits;
    else
        lines &= ~*bits;
    return 0;
}
