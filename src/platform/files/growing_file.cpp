// Files that grow while they are written (the capture journal), and what tells one file from
// another of the same name.

#include "fail.h"
#include "files.h"

#include <QDir>
#include <QFileInfo>

#ifdef Q_OS_WIN
#include <io.h>
#include <windows.h>
#else
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace tvx {

bool GrowingFile::create(const QString &folder, const std::function<QString(int)> &nameFor,
                         int attempts, QString *reason)
{
    m_file.close();
    if (!isSystemName(folder))
        return fail(reason, NotSystemName);
    for (int attempt = 1; attempt <= attempts; ++attempt) {
        m_file.setFileName(QDir(folder).filePath(nameFor(attempt)));
        // Exclusive: an existing file, or a link in the name's place, is never written through.
        if (m_file.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered))
            return true;
        if (!QFileInfo(m_file.fileName()).isSymLink() && !QFileInfo::exists(m_file.fileName()))
            return fail(reason, m_file.errorString());
    }
    return fail(reason, QStringLiteral("%1 names for that second are taken").arg(attempts));
}

bool GrowingFile::append(const QByteArray &bytes, QString *reason)
{
    // A write cut short (disk full) says why only when the rest is asked for again.
    for (qint64 done = 0; done < bytes.size();) {
        const qint64 n = m_file.write(bytes.constData() + done, bytes.size() - done);
        if (n <= 0)
            return fail(reason, m_file.errorString());
        done += n;
    }
    return true;
}

bool GrowingFile::flush(QString *reason)
{
#ifdef Q_OS_WIN
    if (::_commit(m_file.handle()) != 0)
        return fail(reason, qt_error_string(int(::GetLastError())));
#else
    if (::fdatasync(m_file.handle()) != 0)
        return fail(reason, QString::fromLocal8Bit(std::strerror(errno)));
#endif
    return true;
}

QByteArray fileIdentity(const QString &path)
{
    if (!isSystemName(path))
        return QByteArray();
#ifdef Q_OS_WIN
    const HANDLE file = ::CreateFileW(
        reinterpret_cast<const wchar_t *>(QDir::toNativeSeparators(path).utf16()),
        FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return QByteArray();
    BY_HANDLE_FILE_INFORMATION info = {};
    const bool known = ::GetFileInformationByHandle(file, &info);
    ::CloseHandle(file);
    if (!known)
        return QByteArray();
    const auto wide = [](DWORD high, DWORD low) {
        return QByteArray::number((quint64(high) << 32) | low);
    };
    return QByteArray::number(quint64(info.dwVolumeSerialNumber)) + ':' +
           wide(info.nFileIndexHigh, info.nFileIndexLow) + ':' +
           wide(info.nFileSizeHigh, info.nFileSizeLow) + ':' +
           wide(info.ftLastWriteTime.dwHighDateTime, info.ftLastWriteTime.dwLowDateTime);
#else
    struct stat status = {};
    if (::lstat(QFile::encodeName(path).constData(), &status) != 0)
        return QByteArray();
    // A freed inode number is soon given to the next new file; its size and change time (which
    // no one can set) tell the two apart.
    return QByteArray::number(quint64(status.st_dev)) + ':' +
           QByteArray::number(quint64(status.st_ino)) + ':' +
           QByteArray::number(qint64(status.st_size)) + ':' +
           QByteArray::number(qint64(status.st_ctim.tv_sec)) + '.' +
           QByteArray::number(qint64(status.st_ctim.tv_nsec));
#endif
}

bool makePrivateFolder(const QString &folder, QString *reason)
{
    if (!isSystemName(folder))
        return fail(reason, NotSystemName);
    const QString path = QDir::cleanPath(QDir(folder).absolutePath());
#ifdef Q_OS_WIN
    if (!QDir().mkpath(path) && !QFileInfo(path).isDir())
        return fail(reason, QStringLiteral("the folder cannot be made"));
    return QFileInfo(path).isDir() || fail(reason, QStringLiteral("it is not a folder"));
#else
    // The folders missing on the way, the innermost first.
    QStringList missing;
    struct stat status = {};
    QString at = path;
    while (::stat(QFile::encodeName(at).constData(), &status) != 0) {
        if (errno != ENOENT)
            return fail(reason, QString::fromLocal8Bit(std::strerror(errno)));
        missing.append(at);
        at = QFileInfo(at).absolutePath();
    }
    if (!S_ISDIR(status.st_mode))
        return fail(reason, QStringLiteral("%1 is not a folder").arg(at));
    for (auto it = missing.crbegin(); it != missing.crend(); ++it) {
        if (::mkdir(QFile::encodeName(*it).constData(), 0700) != 0 && errno != EEXIST)
            return fail(reason, QString::fromLocal8Bit(std::strerror(errno)));
    }
    return true;
#endif
}

} // namespace tvx
