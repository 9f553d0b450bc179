#include "port_lock.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSysInfo>

#include <algorithm>
#include <cstring>
#include <limits>
#include <utility>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <pwd.h>
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
    // The text forms: the PID first, right-aligned in ten characters or not. The older minicom
    // adds the program and the user on the same line ("      4242 minicom ann"); the toolkit
    // the program and the host on the lines after it.
    const QList<QByteArray> lines = content.split('\n');
    const QList<QByteArray> first = lines.value(0).simplified().split(' ');
    bool ok = false;
    const qint64 pid = first.value(0).toLongLong(&ok);
    if (!ok || pid <= 0)
        return std::nullopt;
    if (first.size() > 1)
        return LockHolder{pid, QString::fromUtf8(first.at(1)), QString()};
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

QStringList deviceNamesOf(const QString &device, const QString &serialFolder)
{
    const QString canonical = QFileInfo(device).canonicalFilePath();
    const QString real = canonical.isEmpty() ? device : canonical;
    QStringList names{real};
    if (device != real)
        names.append(device);
    // udev's stable names of an adapter: a program given one of them locks that name.
    for (const QString &kind : {QStringLiteral("by-id"), QStringLiteral("by-path")}) {
        const QDir folder(serialFolder + QLatin1Char('/') + kind);
        const QFileInfoList links = folder.entryInfoList(
            QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
        for (const QFileInfo &link : links) {
            if (link.isSymLink() && link.canonicalFilePath() == real &&
                !names.contains(link.absoluteFilePath()))
                names.append(link.absoluteFilePath());
        }
    }
    return names;
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
QString userName(uid_t uid)
{
    const passwd *user = ::getpwuid(uid);
    return user ? QString::fromLocal8Bit(user->pw_name) : QString::number(uid);
}

// What is found under a lock file's name.
struct LockFileState {
    enum Kind {
        Absent,
        Unreadable, // a symbolic link (never followed) or a file this user may not read
        Folder,
        File // a named pipe or a device reads as empty: a lock that names no process
    };
    Kind kind = Absent;
    QByteArray content;
    quint64 inode = 0;
    uid_t owner = 0;
    qint64 ageMs = 0;
};

// The lock folder is open to every user: what someone put there in a lock file's place must
// neither hold the program nor be opened for real. Only a plain file is read; anything else but
// a folder or a symbolic link (which might lead to a device) reads as empty.
LockFileState lookAt(const QString &path)
{
    LockFileState state;
    const QByteArray name = QFile::encodeName(path);
    struct stat info {};
    if (::lstat(name.constData(), &info) != 0)
        return state;
    state.owner = info.st_uid;
    state.inode = quint64(info.st_ino);
    state.ageMs = QDateTime::fromSecsSinceEpoch(info.st_mtim.tv_sec)
                      .addMSecs(info.st_mtim.tv_nsec / 1000000)
                      .msecsTo(QDateTime::currentDateTime());
    state.kind = S_ISDIR(info.st_mode)   ? LockFileState::Folder
                 : S_ISLNK(info.st_mode) ? LockFileState::Unreadable
                                         : LockFileState::File;
    if (!S_ISREG(info.st_mode))
        return state;
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        state.kind = errno == ENOENT ? LockFileState::Absent : LockFileState::Unreadable;
        return state;
    }
    // Replaced meanwhile by something else than a plain file: read as empty as well.
    char head[64];
    const ssize_t n =
        ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) ? ::read(fd, head, sizeof head) : 0;
    if (n > 0)
        state.content.append(head, n);
    state.inode = quint64(info.st_ino);
    ::close(fd);
    return state;
}

// Whether this user may remove the file from the folder: in a sticky folder (the lock folder
// is one) only the file's owner, the folder's and the administrator may.
bool mayRemove(const QString &folder, const LockFileState &state)
{
    struct stat info {};
    if (::stat(QFile::encodeName(folder).constData(), &info) != 0)
        return false;
    const uid_t me = ::geteuid();
    return !(info.st_mode & S_ISVTX) || me == 0 || me == state.owner || me == info.st_uid;
}

enum class Placed {
    Taken,
    Exists,  // another lock is in the way (when not replacing)
    Failed,  // the folder takes no file: *problem says why
    Refused, // the file in the way may not be replaced: *error says why
};

