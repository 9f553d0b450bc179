#include "system_fixtures.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>

#ifdef Q_OS_WIN

#include <windows.h>

// A Windows program (the suites under Wine) has none of these facilities: each says so, and the
// tests that need one skip with that reason or are left out of the Windows run
// (tests/windows/suites.cmake).
namespace tvx::test {

ScratchVolume::~ScratchVolume() = default;

bool ScratchVolume::mount(const QString &, int, QString *reason)
{
    if (reason)
        *reason = QStringLiteral("Windows has no mount namespaces");
    return false;
}

bool ScratchVolume::makeReadOnly(QString *reason)
{
    if (reason)
        *reason = QStringLiteral("Windows has no mount namespaces");
    return false;
}

void ScratchVolume::unmount() {}

bool FileSizeLimit::available()
{
    return false;
}

FileSizeLimit::FileSizeLimit(qint64) {}

FileSizeLimit::~FileSizeLimit() = default;

// A process cannot become another user on Windows: permissions stay those of the test's user.
OrdinaryUser::OrdinaryUser() = default;

OrdinaryUser::~OrdinaryUser() = default;

bool workInUnlistableFolder(const QString &folder, bool)
{
    return QDir::setCurrent(folder);
}

quint64 inodeOf(const QString &path)
{
    // The file index is what the inode number is on Linux: kept by a write in place.
    const HANDLE file = CreateFileW(reinterpret_cast<const wchar_t *>(path.utf16()), 0,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    BY_HANDLE_FILE_INFORMATION info{};
    const bool known = GetFileInformationByHandle(file, &info);
    CloseHandle(file);
    return known ? (quint64(info.nFileIndexHigh) << 32) | info.nFileIndexLow : 0;
}

} // namespace tvx::test

#else

#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tvx::test {

namespace {

QString systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

// Once per process: a mount namespace of its own whose mounts do not travel back.
bool enterPrivateNamespace(QString *reason)
{
    static int result = -1;
    static QString failure;
    if (result < 0) {
        if (unshare(CLONE_NEWNS) != 0) {
            failure = QStringLiteral("unshare(CLONE_NEWNS): ") + systemError();
            result = 0;
        } else if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
            failure = QStringLiteral("making the mounts private: ") + systemError();
            result = 0;
        } else {
            result = 1;
        }
    }
    if (result == 0 && reason)
        *reason = failure;
    return result == 1;
}

} // namespace

ScratchVolume::~ScratchVolume()
{
    unmount();
}

bool ScratchVolume::mount(const QString &folder, int sizeKiB, QString *reason)
{
    if (!enterPrivateNamespace(reason))
        return false;
    const QByteArray target = QFile::encodeName(folder);
    const QByteArray options = "size=" + QByteArray::number(sizeKiB) + "k";
    if (::mount("tarvix-test", target.constData(), "tmpfs", MS_NOSUID | MS_NODEV,
                options.constData()) != 0) {
        if (reason)
            *reason = QStringLiteral("mounting a tmpfs: ") + systemError();
        return false;
    }
    m_folder = target;
    return true;
}

bool ScratchVolume::makeReadOnly(QString *reason)
{
    if (::mount(nullptr, m_folder.constData(), nullptr,
                MS_REMOUNT | MS_RDONLY | MS_NOSUID | MS_NODEV, nullptr) != 0) {
        if (reason)
            *reason = QStringLiteral("remounting read-only: ") + systemError();
        return false;
    }
    return true;
}

void ScratchVolume::unmount()
{
    if (m_folder.isEmpty())
        return;
    ::umount2(m_folder.constData(), MNT_DETACH);
    m_folder.clear();
}

bool FileSizeLimit::available()
{
    return true;
}

FileSizeLimit::FileSizeLimit(qint64 bytes)
{
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{};
    getrlimit(RLIMIT_FSIZE, &limit);
    m_previous = limit.rlim_cur;
    limit.rlim_cur = rlim_t(bytes);
    setrlimit(RLIMIT_FSIZE, &limit);
}

FileSizeLimit::~FileSizeLimit()
{
    rlimit limit{};
    getrlimit(RLIMIT_FSIZE, &limit);
    limit.rlim_cur = rlim_t(m_previous);
    setrlimit(RLIMIT_FSIZE, &limit);
}

OrdinaryUser::OrdinaryUser()
{
    if (geteuid() != 0) {
        m_active = true;
        return;
    }
    // Real and effective user "nobody", the saved one stays root to come back to. Both, because
    // access() checks the real user.
    constexpr uid_t Nobody = 65534;
    m_switched = setresgid(Nobody, Nobody, 0) == 0 && setresuid(Nobody, Nobody, 0) == 0;
    m_active = m_switched;
}

OrdinaryUser::~OrdinaryUser()
{
    if (!m_switched)
        return;
    if (setresuid(0, 0, 0) != 0 || setresgid(0, 0, 0) != 0)
        std::abort();
}

bool workInUnlistableFolder(const QString &folder, bool othersMayWrite)
{
    const auto mine = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;
    const auto others =
        othersMayWrite ? QFileDevice::ExeOther | QFileDevice::WriteOther : QFileDevice::ExeOther;
    return QFile::setPermissions(QFileInfo(folder).absolutePath(), mine | QFileDevice::ExeOther) &&
           QFile::setPermissions(folder, mine | others) && QDir::setCurrent(folder);
}

quint64 inodeOf(const QString &path)
{
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? quint64(info.st_ino) : 0;
}

} // namespace tvx::test

#endif
