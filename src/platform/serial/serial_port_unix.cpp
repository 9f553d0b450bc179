// The serial port on Unix, straight on the terminal device: the toolkit's serial port keeps
// lock files of its own making (taken over once 30 s old whether their process lives or not,
// and moved to /tmp when the lock folder takes no file), which no other serial program honours.

#include "port_lock.h"
#include "serial_port.h"

#ifndef Q_OS_WIN

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

namespace tvx {

struct SystemSerialControl::Device {
    int fd = -1;
    QSocketNotifier *notifier = nullptr; // a child of the control
    PortLock lock;
    quint64 openings = 0; // tells a reader whether the device it read from is still the one open
};

namespace {

// The speeds a terminal takes by name.
bool speedOf(qint32 baud, speed_t *speed)
{
    static const struct {
        qint32 baud;
        speed_t speed;
    } speeds[] = {{50, B50},         {75, B75},        {110, B110},     {134, B134},
                  {150, B150},       {200, B200},      {300, B300},     {600, B600},
                  {1200, B1200},     {1800, B1800},    {2400, B2400},   {4800, B4800},
                  {9600, B9600},     {19200, B19200},  {38400, B38400}, {57600, B57600},
                  {115200, B115200}, {230400, B230400}};
    for (const auto &entry : speeds) {
        if (entry.baud == baud) {
            *speed = entry.speed;
            return true;
        }
    }
    return false;
}

// Raw 8-bit input at the line settings: no echo, no line editing, no translation of line ends,
// no flow control; reads return at once with what is there.
bool configure(int fd, const LineSettings &s, QString *reason)
{
    termios t{};
    speed_t speed = B0;
    if (!speedOf(s.baud, &speed)) {
        *reason = QStringLiteral("the speed %1 is not supported").arg(s.baud);
        return false;
    }
    if (::tcgetattr(fd, &t) != 0) {
        *reason = qt_error_string(errno);
        return false;
    }
    ::cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
    static const tcflag_t sizes[] = {CS5, CS6, CS7, CS8};
    t.c_cflag |= sizes[s.dataBits - 5];
    if (s.stopBits == 2)
        t.c_cflag |= CSTOPB;
    if (s.parity != 'N')
        t.c_cflag |= PARENB;
    if (s.parity == 'O' || s.parity == 'M')
        t.c_cflag |= PARODD;
#ifdef CMSPAR
    if (s.parity == 'M' || s.parity == 'S')
        t.c_cflag |= CMSPAR;
#endif
    t.c_iflag &= ~(IXON | IXOFF | IXANY);
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    if (::cfsetispeed(&t, speed) != 0 || ::cfsetospeed(&t, speed) != 0 ||
        ::tcsetattr(fd, TCSANOW, &t) != 0) {
        *reason = qt_error_string(errno);
        return false;
    }
    return true;
}

// Appends every byte the terminal holds; 0, or the error that ended the reading. With no
// waiting byte a read gives 0 (the line is raw, without a minimum count) or EAGAIN: neither
// tells of a hang-up.
int readWaiting(int fd, QByteArray *bytes)
{
    char block[4096];
    for (;;) {
        const ssize_t n = ::read(fd, block, sizeof block);
        if (n > 0) {
            bytes->append(block, n);
            continue;
        }
        if (n == 0 || errno == EAGAIN || errno == EWOULDBLOCK)
            return 0;
        if (errno != EINTR)
            return errno;
    }
}

// The process that holds a flock() on the device, from the kernel's list of locks; 0 when it
// cannot be told.
qint64 flockHolder(int fd)
{
    struct stat info {};
    QFile locks(QStringLiteral("/proc/locks"));
    if (::fstat(fd, &info) != 0 || !locks.open(QIODevice::ReadOnly))
        return 0;
    // "1: FLOCK  ADVISORY  WRITE 1234 00:05:87 0 EOF": the holder, then the device of the
    // file system in hexadecimal and the inode.
    const QByteArray inode = ':' + QByteArray::number(quint64(info.st_ino));
    const QByteArray device = QByteArray::number(major(info.st_dev), 16).rightJustified(2, '0') +
                              ':' +
                              QByteArray::number(minor(info.st_dev), 16).rightJustified(2, '0');
    for (const QByteArray &line : locks.readAll().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() >= 6 && fields.at(1) == "FLOCK" && fields.at(5) == device + inode)
            return fields.at(4).toLongLong();
    }
    return 0;
}

// Who holds the device through flock(), as far as the system tells.
QString flockReason(int fd)
{
    const qint64 pid = flockHolder(fd);
    if (pid <= 0)
        return QStringLiteral("in use by another program, which holds a lock on the device");
    const QString program = programOfProcess(pid);
    return program.isEmpty()
               ? QStringLiteral("in use by process %1, which holds a lock on the device").arg(pid)
               : QStringLiteral("in use by %1 (process %2), which holds a lock on the device")
                     .arg(program)
                     .arg(pid);
}

// Who has the device open where its lock file's process number means nothing here: a process
// of another PID namespace (a container sharing the lock folder and the device), seen from
// here under a number of this namespace; or, failing that, a terminal left in exclusive mode
// by whoever holds it. Empty when nobody is seen holding it.
QString holderOutOfSight(const QString &device, bool exclusive)
{
    struct stat target {};
    if (::stat(QFile::encodeName(device).constData(), &target) != 0 || !S_ISCHR(target.st_mode))
        return QString();
    // Each devpts instance numbers its pseudo-terminals anew: there the file system counts too.
    const bool pseudoTerminal = device.startsWith(QStringLiteral("/dev/pts/"));
    const auto isTarget = [&](const struct stat &info) {
        return S_ISCHR(info.st_mode) && info.st_rdev == target.st_rdev &&
               (!pseudoTerminal || info.st_dev == target.st_dev);
    };
    const QString proc = QStringLiteral("/proc/");
    // "pid:[4026531836]": no path, read as it is.
    const auto namespaceOf = [&](const QString &process) {
        char target[64];
        const ssize_t n =
            ::readlink(QFile::encodeName(proc + process + QStringLiteral("/ns/pid")).constData(),
                       target, sizeof target);
        return n > 0 ? QByteArray(target, int(n)) : QByteArray();
    };
    const QByteArray ownNamespace = namespaceOf(QStringLiteral("self"));
    const QString self = QString::number(::getpid());
    const QStringList processes = QDir(proc).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &pid : processes) {
        bool number = false;
        pid.toLongLong(&number);
        if (!number || pid == self)
            continue;
        // Another user's process tells nothing of itself to an ordinary user.
        const QByteArray space = namespaceOf(pid);
        if (space.isEmpty() || space == ownNamespace)
            continue;
        const QString fds = proc + pid + QStringLiteral("/fd");
        for (const QString &fd : QDir(fds).entryList(QDir::System | QDir::NoDotAndDotDot)) {
            struct stat info {};
            if (::stat(QFile::encodeName(fds + QLatin1Char('/') + fd).constData(), &info) == 0 &&
                isTarget(info)) {
                const QString program = programOfProcess(pid.toLongLong());
                return QStringLiteral("the device is open in %1 (process %2)")
                    .arg(program.isEmpty() ? QStringLiteral("another program") : program, pid);
            }
        }
    }
    return exclusive ? QStringLiteral("the device is in exclusive mode") : QString();
}

} // namespace

