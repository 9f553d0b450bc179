#include "port_lock.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QSysInfo>

#include <algorithm>
#include <cstring>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace tvx {

std::optional<LockHolder> parseLockFile(const QByteArray &content)
{
    // The binary form, as old UUCP programs write it: four bytes of the machine's own order.
    // Four characters of text would be digits or blanks with a newline; these never are.
    const auto isText = [](char c) { return (c >= '0' && c <= '9') || c == ' ' || c == '\n'; };
    if (content.size() == 4 && !std::all_of(content.begin(), content.end(), isText)) {
        qint32 pid = 0;
        std::memcpy(&pid, content.constData(), sizeof pid);
        if (pid <= 0)
            return std::nullopt;
        return LockHolder{pid, QString(), QString()};
    }
    // The text forms: the PID on the first line, right-aligned in ten characters or not; the
    // toolkit adds the program and the host on the lines after it.
    const QList<QByteArray> lines = content.split('\n');
    bool ok = false;
    const qint64 pid = lines.value(0).trimmed().toLongLong(&ok);
    if (!ok || pid <= 0)
        return std::nullopt;
    return LockHolder{pid, QString::fromUtf8(lines.value(1).trimmed()),
                      QString::fromUtf8(lines.value(2).trimmed())};
}

QByteArray lockFileContent(qint64 pid)
{
    return QByteArray::number(pid).rightJustified(10, ' ') + '\n';
}

QString lockFileName(const QString &device)
{
    const QString dev = QStringLiteral("/dev/");
    QString name = device.startsWith(dev) ? device.mid(dev.size()) : QFileInfo(device).fileName();
    return QStringLiteral("LCK..") + name.replace(QLatin1Char('/'), QLatin1Char('_'));
}

#ifdef Q_OS_UNIX

QString systemLockFolder()
{
    // /var/lock leads here on every current distribution; older ones have only /var/lock.
    const QString run = QStringLiteral("/run/lock");
    return QFileInfo(run).isDir() ? run : QStringLiteral("/var/lock");
}

QString lockFolderProblem(const QString &folder)
{
    if (::access(QFile::encodeName(folder).constData(), W_OK | X_OK) == 0)
        return QString();
    return QStringLiteral("%1: %2").arg(folder, qt_error_string(errno));
}

namespace {

QString noLockFileNote(const QString &problem)
{
    return QStringLiteral("no lock file can be written (%1): programs that look only for lock "
                          "files will not see the port in use")
        .arg(problem);
}

// A user without a name (a removed account) by number.
QString ownerOf(const QFileInfo &file)
{
    const QString name = file.owner();
    return name.isEmpty() ? QString::number(file.ownerId()) : name;
}

// The first bytes of the lock file; false when it cannot be opened (gone in the meantime, or a
// symbolic link, which is never followed: the port then counts as busy). The lock folder is open
// to every user: what someone put there in a lock file's place must neither hold the program
// nor be opened for real; a named pipe reads as empty, a lock that names no process.
bool readLockFile(const QString &path, QByteArray *content)
{
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return false;
    content->clear();
    struct stat info {};
    char head[64];
    const ssize_t n =
        ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) ? ::read(fd, head, sizeof head) : 0;
    if (n > 0)
        content->append(head, n);
    ::close(fd);
    return true;
}

enum class Linked { Taken, Exists, Failed };

// Writes the lock's content into a file of its own and links it into place, so that another
// program never finds the lock file empty or half written.
Linked linkLockFile(const QString &folder, const QString &path, QString *problem)
{
    const auto failed = [&](int error) {
        *problem = QStringLiteral("%1: %2").arg(folder, qt_error_string(error));
        return Linked::Failed;
    };
    const QByteArray temporary =
        QFile::encodeName(QStringLiteral("%1/LTMP.%2").arg(folder).arg(::getpid()));
    ::unlink(temporary.constData()); // a leftover of an earlier run under this PID
    const int fd = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0)
        return failed(errno);
    const QByteArray content = lockFileContent(::getpid());
    // Readable by every user whatever the umask: others read the PID to see whether it lives.
    const bool written = ::fchmod(fd, 0644) == 0 &&
                         ::write(fd, content.constData(), content.size()) == content.size();
    const int writeError = errno;
    ::close(fd);
    const int linked =
        written ? ::link(temporary.constData(), QFile::encodeName(path).constData()) : -1;
    const int linkError = written ? errno : writeError;
    ::unlink(temporary.constData());
    if (linked == 0)
        return Linked::Taken;
    return linkError == EEXIST ? Linked::Exists : failed(linkError);
}

} // namespace

