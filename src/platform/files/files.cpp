#include "files.h"
#include "fail.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStorageInfo>

#include <algorithm>

namespace tvx {

const QString NotSystemName = QStringLiteral("the name is not valid UTF-8");

QString decodeFileName(const QByteArray &bytes)
{
#ifdef Q_OS_WIN
    // Names come in the system's code page.
    return QString::fromLocal8Bit(bytes);
#endif
    QString name;
    qsizetype begin = 0; // the start of the valid run not yet decoded
    for (qsizetype i = 0; i < bytes.size();) {
        const uchar lead = uchar(bytes[i]);
        // The length of the character that begins here, 0 when none can.
        const int length = lead < 0x80                   ? 1
                           : lead >= 0xC2 && lead < 0xE0 ? 2
                           : lead >= 0xE0 && lead < 0xF0 ? 3
                           : lead >= 0xF0 && lead < 0xF5 ? 4
                                                         : 0;
        const QByteArray sequence = bytes.mid(i, std::max(length, 1));
        // Checked by the decoder itself: overlong forms, surrogates and short endings fail.
        const bool valid = length > 0 && sequence.size() == length &&
                           QString::fromUtf8(sequence).toUtf8() == sequence;
        if (valid) {
            i += length;
            continue;
        }
        name += QString::fromUtf8(bytes.mid(begin, i - begin));
        name += QChar(0xDC00 + lead);
        begin = ++i;
    }
    return name + QString::fromUtf8(bytes.mid(begin));
}

QStringList programArguments(int argc, char *argv[])
{
#ifdef Q_OS_WIN
    if (QCoreApplication::instance())
        return QCoreApplication::arguments();
#endif
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(decodeFileName(argv[i]));
    return arguments;
}

bool isSystemName(const QString &name)
{
    return QFile::decodeName(QFile::encodeName(name)) == name && !name.contains(QChar(0));
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
    if (!isSystemName(path))
        return fail(reason, NotSystemName);
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
    m_size = m_file.size();
    return true;
}

bool FileSlices::readSlice(QByteArray *bytes, qint64 sliceSize, QString *reason)
{
    // The file is read up to the size it had when it was opened: one that keeps growing (a log
    // still being written) is taken as it was when the user chose it, not chased.
    const qsizetype before = bytes->size();
    const qint64 want = std::min(sliceSize, m_size - m_read);
    bytes->resize(before + want);
    const qint64 got = want > 0 ? m_file.read(bytes->data() + before, want) : 0;
    bytes->resize(before + std::max<qint64>(got, 0));
    if (got < 0)
        return fail(reason, m_file.errorString());
    m_read += got;
    // A file cut short meanwhile would be taken for the whole file, its end lost unsaid.
    if (got == 0 && m_read < m_size)
        return fail(reason, cutShortReason());
    m_atEnd = m_read == m_size;
    return true;
}

bool FileSlices::cutShort() const
{
    return m_file.isOpen() && m_file.size() < m_size;
}

QString FileSlices::cutShortReason()
{
    return QStringLiteral("another program made the file shorter while it was being read");
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