SystemSerialControl::SystemSerialControl(QObject *parent)
    : SerialControl(parent), m_device(std::make_unique<Device>())
{
}

// A control that goes while its port is open (the program ends, a window is discarded) lets
// go of the device and its lock.
SystemSerialControl::~SystemSerialControl()
{
    closeDevice();
}

QString SystemSerialControl::lockFolderNote() const
{
    return tvx::lockFolderNote(systemLockFolder());
}

bool SystemSerialControl::openDevice(const QString &device, const LineSettings &settings,
                                     OpenFailure *failure)
{
    // One device, one port, whatever name it is given: other programs lock it under the name
    // they were given, so the lock of every name it goes by is looked at, and written.
    const QString real = realDeviceOf(device);
    PortLock &lock = m_device->lock;
    const auto refused = [&](const PortLock::Result &result) {
        failure->kind =
            result.outcome == PortLock::Outcome::Busy ? OpenFailure::Busy : OpenFailure::StaleLock;
        failure->reason = result.reason;
        return false;
    };
    // A device that is not there is in nobody's use, whatever lock its name may meet.
    struct stat status {};
    if (::stat(QFile::encodeName(real).constData(), &status) != 0 && errno == ENOENT) {
        failure->kind = OpenFailure::Other;
        failure->reason = qt_error_string(ENOENT);
        return false;
    }
    const PortLock::Result locked = lock.acquire(deviceNamesOf(device));
    if (locked.outcome == PortLock::Outcome::Busy ||
        locked.outcome == PortLock::Outcome::StaleUnremovable)
        return refused(locked);
    const auto fail = [&](OpenFailure::Kind kind, const QString &reason, int fd) {
        if (fd >= 0)
            ::close(fd);
        lock.release(); // this program's lock files only: another's stale one stays as it was
        failure->kind = kind;
        failure->reason = reason;
        return false;
    };

    // A signal to end the program is no reason not to open: the run ends by its own rule once
    // the event loop hears the signal.
    const QByteArray path = QFile::encodeName(real);
    int fd = -1;
    do {
        fd = ::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        const int error = errno;
        if (error == EBUSY) {
            // Another program has the terminal in exclusive mode.
            return fail(
                OpenFailure::Busy,
                QStringLiteral("in use by another program (%1)").arg(qt_error_string(error)), -1);
        }
        return fail(error == EACCES ? OpenFailure::Permission : OpenFailure::Other,
                    qt_error_string(error), -1);
    }
    // Programs that lock with flock() see the port as busy, and are seen; the kernel drops the
    // lock with the descriptor, however the program ends.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK)
            return fail(OpenFailure::Busy, flockReason(fd), fd);
        return fail(OpenFailure::Other, qt_error_string(errno), fd);
    }
    // The device is this program's now: stale locks of others are replaced by its own. Root
    // opens a terminal another program holds in exclusive mode all the same; that mode, set
    // before this program sets its own, tells that someone holds the device.
    int exclusive = 0;
    const bool exclusiveElsewhere = ::ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive != 0;
    const PortLock::Result claimed =
        lock.claim([&] { return holderOutOfSight(real, exclusiveElsewhere); });
    if (claimed.outcome == PortLock::Outcome::Busy ||
        claimed.outcome == PortLock::Outcome::StaleUnremovable) {
        ::close(fd);
        return refused(claimed);
    }
    // Other users' openings fail from now on. A device that is no terminal (a plain file, a
    // pipe) is refused by the line settings that follow.
    ::ioctl(fd, TIOCEXCL);
    QString reason;
    if (!configure(fd, settings, &reason)) {
        ::ioctl(fd, TIOCNXCL);
        return fail(OpenFailure::Other, reason, fd);
    }

    m_device->fd = fd;
    ++m_device->openings;
    m_device->notifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(m_device->notifier, &QSocketNotifier::activated, this,
            &SystemSerialControl::readDevice);
    if (locked.outcome == PortLock::Outcome::NotWritable)
        noteNoLockFile(locked.reason);
    else if (claimed.outcome == PortLock::Outcome::NotWritable)
        noteNoLockFile(claimed.reason);
    return true;
}

