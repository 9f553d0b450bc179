#include "files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStorageInfo>

#include <algorithm>

namespace tvx {

namespace {

bool fail(QString *reason, const QString &why)
{
    if (reason)
        *reason = why;
    return false;
}

// Looked at through a symbolic link, as the write goes through it. Only the file's status is
// read (stat): opening a named pipe would wait for a reader.
bool isOtherThanRegularFile(const QString &path)
{
    const QFileInfo info(path);
    return info.exists() && !info.isFile();
}

const QString NotRegularFile = QStringLiteral("not a regular file");

} // namespace

bool writeFileAtomically(const QString &path, const QByteArray &bytes, QString *reason)
{
    // Renaming over a folder, a pipe or a device would destroy it (as root even /dev/null), and
    // writing into one would block or send the reading somewhere it is not kept.
    if (isOtherThanRegularFile(path))
        return fail(reason, NotRegularFile);
    QSaveFile file(path);
    // A folder that refuses new files (a shared folder holding a file prepared for the user)
    // leaves no way to replace the file; it is then truncated and written in place, which
    // keeps its owner, inode and hard links, but a failure part of the way leaves it cut.
    file.setDirectWriteFallback(true);
    // Unbuffered, so that a short write (disk full) shows in write() itself: with buffering
    // the failure would only surface in the final flush, which commit() does not report.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        if (reason)
            *reason = file.errorString();
        return false;
    }
    // A write that stops part of the way (disk full) reports no error of its own; asking for
    // the rest again brings the system's reason.
    for (qint64 written = 0; written < bytes.size();) {
        const qint64 n = file.write(bytes.constData() + written, bytes.size() - written);
        if (n <= 0) {
            if (reason)
                *reason = file.errorString();
            file.cancelWriting();
            return false;
        }
        written += n;
    }
    const QString error = file.errorString();
    if (!file.commit()) {
        if (reason)
            *reason = file.errorString().isEmpty() ? error : file.errorString();
        return false;
    }
    return true;
}

QString folderWriteProblem(const QString &folder)
{
    const QFileInfo info(folder);
    if (!info.exists())
        return QStringLiteral("there is no such folder");
    if (!info.isDir())
        return QStringLiteral("it is not a folder");
    if (!info.isWritable())
        return QStringLiteral("the folder is not writable");
    return QString();
}

QString writeProblem(const QString &path)
{
    const QFileInfo info(path);
    if (info.exists()) {
        if (!info.isFile())
            return NotRegularFile;
        return info.isWritable() ? QString() : QStringLiteral("the file is not writable");
    }
    // A link to a file yet to be made: the new file goes where the link points.
    const QFileInfo target(info.isSymLink() ? info.symLinkTarget() : info.absoluteFilePath());
    return folderWriteProblem(target.absolutePath());
}

namespace {

QString tooLong(qint64 size, qint64 maxSize)
{
    return QStringLiteral("the file is %1 bytes long; files over %2 bytes are not loaded")
        .arg(size)
        .arg(maxSize);
}

bool isUnder(const QString &path, QLatin1String folder)
{
    return path == folder || path.startsWith(folder + QLatin1Char('/'));
}

QString nativeRoot(const QStorageInfo &info)
{
    return QDir::toNativeSeparators(info.rootPath());
}

} // namespace

bool readWholeFile(const QString &path, qint64 maxSize, QByteArray *bytes, QString *reason)
{
    FileSlices file;
    if (!file.open(path, maxSize, reason))
        return false;
    QByteArray content;
    content.reserve(file.size());
    while (!file.atEnd()) {
        if (!file.readSlice(&content, 1 << 20, reason))
            return false;
    }
    *bytes = content;
    return true;
}

bool FileSlices::open(const QString &path, qint64 maxSize, QString *reason)
{
    const QFileInfo info(path);
    if (info.isDir())
        return fail(reason, QStringLiteral("it is a folder, not a file"));
    // Devices and pipes can block or never end; only plain files are read.
    if (info.exists() && !info.isFile())
        return fail(reason, QStringLiteral("it is not a regular file"));
    m_file.setFileName(path);
    if (!m_file.open(QIODevice::ReadOnly))
        return fail(reason, m_file.errorString());
    if (m_file.size() > maxSize)
        return fail(reason, tooLong(m_file.size(), maxSize));
    m_maxSize = maxSize;
    m_size = m_file.size();
    return true;
}

bool FileSlices::readSlice(QByteArray *bytes, qint64 sliceSize, QString *reason)
{
    // Read in place up to the size the file had when opened (room the caller reserved), then
    // through a small buffer, which finds the end or what was added since.
    qint64 got = 0;
    if (m_read < m_size) {
        const qsizetype before = bytes->size();
        const qint64 want = std::min(sliceSize, m_size - m_read);
        bytes->resize(before + want);
        got = m_file.read(bytes->data() + before, want);
        bytes->resize(before + std::max<qint64>(got, 0));
    } else {
        QByteArray more(64 * 1024, Qt::Uninitialized);
        got = m_file.read(more.data(), more.size());
        if (got > 0)
            bytes->append(more.constData(), got);
    }
    if (got < 0)
        return fail(reason, m_file.errorString());
    m_read += got;
    m_atEnd = got == 0;
    // The file may have grown since its size was taken.
    if (m_read > m_maxSize)
        return fail(reason, tooLong(m_read, m_maxSize));
    return true;
}

