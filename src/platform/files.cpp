#include "files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStorageInfo>

#include <algorithm>

namespace tvx {

bool writeFileAtomically(const QString &path, const QByteArray &bytes, QString *reason)
{
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

namespace {

bool fail(QString *reason, const QString &why)
{
    if (reason)
        *reason = why;
    return false;
}

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

bool isUserVolume(const QString &rootPath, const QByteArray &fileSystemType)
{
#ifdef Q_OS_WIN
    Q_UNUSED(rootPath)
    Q_UNUSED(fileSystemType)
    // Every drive letter is a place for files.
    return true;
#else
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
#endif
}

QList<Volume> driveVolumes(const QString &workingDirectory)
{
    QList<Volume> volumes;
    const QString current = volumeRootOf(workingDirectory);
    bool haveCurrent = false;
    const QList<QStorageInfo> mounted = QStorageInfo::mountedVolumes();
    for (const QStorageInfo &info : mounted) {
        if (!info.isValid() || !info.isReady())
            continue;
        const QString root = nativeRoot(info);
        const bool isCurrent = root == current;
        if (!isCurrent && !isUserVolume(info.rootPath(), info.fileSystemType()))
            continue;
        // The same volume can be mounted at one place twice (bind mounts); list it once.
        if (std::any_of(volumes.cbegin(), volumes.cend(),
                        [&](const Volume &v) { return v.rootPath == root; }))
            continue;
        haveCurrent = haveCurrent || isCurrent;
        volumes.append({root, info.name(), info.fileSystemType()});
    }
    if (!haveCurrent && !current.isEmpty()) {
        const QStorageInfo info(current);
        volumes.append({current, info.name(), info.fileSystemType()});
    }
    // Root first ("/" sorts before any other absolute path; drive letters sort by letter).
    std::sort(volumes.begin(), volumes.end(), [](const Volume &a, const Volume &b) {
        return a.rootPath.compare(b.rootPath, Qt::CaseInsensitive) < 0;
    });
    return volumes;
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
