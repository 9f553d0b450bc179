#include "termination.h"

#include "serial_port.h"

#include <QSocketNotifier>

#include <cstdlib>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace tvx {

#ifdef Q_OS_UNIX

namespace {

constexpr int Caught[] = {SIGTERM, SIGINT, SIGHUP};

// The self-pipe: the handler may only write a byte; the notifier reads it on the event loop.
int g_pipe[2] = {-1, -1};

extern "C" void onTerminationSignal(int signalNumber)
{
    const int savedErrno = errno;
    const char byte = static_cast<char>(signalNumber);
    // A full pipe already holds a request to end; nothing is lost by dropping this one.
    [[maybe_unused]] const ssize_t written = ::write(g_pipe[1], &byte, 1);
    errno = savedErrno;
}

} // namespace

TerminationSignals::TerminationSignals(QObject *parent) : QObject(parent)
{
    Q_ASSERT(g_pipe[0] < 0);
    if (::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        g_pipe[0] = g_pipe[1] = -1;
        return;
    }
    m_notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &TerminationSignals::readPending);
    struct sigaction action = {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signalNumber : Caught)
        ::sigaction(signalNumber, &action, nullptr);
}

TerminationSignals::~TerminationSignals()
{
    if (g_pipe[0] < 0)
        return;
    for (const int signalNumber : Caught)
        ::signal(signalNumber, SIG_DFL);
    delete m_notifier;
    ::close(g_pipe[0]);
    ::close(g_pipe[1]);
    g_pipe[0] = g_pipe[1] = -1;
}

void TerminationSignals::readPending()
{
    char byte = 0;
    while (::read(g_pipe[0], &byte, 1) == 1)
        Q_EMIT received(static_cast<unsigned char>(byte));
}

#else

TerminationSignals::TerminationSignals(QObject *parent) : QObject(parent) {}
TerminationSignals::~TerminationSignals() = default;
void TerminationSignals::readPending() {}

#endif

namespace {

SerialControl *g_releasedAtExit = nullptr;

extern "C" void releasePortAtExit()
{
    if (g_releasedAtExit)
        g_releasedAtExit->setPortOpen(false);
}

} // namespace

PortReleaseAtExit::PortReleaseAtExit(SerialControl &comm)
{
    static const bool registered = std::atexit(releasePortAtExit) == 0;
    Q_UNUSED(registered);
    g_releasedAtExit = &comm;
}

PortReleaseAtExit::~PortReleaseAtExit()
{
    g_releasedAtExit = nullptr;
}

} // namespace tvx