QString lockFolderNote(const QString &folder)
{
    const QString problem = lockFolderProblem(folder);
    return problem.isEmpty() ? QString() : noLockFileNote(problem);
}

QString programOfProcess(qint64 pid)
{
    QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
    if (!comm.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromLocal8Bit(comm.readAll().trimmed());
}

bool processExists(qint64 pid)
{
    return pid > 0 && (::kill(pid_t(pid), 0) == 0 || errno == EPERM);
}

PortLock::Result PortLock::acquire(const QString &device)
{
    release();
    m_path = m_folder + QLatin1Char('/') + lockFileName(device);
    const QByteArray path = QFile::encodeName(m_path);
    // Another program may take and drop the lock between the steps; a few rounds settle it.
    for (int round = 0; round < 4; ++round) {
        QString problem;
        const Linked linked = linkLockFile(m_folder, m_path, &problem);
        if (linked == Linked::Taken) {
            m_held = true;
            return {Outcome::Taken, QString()};
        }
        if (linked == Linked::Failed)
            return {Outcome::NotWritable, noLockFileNote(problem)};

        QByteArray content;
        if (!readLockFile(m_path, &content))
            continue; // gone in the meantime
        const std::optional<LockHolder> holder = parseLockFile(content);
        const QFileInfo info(m_path);
        const QString where = QStringLiteral("lock file %1").arg(m_path);
        if (holder && !holder->host.isEmpty() && holder->host != QSysInfo::machineHostName()) {
            return {Outcome::Busy, QStringLiteral("in use by process %1 on %2 (%3)")
                                       .arg(holder->pid)
                                       .arg(holder->host, where)};
        }
        if (holder && processExists(holder->pid)) {
            QString program = programOfProcess(holder->pid);
            if (program.isEmpty())
                program = holder->program;
            const QString process = QStringLiteral("process %1").arg(holder->pid);
            return {Outcome::Busy,
                    program.isEmpty()
                        ? QStringLiteral("in use by %1 (%2)").arg(process, where)
                        : QStringLiteral("in use by %1 (%2, %3)").arg(program, process, where)};
        }
        // A lock that names no process may be one that is being written.
        const qint64 ageMs = info.lastModified().msecsTo(QDateTime::currentDateTime());
        if (!holder && ageMs < StaleAfterSeconds * 1000) {
            return {Outcome::Busy,
                    QStringLiteral("in use by another program (%1 names no process)").arg(where)};
        }
        if (::unlink(path.constData()) == 0 || errno == ENOENT)
            continue;
        const QString refused = qt_error_string(errno);
        const QString gone = holder
                                 ? QStringLiteral("process %1, which has ended,").arg(holder->pid)
                                 : QStringLiteral("no process");
        return {Outcome::StaleUnremovable,
                QStringLiteral("the stale lock file %1 of user %2 names %3 and cannot be "
                               "removed (%4): an administrator removes it with \"sudo rm %1\"")
                    .arg(m_path, ownerOf(info), gone, refused)};
    }
    return {Outcome::Busy, QStringLiteral("in use by another program (lock file %1)").arg(m_path)};
}

void PortLock::release()
{
    if (!m_held)
        return;
    m_held = false;
    // Only a lock that still names this process is removed: one that an administrator or
    // another program replaced meanwhile is theirs.
    QByteArray content;
    if (!readLockFile(m_path, &content))
        return;
    const std::optional<LockHolder> holder = parseLockFile(content);
    if (holder && holder->pid == ::getpid())
        ::unlink(QFile::encodeName(m_path).constData());
}

#else // Windows keeps no lock files: a COM port opens for one program at a time.

QString systemLockFolder()
{
    return QString();
}

QString lockFolderProblem(const QString &)
{
    return QString();
}

QString lockFolderNote(const QString &)
{
    return QString();
}

QString programOfProcess(qint64)
{
    return QString();
}

bool processExists(qint64)
{
    return false;
}

PortLock::Result PortLock::acquire(const QString &)
{
    return {Outcome::Taken, QString()};
}

void PortLock::release() {}

#endif

} // namespace tvx
