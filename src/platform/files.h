#pragma once

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QString>

#include <functional>

namespace tvx {

// Replaces the file at path by exactly these bytes, or leaves it as it was: a failed write
// (folder missing or read-only, disk full) never leaves a truncated file. Where the folder
// refuses a new file but the file itself may be written, it is overwritten in place instead
// (owner, inode and hard links kept); only then can a failed write leave it cut. A symbolic
// link stays a link: the file it names is written. Something in the file's place that is not a
// regular file (a folder, a named pipe, a device, a socket) is neither replaced nor opened.
// On failure returns false and, when reason is given, the system's explanation.
bool writeFileAtomically(const QString &path, const QByteArray &bytes, QString *reason = nullptr);

// Why writeFileAtomically() could not write path, as far as looking tells (nothing is opened
// or created): something that is not a regular file in its place, a file that may not be
// written, or, for a new file, a folder that is missing or takes no new file. Empty when the
// write may go ahead; a writable file in a folder that takes no new file is written in place.
QString writeProblem(const QString &path);

// Why no new file can be created in folder, as far as looking tells; empty when it can.
QString folderWriteProblem(const QString &folder);

// Reads the whole regular file at path into bytes. A file longer than maxSize is refused
// before anything is read; on failure bytes is left as it was and reason says why.
bool readWholeFile(const QString &path, qint64 maxSize, QByteArray *bytes,
                   QString *reason = nullptr);

// A regular file read a slice at a time, so that a long file can be read from the event loop.
// open() refuses what readWholeFile refuses, before anything is read.
class FileSlices {
public:
    bool open(const QString &path, qint64 maxSize, QString *reason = nullptr);
    // The file's size when it was opened.
    qint64 size() const { return m_size; }
    // Appends up to sliceSize more bytes of the file to bytes; false with the reason when the
    // read fails or the file has grown past maxSize.
    bool readSlice(QByteArray *bytes, qint64 sliceSize, QString *reason = nullptr);
    bool atEnd() const { return m_atEnd; }

private:
    QFile m_file;
    qint64 m_maxSize = 0;
    qint64 m_size = 0;
    qint64 m_read = 0;
    bool m_atEnd = false;
};

// A mounted volume as the drive list shows it. rootPath is in the system's own notation
// ("C:\" on Windows, "/media/usb" elsewhere); name is its label, often empty.
struct Volume {
    QString rootPath;
    QString name;
    QByteArray fileSystemType;
};

// Whether a mounted volume is one a user keeps files on. Each system has its rule; both are
// plain logic, compiled and tested on every system, and the drive list applies the one of the
// system it runs on.
// Windows: a volume with a drive letter ("C:\"). A volume mounted into a folder has none; it is
// reached through the drive that holds the folder.
bool isUserVolumeWindows(const QString &rootPath);
// Elsewhere: the root, home and data volumes and removable media, not the pseudo and scratch
// file systems the system mounts for itself.
bool isUserVolumePosix(const QString &rootPath, const QByteArray &fileSystemType);

// The drive list's rule: of the mounted volumes, those that count, and always the one at
// currentRoot (the working directory's), each root once, ordered by root without regard to
// case, so that "/" or the first drive letter leads.
QList<Volume> chooseDrives(const QList<Volume> &mounted, const QString &currentRoot,
                           const std::function<bool(const Volume &)> &counts);

// The drives to offer on this system: the ready user volumes by the rules above, always
// including the volume that holds workingDirectory.
QList<Volume> driveVolumes(const QString &workingDirectory);

// The root path of the volume that holds path, in the system's notation.
QString volumeRootOf(const QString &path);

// Whether the drive with this root can be read now (mounted, ready, listable).
bool isDriveReady(const QString &rootPath, QString *reason = nullptr);

// Whether the folder exists and its entries can be listed.
bool isFolderReadable(const QString &path, QString *reason = nullptr);

} // namespace tvx