bool isUserVolumeWindows(const QString &rootPath)
{
    // "C:\" as the system writes it, "C:/" as Qt does.
    return rootPath.size() == 3 && rootPath.at(0).isLetter() && rootPath.at(0).unicode() < 128 &&
           rootPath.at(1) == QLatin1Char(':') &&
           (rootPath.at(2) == QLatin1Char('\\') || rootPath.at(2) == QLatin1Char('/'));
}

bool isUserVolumePosix(const QString &rootPath, const QByteArray &fileSystemType)
{
    if (rootPath == QLatin1String("/"))
        return true;
    // Kernel interfaces, containers' layers, packed images and memory file systems the
    // system mounts for itself.
    static const QByteArray pseudo[] = {
        "proc",       "sysfs",    "devtmpfs",        "devpts",      "cgroup",    "cgroup2",
        "securityfs", "debugfs",  "tracefs",         "pstore",      "bpf",       "mqueue",
        "hugetlbfs",  "configfs", "fusectl",         "binfmt_misc", "autofs",    "rpc_pipefs",
        "nsfs",       "efivarfs", "selinuxfs",       "overlay",     "squashfs",  "ramfs",
        "rootfs",     "nfsd",     "fuse.gvfsd-fuse", "fuse.portal", "fuse.lxcfs"};
    if (std::find(std::begin(pseudo), std::end(pseudo), fileSystemType) != std::end(pseudo))
        return false;
    const bool removable = isUnder(rootPath, QLatin1String("/media")) ||
                           isUnder(rootPath, QLatin1String("/run/media"));
    if (removable)
        return true;
    // A memory file system elsewhere is the system's scratch space (/run, /tmp, /dev/shm).
    if (fileSystemType == "tmpfs")
        return false;
    static const QLatin1String systemPlaces[] = {
        QLatin1String("/proc"),    QLatin1String("/sys"),     QLatin1String("/dev"),
        QLatin1String("/run"),     QLatin1String("/var/run"), QLatin1String("/var/lock"),
        QLatin1String("/var/lib"), QLatin1String("/boot"),    QLatin1String("/efi"),
        QLatin1String("/snap")};
    return std::none_of(std::begin(systemPlaces), std::end(systemPlaces),
                        [&](QLatin1String place) { return isUnder(rootPath, place); });
}

QList<Volume> chooseDrives(const QList<Volume> &mounted, const QString &currentRoot,
                           const std::function<bool(const Volume &)> &counts)
{
    QList<Volume> drives;
    for (const Volume &volume : mounted) {
        if (volume.rootPath != currentRoot && !counts(volume))
            continue;
        // The same volume can be mounted at one place twice (bind mounts); list it once.
        if (std::any_of(drives.cbegin(), drives.cend(),
                        [&](const Volume &v) { return v.rootPath == volume.rootPath; }))
            continue;
        drives.append(volume);
    }
    // "/" sorts before any other absolute path; drive letters sort by letter, whatever their case.
    std::sort(drives.begin(), drives.end(), [](const Volume &a, const Volume &b) {
        return a.rootPath.compare(b.rootPath, Qt::CaseInsensitive) < 0;
    });
    return drives;
}

QList<Volume> driveVolumes(const QString &workingDirectory)
{
    const QString current = volumeRootOf(workingDirectory);
    QList<Volume> mounted;
    bool haveCurrent = false;
    for (const QStorageInfo &info : QStorageInfo::mountedVolumes()) {
        if (!info.isValid() || !info.isReady())
            continue;
        mounted.append({nativeRoot(info), info.name(), info.fileSystemType()});
        haveCurrent = haveCurrent || mounted.constLast().rootPath == current;
    }
    if (!haveCurrent && !current.isEmpty()) {
        const QStorageInfo info(current);
        mounted.append({current, info.name(), info.fileSystemType()});
    }
#ifdef Q_OS_WIN
    const auto counts = [](const Volume &v) { return isUserVolumeWindows(v.rootPath); };
#else
    const auto counts = [](const Volume &v) {
        return isUserVolumePosix(v.rootPath, v.fileSystemType);
    };
#endif
    return chooseDrives(mounted, current, counts);
}

QString volumeRootOf(const QString &path)
{
    // A path that does not exist (yet) belongs to the volume of its nearest existing folder.
    QString existing = QFileInfo(path).absoluteFilePath();
    while (!QFileInfo::exists(existing)) {
        const QString parent = QFileInfo(existing).absolutePath();
        if (parent == existing)
            break;
        existing = parent;
    }
    const QStorageInfo info(existing);
    return info.isValid() ? nativeRoot(info) : QString();
}

bool isDriveReady(const QString &rootPath, QString *reason)
{
    const QStorageInfo info(rootPath);
    if (!info.isValid() || !info.isReady())
        return fail(reason, QStringLiteral("the drive is not ready"));
    // An unmounted volume leaves its mount point behind, which then lies on another volume.
    if (QDir::cleanPath(info.rootPath()) != QDir::cleanPath(QDir::fromNativeSeparators(rootPath)))
        return fail(reason, QStringLiteral("the volume is no longer mounted"));
    return isFolderReadable(rootPath, reason);
}

bool isFolderReadable(const QString &path, QString *reason)
{
    const QFileInfo info(path);
    if (!info.exists())
        return fail(reason, QStringLiteral("the folder does not exist"));
    if (!info.isDir())
        return fail(reason, QStringLiteral("it is not a folder"));
#ifdef Q_OS_WIN
    const bool listable = info.isReadable();
#else
    // Listing needs read permission, and entering the folder needs execute permission.
    const bool listable = info.isReadable() && info.isExecutable();
#endif
    if (!listable)
        return fail(reason, QStringLiteral("access is denied"));
    return true;
}

} // namespace tvx