// Writes the lock's content into a file of its own and then puts it in place, so that another
// program never finds the lock file empty or half written: linked under the lock's name when
// that is free, or renamed over the stale lock, so that the name is never free for a moment in
// which a program that has no right to the device could take it. The file's name is one no
// other program uses: a leftover of another user's under a plain "LTMP.<pid>" (a process of the
// same number in a container, say) cannot be removed, and must not keep the lock from being
// written.
Placed placeLockFile(const QString &folder, const QString &path, bool replace, QString *problem,
                     int *error = nullptr)
{
    const auto failed = [&](int reason) {
        *problem = QStringLiteral("%1: %2").arg(folder, qt_error_string(reason));
        return Placed::Failed;
    };
    QByteArray temporary;
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 16; ++attempt) {
        temporary = QFile::encodeName(
            QStringLiteral("%1/LTMP.%2.%3")
                .arg(folder)
                .arg(::getpid())
                .arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0')));
        fd = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (fd < 0)
        return failed(errno);
    const QByteArray content = lockFileContent(::getpid());
    // Readable by every user whatever the umask: others read the PID to see whether it lives.
    const bool written = ::fchmod(fd, 0644) == 0 &&
                         ::write(fd, content.constData(), content.size()) == content.size();
    const int writeError = errno;
    ::close(fd);
    if (!written) {
        ::unlink(temporary.constData());
        return failed(writeError);
    }
    const QByteArray target = QFile::encodeName(path);
    const int placed = replace ? ::rename(temporary.constData(), target.constData())
                               : ::link(temporary.constData(), target.constData());
    const int placeError = errno;
    if (placed != 0 || !replace)
        ::unlink(temporary.constData());
    if (placed == 0)
        return Placed::Taken;
    if (!replace)
        return placeError == EEXIST ? Placed::Exists : failed(placeError);
    if (error)
        *error = placeError;
    return Placed::Refused;
}

QString holderText(const std::optional<LockHolder> &holder)
{
    if (!holder)
        return QStringLiteral("no process");
    if (holder->pid >= pidLimit())
        return QStringLiteral("process %1, beyond the system's range,").arg(holder->pid);
    return QStringLiteral("process %1, which has ended,").arg(holder->pid);
}

QString unremovable(const QString &path, uid_t owner, const std::optional<LockHolder> &holder,
                    int error)
{
    return QStringLiteral("the stale lock file %1 of user %2 names %3 and cannot be removed "
                          "(%4): an administrator removes it with \"sudo rm %1\"")
        .arg(path, userName(owner), holderText(holder), qt_error_string(error));
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

qint64 pidLimit()
{
    QFile file(QStringLiteral("/proc/sys/kernel/pid_max"));
    bool ok = false;
    const qint64 limit =
        file.open(QIODevice::ReadOnly) ? file.readAll().trimmed().toLongLong(&ok) : 0;
    // Without /proc: the largest the kernel allows.
    return ok && limit > 0 ? limit : qint64(4194304);
}

bool processExists(qint64 pid)
{
    // A number pid_t does not hold would be cut short: 4294967296 would ask about process 0,
    // the caller's own group, which always answers.
    return pid > 0 && pid < pidLimit() && pid <= std::numeric_limits<pid_t>::max() &&
           (::kill(pid_t(pid), 0) == 0 || errno == EPERM);
}

namespace {

// What a lock file in the way of this program's says for the port.
struct Verdict {
    std::optional<PortLock::Result> refusal; // the port is not to be opened
    PortLock::Found stale;                   // otherwise: the stale lock, to be replaced
};

Verdict judge(const QString &folder, bool writable, const QString &path, const LockFileState &state)
{
    using Outcome = PortLock::Outcome;
    using Result = PortLock::Result;
    using Found = PortLock::Found;
    const QString where = QStringLiteral("lock file %1").arg(path);
    if (state.kind == LockFileState::Unreadable)
        return {Result{Outcome::Busy, QStringLiteral("in use by another program (%1)").arg(where)},
                {}};
    if (state.kind == LockFileState::Folder) {
        return {Result{Outcome::StaleUnremovable,
                       QStringLiteral("the lock file %1 of user %2 is a folder, which no serial "
                                      "program removes: an administrator removes it with \"sudo "
                                      "rm -r %1\"")
                           .arg(path, userName(state.owner))},
                {}};
    }
    const std::optional<LockHolder> holder = parseLockFile(state.content);
    if (holder && !holder->host.isEmpty() && holder->host != QSysInfo::machineHostName()) {
        return {Result{Outcome::Busy, QStringLiteral("in use by process %1 on %2 (%3)")
                                          .arg(holder->pid)
                                          .arg(holder->host, where)},
                {}};
    }
    if (holder && processExists(holder->pid)) {
        QString program = programOfProcess(holder->pid);
        if (program.isEmpty())
            program = holder->program;
        const QString process = QStringLiteral("process %1").arg(holder->pid);
        return {Result{Outcome::Busy,
                       program.isEmpty()
                           ? QStringLiteral("in use by %1 (%2)").arg(process, where)
                           : QStringLiteral("in use by %1 (%2, %3)").arg(program, process, where)},
                {}};
    }
    // A lock that names no process may be one that is being written.
    if (!holder && state.ageMs < PortLock::StaleAfterSeconds * 1000) {
        return {Result{Outcome::Busy, QStringLiteral("in use by another program (%1 names no "
                                                     "process)")
                                          .arg(where)},
                {}};
    }
    // Known now to be in the way of this lock, rather than at the moment it is to be removed:
    // the device is not even opened then.
    if (writable && !mayRemove(folder, state))
        return {Result{Outcome::StaleUnremovable, unremovable(path, state.owner, holder, EPERM)},
                {}};
    return {std::nullopt,
            Found{path, state.inode, state.content, holder, holder && holder->pid < pidLimit()}};
}

} // namespace

PortLock::Result PortLock::refuse(Result result)
{
    release();
    return result;
}

PortLock::Result PortLock::acquire(const QStringList &deviceNames)
{
    release();
    m_writable = true;
    m_note.clear();
    QStringList paths;
    for (const QString &device : deviceNames) {
        const QString path = m_folder + QLatin1Char('/') + lockFileName(device);
        if (!paths.contains(path))
            paths.append(path);
    }
    for (const QString &path : paths) {
        // Another program may take and drop the lock between the steps; a few rounds settle it.
        for (int round = 0;; ++round) {
            if (round == 4) {
                return refuse(
                    {Outcome::Busy,
                     QStringLiteral("in use by another program (lock file %1)").arg(path)});
            }
            if (m_writable) {
                QString problem;
                const Placed placed = placeLockFile(m_folder, path, false, &problem);
                if (placed == Placed::Taken) {
                    m_written.append(path);
                    break;
                }
                if (placed == Placed::Failed) {
                    m_writable = false;
                    m_note = noLockFileNote(problem);
                }
            }
            // Nothing can be written here, but a living program's lock is honoured all the same.
            const LockFileState state = lookAt(path);
            if (state.kind == LockFileState::Absent) {
                if (m_writable)
                    continue; // gone in the meantime
                break;
            }
            const Verdict verdict = judge(m_folder, m_writable, path, state);
            if (verdict.refusal)
                return refuse(*verdict.refusal);
            m_stale.append(verdict.stale);
            break;
        }
    }
    if (!m_writable) {
        // No lock file at all rather than some: what the user is told holds for every name.
        const QList<Found> stale = m_stale;
        release();
        m_stale = stale;
        return {Outcome::NotWritable, m_note};
    }
    return {Outcome::Taken, QString()};
}

PortLock::Result PortLock::claim(const HeldElsewhere &heldElsewhere)
{
    std::optional<QString> heldBy; // asked once, when first needed
    const auto outOfSight = [&](const Found &found) -> std::optional<Result> {
        if (!found.unseen)
            return std::nullopt;
        if (!heldBy)
            heldBy = heldElsewhere ? heldElsewhere() : QString();
        if (heldBy->isEmpty())
            return std::nullopt;
        return Result{Outcome::Busy,
                      QStringLiteral("in use by process %1, not seen from here (lock file %2): %3")
                          .arg(found.holder->pid)
                          .arg(found.path, *heldBy)};
    };
    const QList<Found> pending = std::exchange(m_stale, {});
    // Every lock looked at before any is replaced: a refusal leaves them all as they were.
    for (const Found &found : pending) {
        if (const auto refusal = outOfSight(found))
            return refuse(*refusal);
    }
    // Neither removed nor replaced where the folder takes no file.
    for (Found found : m_writable ? pending : QList<Found>()) {
        for (int round = 0;; ++round) {
            if (round == 4) {
                return refuse(
                    {Outcome::Busy,
                     QStringLiteral("in use by another program (lock file %1)").arg(found.path)});
            }
            const LockFileState state = lookAt(found.path);
            // Only the very file that was judged stale is replaced: one written meanwhile is
            // judged afresh.
            const bool unchanged = state.kind == LockFileState::File &&
                                   state.inode == found.inode && state.content == found.content;
            if (state.kind != LockFileState::Absent && !unchanged) {
                const Verdict verdict = judge(m_folder, m_writable, found.path, state);
                if (verdict.refusal)
                    return refuse(*verdict.refusal);
                found = verdict.stale;
                if (const auto refusal = outOfSight(found))
                    return refuse(*refusal);
                continue;
            }
            QString problem;
            int error = 0;
            const Placed placed = placeLockFile(m_folder, found.path, unchanged, &problem, &error);
            if (placed == Placed::Exists)
                continue;
            if (placed == Placed::Refused) {
                return refuse({Outcome::StaleUnremovable,
                               unremovable(found.path, state.owner, found.holder, error)});
            }
            if (placed == Placed::Taken) {
                m_written.append(found.path);
            } else {
                // The others written stay: better than none.
                m_writable = false;
                m_note = noLockFileNote(problem);
            }
            break;
        }
    }
    if (!m_writable)
        return {Outcome::NotWritable, m_note};
    return {Outcome::Taken, QString()};
}

void PortLock::release()
{
    m_stale.clear();
    // Only a lock that still names this process is removed: one that an administrator or
    // another program replaced meanwhile is theirs.
    for (const QString &path : std::exchange(m_written, {})) {
        const LockFileState state = lookAt(path);
        const std::optional<LockHolder> holder = parseLockFile(state.content);
        if (state.kind == LockFileState::File && holder && holder->pid == ::getpid())
            ::unlink(QFile::encodeName(path).constData());
    }
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

qint64 pidLimit()
{
    return std::numeric_limits<qint32>::max();
}

bool processExists(qint64)
{
    return false;
}

PortLock::Result PortLock::acquire(const QStringList &)
{
    return {Outcome::Taken, QString()};
}

PortLock::Result PortLock::claim(const HeldElsewhere &)
{
    return {Outcome::Taken, QString()};
}

void PortLock::release() {}

#endif

} // namespace tvx
