#include "termination.h"

#include "serial/serial_port.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QSocketNotifier>

#include <csignal>
#include <cstdlib>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>
#endif

namespace tvx {

namespace {

volatile std::sig_atomic_t g_requested = 0;
// The end of the time output still has, counted from when it first met the request.
QDeadlineTimer g_grace(QDeadlineTimer::Forever);

// A request belongs to the object that heard it: a later one starts with none.
void forgetRequest()
{
    g_requested = 0;
    g_grace = QDeadlineTimer(QDeadlineTimer::Forever);
}

} // namespace

bool terminationRequested()
{
    return g_requested != 0;
}

#ifdef Q_OS_UNIX

namespace {

constexpr int Caught[] = {SIGTERM, SIGINT, SIGHUP};

// The self-pipe: the handler may only write a byte; the notifier reads it on the event loop.
int g_pipe[2] = {-1, -1};

QDeadlineTimer graceDeadline()
{
    if (!terminationRequested())
        return QDeadlineTimer(QDeadlineTimer::Forever);
    if (g_grace.isForever())
        g_grace = QDeadlineTimer(TerminationGraceMs, Qt::PreciseTimer);
    return g_grace;
}

QString interruptedAfter(qint64 done, qint64 size)
{
    return QStringLiteral("the write was interrupted after %1 of %2 bytes").arg(done).arg(size);
}

extern "C" void onTerminationSignal(int signalNumber)
{
    const int savedErrno = errno;
    g_requested = 1;
    const char byte = static_cast<char>(signalNumber);
    // A full pipe already holds a request to end; nothing is lost by dropping this one.
    [[maybe_unused]] const ssize_t written = ::write(g_pipe[1], &byte, 1);
    errno = savedErrno;
}

} // namespace

TerminationSignals::TerminationSignals(QObject *parent) : QObject(parent)
{
    Q_ASSERT(g_pipe[0] < 0);
    forgetRequest();
    if (::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        g_pipe[0] = g_pipe[1] = -1;
        return;
    }
    m_notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &TerminationSignals::readPending);
    struct sigaction action = {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    // Without SA_RESTART: a system call that waits (a write to a pipe nobody reads) comes back
    // with EINTR when a signal arrives, and its caller sees the request, instead of the call
    // going on waiting until a service manager's SIGKILL. Qt, and the serial port's opening and
    // reads, retry EINTR themselves.
    action.sa_flags = 0;
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
    forgetRequest();
}

void TerminationSignals::readPending()
{
    char byte = 0;
    while (::read(g_pipe[0], &byte, 1) == 1)
        Q_EMIT received(static_cast<unsigned char>(byte));
}

QString writeUntilTerminated(int descriptor, const QByteArray &bytes)
{
    // poll() returns early when a signal arrives; this bounds the wait for one that came just
    // before poll() began.
    constexpr int LookAgainMs = 100;
    qint64 done = 0;
    while (done < bytes.size()) {
        // A reader that takes the bytes at once gets them also after the grace, as the message
        // that the run ended does.
        const QDeadlineTimer grace = graceDeadline();
        const qint64 left = grace.isForever() ? LookAgainMs : grace.remainingTime();
        pollfd ready{descriptor, POLLOUT, 0};
        const int polled = ::poll(&ready, 1, int(qMin<qint64>(LookAgainMs, left)));
        if (polled < 0 && errno != EINTR)
            return qt_error_string(errno);
        if (polled <= 0) {
            if (graceDeadline().hasExpired())
                return interruptedAfter(done, bytes.size());
            continue;
        }
        // Once a pipe has room it takes PIPE_BUF bytes without waiting; more could wait again.
        const qint64 chunk = qMin<qint64>(bytes.size() - done, PIPE_BUF);
        const ssize_t n = ::write(descriptor, bytes.constData() + done, size_t(chunk));
        if (n > 0)
            done += n;
        else if (n == 0)
            return qt_error_string(EIO);
        else if (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK)
            return qt_error_string(errno);
    }
    return QString();
}

#else

TerminationSignals::TerminationSignals(QObject *parent) : QObject(parent)
{
    forgetRequest();
}
TerminationSignals::~TerminationSignals() = default;
void TerminationSignals::readPending() {}

// Windows has no signals to wait for: the bytes are written for as long as it takes.
QString writeUntilTerminated(int descriptor, const QByteArray &bytes)
{
    QFile file;
    if (!file.open(descriptor, QIODevice::WriteOnly | QIODevice::Unbuffered,
                   QFileDevice::DontCloseHandle))
        return file.errorString();
    for (qint64 done = 0; done < bytes.size();) {
        const qint64 n = file.write(bytes.constData() + done, bytes.size() - done);
        if (n <= 0)
            return file.errorString();
        done += n;
    }
    return QString();
}

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
