// Writing reading files and tvx.cfg on Windows, through Qt's own save file.

#include "fail.h"
#include "files.h"

#ifdef Q_OS_WIN

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

#include <windows.h>

namespace tvx {

namespace {

// Only the file's status is read: opening a named pipe would wait for a reader.
bool isOtherThanRegularFile(const QString &path)
{
    const QFileInfo info(path);
    return info.exists() && !info.isFile();
}

const QString NotRegularFile = QStringLiteral("not a regular file");

// Whether the toolkit's account of a failure is the system's "disk full" (it keeps only the
// words): room may come later.
bool lacksRoom(const QString &error)
{
    return error == qt_error_string(ERROR_DISK_FULL) ||
           error == qt_error_string(ERROR_HANDLE_DISK_FULL);
}

bool failWith(QString *reason, bool *noRoom, const QString &why)
{
    if (noRoom)
        *noRoom = lacksRoom(why);
    return fail(reason, why);
}

} // namespace

bool writeFileAtomically(const QString &path, const QByteArray &bytes, QString *reason,
                         bool *noRoom)
{
    if (noRoom)
        *noRoom = false;
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
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return failWith(reason, noRoom, file.errorString());
    // A write that stops part of the way (disk full) reports no error of its own; asking for
    // the rest again brings the system's reason.
    for (qint64 written = 0; written < bytes.size();) {
        const qint64 n = file.write(bytes.constData() + written, bytes.size() - written);
        if (n <= 0) {
            const QString why = file.errorString();
            file.cancelWriting();
            return failWith(reason, noRoom, why);
        }
        written += n;
    }
    const QString error = file.errorString();
    if (!file.commit())
        return failWith(reason, noRoom, file.errorString().isEmpty() ? error : file.errorString());
    return true;
}

QString folderWriteProblem(const QString &folder, qsizetype)
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

NewFile writeNewFile(const QString &folder, const std::function<QString(int)> &nameFor,
                     int attempts, const QByteArray &bytes)
{
    NewFile result;
    for (int attempt = 1; attempt <= attempts; ++attempt) {
        const QString path = QDir(folder).filePath(nameFor(attempt));
        // The name is claimed by creating the file exclusively, so no file is ever replaced.
        QFile claim(path);
        if (!claim.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
            if (QFileInfo::exists(path))
                continue;
            result.path = path;
            result.reason = claim.errorString();
            result.noRoom = lacksRoom(result.reason);
            return result;
        }
        claim.close();
        result.path = path;
        if (!writeFileAtomically(path, bytes, &result.reason, &result.noRoom)) {
            claim.remove();
            return result;
        }
        result.written = true;
        return result;
    }
    result.allTaken = true;
    return result;
}

} // namespace tvx

#endif