void SystemSerialControl::readDevice()
{
    const int fd = m_device->fd;
    if (fd < 0)
        return;
    QByteArray bytes;
    const int error = readWaiting(fd, &bytes);
    // A pseudo-terminal whose other end closed says EIO.
    bool gone = error != 0;
    const QString reason = gone ? qt_error_string(error) : QString();
    pollfd state{fd, POLLIN, 0};
    if (!gone && ::poll(&state, 1, 0) > 0 && (state.revents & (POLLHUP | POLLERR | POLLNVAL)))
        gone = true; // the line hung up or the adapter is gone
    if (gone)
        m_device->notifier->setEnabled(false); // a hung-up device stays readable for ever
    // The receive notification may run a whole capture, during which this device can be
    // closed, or another one opened.
    const quint64 opening = m_device->openings;
    received(bytes);
    if (gone && m_device->openings == opening && m_device->fd == fd)
        lost(lostDeviceReason(reason));
}

void SystemSerialControl::closeDevice()
{
    if (m_device->fd < 0)
        return;
    // The lock file goes before the device is let go. A pseudo-terminal's name is free again
    // once its last descriptor closes and goes to the next terminal made at once; an opening of
    // that one must not find this lock still standing.
    m_device->lock.release();
    if (m_device->notifier) {
        m_device->notifier->setEnabled(false);
        m_device->notifier->deleteLater(); // it may be the one whose signal runs now
        m_device->notifier = nullptr;
    }
    // The exclusive mode belongs to the terminal, not to the descriptor: while another process
    // keeps the terminal open (socat, ser2net, a monitor) it would stay after this close, and
    // refuse every opening but root's, this program's next one included.
    ::ioctl(m_device->fd, TIOCNXCL);
    ::close(m_device->fd);
    m_device->fd = -1;
    ++m_device->openings;
}

bool SystemSerialControl::configureDevice(const LineSettings &settings, QString *reason)
{
    return configure(m_device->fd, settings, reason);
}

void SystemSerialControl::collectPending()
{
    // What the terminal holds and nobody has read yet; the port is on its way to being closed,
    // so it comes without a notification.
    const int fd = m_device->fd;
    if (fd < 0)
        return;
    QByteArray bytes;
    readWaiting(fd, &bytes);
    receivedQuietly(bytes);
}

} // namespace tvx

#endif
