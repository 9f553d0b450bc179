// Writing reading files and tvx.cfg on Linux and other Unix systems, through the system's own
// calls: names go to the file system as the bytes they are, and what a write will meet (an
// attribute, a sticky folder, a name too long) is known before anything is created.

#include "fail.h"
#include "files.h"

#ifndef Q_OS_WIN

#include <QFile>
#include <QRandomGenerator>

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace tvx {

namespace {

const QString NotRegularFile = QStringLiteral("not a regular file");
const QString NotWritableFile = QStringLiteral("the file is not writable");
const QString NoSuchFolder = QStringLiteral("there is no such folder");
const QString NotAFolder = QStringLiteral("it is not a folder");
const QString NotWritableFolder = QStringLiteral("the folder is not writable");

// Symbolic links followed before a loop is declared, as the system counts them.
constexpr int MaxLinks = 40;

QString systemWords(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// A full disk or quota: room may come later.
bool lacksRoom(int error)
{
    return error == ENOSPC || error == EDQUOT;
}

class Descriptor {
public:
    explicit Descriptor(int fd = -1) : m_fd(fd) {}
    ~Descriptor() { reset(); }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    void reset(int fd = -1)
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = fd;
    }

private:
    int m_fd;
};

// The system's name for path: exactly the bytes the user gave, or nothing when the name holds
// something the encoding cannot carry (it would reach the file system as another name).
bool systemName(const QString &path, QByteArray *bytes)
{
    *bytes = QFile::encodeName(path);
    return !path.isEmpty() && isSystemName(path);
}

QByteArray folderOf(const QByteArray &path)
{
    const qsizetype slash = path.lastIndexOf('/');
    if (slash < 0)
        return QByteArrayLiteral(".");
    return slash == 0 ? QByteArrayLiteral("/") : path.left(slash);
}

QByteArray nameOf(const QByteArray &path)
{
    return path.mid(path.lastIndexOf('/') + 1);
}

// Where a write to path lands: the file a chain of symbolic links ends at (the links stay),
// split into its folder and its name there.
struct Target {
    QByteArray folder;
    QByteArray name;
    bool exists = false;
    struct stat status = {};
};

// 0, or why the links cannot be followed (a loop, a name too long, a folder that is not one).
int findTarget(const QByteArray &path, Target *target)
{
    QByteArray current = path;
    for (int links = 0; links <= MaxLinks; ++links) {
        struct stat status = {};
        if (::lstat(current.constData(), &status) != 0) {
            // A folder on the way that is missing or not a folder is told when it is opened.
            if (errno != ENOENT && errno != ENOTDIR)
                return errno;
            target->exists = false;
        } else if (S_ISLNK(status.st_mode)) {
            QByteArray next(PATH_MAX, Qt::Uninitialized);
            const ssize_t length = ::readlink(current.constData(), next.data(), next.size());
            if (length < 0)
                return errno;
            next.truncate(length);
            // A relative link names its target from the folder it is in.
            current = next.startsWith('/') ? next : folderOf(current) + '/' + next;
            continue;
        } else {
            target->exists = true;
            target->status = status;
        }
        target->folder = folderOf(current);
        target->name = nameOf(current);
        return 0;
    }
    return ELOOP;
}

struct Attributes {
    bool immutable = false;
    bool appendOnly = false;
};

Attributes attributesOf(int folder, const char *name)
{
    Attributes attributes;
    struct statx status = {};
    if (::statx(folder, name, AT_SYMLINK_NOFOLLOW, STATX_BASIC_STATS, &status) == 0) {
        attributes.immutable = status.stx_attributes & STATX_ATTR_IMMUTABLE;
        attributes.appendOnly = status.stx_attributes & STATX_ATTR_APPEND;
    }
    return attributes;
}

bool isMemberOf(gid_t group)
{
    if (group == ::getegid())
        return true;
    const int count = ::getgroups(0, nullptr);
    QList<gid_t> groups(std::max(count, 0));
    return count > 0 && ::getgroups(count, groups.data()) == count && groups.contains(group);
}

// How a file is written: a new one takes the place of the old, or the old one is written over.
enum class Way { Replace, InPlace };

// What a write to path will do, found by looking only: the folder it happens in (kept open, so
// that the write goes where the look went), the name there, and the way; or why it cannot.
struct Plan {
    Descriptor folder;
    Target target;
    Way way = Way::Replace;
    QString problem;
};

bool refuse(Plan *plan, const QString &why)
{
    plan->problem = why;
    return false;
}

// Why a file of nameLength bytes cannot be added to the open folder at folderPath; empty when
// it can.
QString addFileProblem(int folder, const QByteArray &folderPath, qsizetype nameLength)
{
    const long nameMax = ::fpathconf(folder, _PC_NAME_MAX);
    const long pathMax = ::fpathconf(folder, _PC_PATH_MAX);
    if ((nameMax > 0 && nameLength > nameMax) ||
        folderPath.size() + 1 + nameLength >= (pathMax > 0 ? pathMax : PATH_MAX))
        return systemWords(ENAMETOOLONG);
    if (attributesOf(folder, ".").immutable)
        return QStringLiteral("the folder is marked immutable");
    if (::faccessat(folder, ".", W_OK | X_OK, AT_EACCESS) != 0)
        return errno == EACCES ? NotWritableFolder : systemWords(errno);
    return QString();
}

// Opens the folder a write happens in; false with the reason when it is missing, is no folder,
// or lies on a read-only file system.
bool openFolder(Plan *plan, const QByteArray &path)
{
    plan->folder.reset(::open(path.constData(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (plan->folder.valid()) {
        struct statvfs volume = {};
        const bool readOnly =
            ::fstatvfs(plan->folder.get(), &volume) == 0 && (volume.f_flag & ST_RDONLY);
        return !readOnly || refuse(plan, systemWords(EROFS));
    }
    switch (errno) {
    case ENOENT:
        return refuse(plan, NoSuchFolder);
    case ENOTDIR:
        return refuse(plan, NotAFolder);
    default:
        return refuse(plan, systemWords(errno));
    }
}

// The temporary name a replacement is written under: short, so that any name that fits the
// folder leaves room for it.
QByteArray temporaryName()
{
    static const char letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    QByteArray name = ".tvx";
    for (int i = 0; i < 6; ++i)
        name += letters[QRandomGenerator::global()->bounded(int(sizeof letters) - 1)];
    return name;
}

constexpr qsizetype TemporaryNameLength = 10;

bool planWrite(const QString &path, Plan *plan)
{
    QByteArray name;
    if (!systemName(path, &name))
        return refuse(plan, NotSystemName);
    if (const int error = findTarget(name, &plan->target))
        return refuse(plan, systemWords(error));
    Target &target = plan->target;
    if (target.name.isEmpty())
        return refuse(plan, NotRegularFile);
    if (!openFolder(plan, target.folder))
        return false;
    const int folder = plan->folder.get();
    // The longest of the names the write uses, its temporary name included.
    if (!target.exists) {
        plan->problem = addFileProblem(folder, target.folder,
                                       std::max(target.name.size(), TemporaryNameLength));
        return plan->problem.isEmpty();
    }
    // Renaming over a folder, a pipe or a device would destroy it (as root even /dev/null), and
    // writing into one would block or send the reading somewhere it is not kept.
    if (!S_ISREG(target.status.st_mode))
        return refuse(plan, NotRegularFile);
    const Attributes file = attributesOf(folder, target.name.constData());
    if (file.immutable)
        return refuse(plan, QStringLiteral("the file is marked immutable"));
    // An append-only file can neither be replaced nor cut.
    if (file.appendOnly)
        return refuse(plan, QStringLiteral("the file is marked append-only"));
    const bool fileWritable = ::faccessat(folder, target.name.constData(), W_OK, AT_EACCESS) == 0;

    // Replacing gives a new file; it is only done where the new file can have the old one's
    // owner and group: root can give any, others only their own.
    struct stat folderStatus = {};
    const uid_t me = ::geteuid();
    const bool keepsOwner =
        me == 0 || (target.status.st_uid == me && isMemberOf(target.status.st_gid));
    // In a sticky folder (/tmp) only the file's or the folder's owner may replace a file.
    const bool sticky = ::fstat(folder, &folderStatus) == 0 && (folderStatus.st_mode & S_ISVTX) &&
                        me != 0 && target.status.st_uid != me && folderStatus.st_uid != me;
    // An append-only folder keeps every name it has: none can be renamed over.
    const bool replaceable = keepsOwner && !sticky && !attributesOf(folder, ".").appendOnly &&
                             addFileProblem(folder, target.folder, TemporaryNameLength).isEmpty();
    if (replaceable)
        plan->way = Way::Replace;
    else if (fileWritable)
        plan->way = Way::InPlace;
    else
        return refuse(plan, NotWritableFile);
    return true;
}

bool writeAll(int fd, const QByteArray &bytes, int *error)
{
    for (qsizetype done = 0; done < bytes.size();) {
        const ssize_t n = ::pwrite(fd, bytes.constData() + done, size_t(bytes.size() - done), done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            // A write cut short (disk full) tells why only when the rest is asked for again.
            *error = n < 0 ? errno : ENOSPC;
            return false;
        }
        done += n;
    }
    return true;
}

// Gives the new file what the old one had: owner and group, mode, and the extended attributes
// (access control lists among them). False when any of them cannot be kept.
bool keepIdentity(int fd, const Target &target)
{
    const struct stat &old = target.status;
    if (::fchown(fd, old.st_uid, old.st_gid) != 0 || ::fchmod(fd, old.st_mode & 07777) != 0)
        return false;
    const QByteArray path = target.folder + '/' + target.name;
    const ssize_t size = ::listxattr(path.constData(), nullptr, 0);
    if (size <= 0)
        return size == 0 || errno == ENOTSUP;
    QByteArray names(size, Qt::Uninitialized);
    const ssize_t got = ::listxattr(path.constData(), names.data(), names.size());
    if (got < 0)
        return false;
    for (const QByteArray &attribute : names.left(got).split('\0')) {
        if (attribute.isEmpty())
            continue;
        const ssize_t length = ::getxattr(path.constData(), attribute.constData(), nullptr, 0);
        QByteArray value(std::max<ssize_t>(length, 0), Qt::Uninitialized);
        if (length < 0 ||
            ::getxattr(path.constData(), attribute.constData(), value.data(), value.size()) < 0 ||
            ::fsetxattr(fd, attribute.constData(), value.constData(), value.size(), 0) != 0)
            return false;
    }
    return true;
}

// Errors that say this way is closed to us, not that the file cannot be written at all.
bool isRefusal(int error)
{
    return error == EACCES || error == EPERM || error == EROFS || error == ETXTBSY;
}

// A new file under a temporary name, written whole and given the old file's identity, then
// renamed over the old one. 0, or the system's reason; nothing is left behind on failure.
int replace(const Plan &plan, const QByteArray &bytes)
{
    const int folder = plan.folder.get();
    QByteArray temporary;
    Descriptor file;
    for (int attempt = 0; attempt < 100 && !file.valid(); ++attempt) {
        temporary = temporaryName();
        file.reset(::openat(folder, temporary.constData(),
                            O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW,
                            plan.target.exists ? 0600 : 0666));
        if (!file.valid() && errno != EEXIST)
            return errno;
    }
    if (!file.valid())
        return EEXIST;
    int error = 0;
    if (plan.target.exists && !keepIdentity(file.get(), plan.target))
        error = EPERM;
    else if (!writeAll(file.get(), bytes, &error))
        ; // error says why
    else if (::fdatasync(file.get()) != 0 ||
             ::renameat(folder, temporary.constData(), folder, plan.target.name.constData()) != 0)
        error = errno;
    if (error != 0)
        ::unlinkat(folder, temporary.constData(), 0);
    return error;
}

// The old file written over: the space the new content needs is reserved first, so that a full
// disk is found while the old content is still whole.
bool writeInPlace(const Plan &plan, const QByteArray &bytes, QString *reason, bool *noRoom)
{
    Descriptor file(::openat(plan.folder.get(), plan.target.name.constData(),
                             O_WRONLY | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK));
    struct stat status = {};
    if (!file.valid())
        return fail(reason, systemWords(errno));
    if (::fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode))
        return fail(reason, NotRegularFile);
    bool reserved = bytes.isEmpty();
    if (!reserved) {
        const int error = ::fallocate(file.get(), 0, 0, bytes.size()) == 0 ? 0 : errno;
        if (error == 0)
            reserved = true;
        else if (error != EOPNOTSUPP && error != ENOSYS && error != EINVAL) {
            // What was reserved before the disk filled goes again; the old content is whole.
            [[maybe_unused]] const int restored = ::ftruncate(file.get(), status.st_size);
            *noRoom = lacksRoom(error);
            return fail(reason, systemWords(error));
        }
    }
    int error = 0;
    if (!writeAll(file.get(), bytes, &error) || ::ftruncate(file.get(), bytes.size()) != 0 ||
        ::fdatasync(file.get()) != 0) {
        if (error == 0)
            error = errno;
        *noRoom = lacksRoom(error);
        return fail(
            reason,
            reserved
                ? systemWords(error)
                : QStringLiteral("%1; the old file is now incomplete").arg(systemWords(error)));
    }
    return true;
}

// Writes bytes whole into a file without a name, then gives it the first free name of
// nameFor(1), nameFor(2), ... (an empty one ends the list): no name ever shows a file in the
// making, no existing file is replaced, and a failure leaves nothing behind. Naming goes through
// /proc; without it, or on a file system without unnamed files, the file is written under a
// temporary name and renamed without replacing. 0, or the system's reason (EEXIST: every name
// was taken); *named is the attempt that got a name or failed.
int createNamed(int folder, const QByteArray &bytes, const std::function<QByteArray(int)> &nameFor,
                int *named)
{
    Descriptor file;
    if (::access("/proc/self/fd", X_OK) == 0)
        file.reset(::openat(folder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666));
    QByteArray temporary;
    if (!file.valid()) {
        temporary = temporaryName();
        file.reset(::openat(folder, temporary.constData(),
                            O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666));
        if (!file.valid())
            return errno;
    }
    int error = 0;
    if (writeAll(file.get(), bytes, &error) && ::fdatasync(file.get()) != 0)
        error = errno;
    const QByteArray self = "/proc/self/fd/" + QByteArray::number(file.get());
    for (int attempt = 1; error == 0; ++attempt) {
        const QByteArray name = nameFor(attempt);
        if (name.isEmpty()) {
            error = EEXIST;
            break;
        }
        *named = attempt;
        int result = 0;
        if (temporary.isEmpty()) {
            result =
                ::linkat(AT_FDCWD, self.constData(), folder, name.constData(), AT_SYMLINK_FOLLOW);
        } else {
            result = ::renameat2(folder, temporary.constData(), folder, name.constData(),
                                 RENAME_NOREPLACE);
            // Renaming that refuses to replace is missing: a second name, then the first goes.
            if (result != 0 && errno == EINVAL)
                result = ::linkat(folder, temporary.constData(), folder, name.constData(), 0);
            else if (result == 0)
                temporary.clear();
        }
        if (result == 0)
            break;
        if (errno != EEXIST)
            error = errno;
    }
    if (!temporary.isEmpty())
        ::unlinkat(folder, temporary.constData(), 0);
    return error;
}

} // namespace

bool writeFileAtomically(const QString &path, const QByteArray &bytes, QString *reason,
                         bool *noRoom)
{
    bool lacking = false;
    if (!noRoom)
        noRoom = &lacking;
    *noRoom = false;
    Plan plan;
    if (!planWrite(path, &plan))
        return fail(reason, plan.problem);
    if (!plan.target.exists) {
        int named = 0;
        const int error = createNamed(
            plan.folder.get(), bytes,
            [&](int attempt) { return attempt == 1 ? plan.target.name : QByteArray(); }, &named);
        *noRoom = lacksRoom(error);
        return error == 0 || fail(reason, systemWords(error));
    }
    if (plan.way == Way::Replace) {
        const int error = replace(plan, bytes);
        if (error == 0)
            return true;
        // Something the look could not foresee (a security module, a file in use) refused the
        // new file; the old one may still be written over.
        const bool fileWritable =
            plan.target.exists &&
            ::faccessat(plan.folder.get(), plan.target.name.constData(), W_OK, AT_EACCESS) == 0;
        if (!isRefusal(error) || !fileWritable) {
            *noRoom = lacksRoom(error);
            return fail(reason, systemWords(error));
        }
    }
    return writeInPlace(plan, bytes, reason, noRoom);
}

QString writeProblem(const QString &path)
{
    Plan plan;
    planWrite(path, &plan);
    return plan.problem;
}

QString folderWriteProblem(const QString &folder, qsizetype nameLength)
{
    QByteArray name;
    if (!systemName(folder, &name))
        return NotSystemName;
    Plan plan;
    if (!openFolder(&plan, name))
        return plan.problem;
    return addFileProblem(plan.folder.get(), name, std::max(nameLength, TemporaryNameLength));
}

NewFile writeNewFile(const QString &folderPath, const std::function<QString(int)> &nameFor,
                     int attempts, const QByteArray &bytes)
{
    // Each name is asked for once.
    QStringList names{nameFor(1)};
    const auto name = [&](int attempt) {
        while (names.size() < attempt)
            names.append(nameFor(int(names.size()) + 1));
        return names.at(attempt - 1);
    };
    NewFile result;
    result.path = folderPath + QLatin1Char('/') + names.first();
    QByteArray folderName;
    if (!systemName(folderPath, &folderName)) {
        result.reason = systemWords(EINVAL);
        return result;
    }
    const Descriptor folder(::open(folderName.constData(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    int named = 0;
    const auto systemNameFor = [&](int attempt) {
        return attempt <= attempts ? QFile::encodeName(name(attempt)) : QByteArray();
    };
    const int error =
        folder.valid() ? createNamed(folder.get(), bytes, systemNameFor, &named) : errno;
    if (named > 0)
        result.path = folderPath + QLatin1Char('/') + name(named);
    result.written = error == 0;
    result.allTaken = error == EEXIST;
    result.noRoom = lacksRoom(error);
    if (error != 0 && error != EEXIST)
        result.reason = systemWords(error);
    return result;
}

} // namespace tvx

#endif
