#pragma once

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QString>

namespace tvx {

// Replaces the file at path by exactly these bytes, or leaves it as it was: a failed write
// (folder missing or read-only, disk full, a folder in the way) never leaves a truncated file.
// Where the folder refuses a new file but the file itself may be written, it is overwritten in
// place instead (owner, inode and hard links kept); only then can a failed write leave it cut.
// On failure returns false and, when reason is given, the system's explanation.
bool writeFileAtomically(const QString &path, const QByteArray &bytes, QString *reason = nullptr);

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

// Whether a mounted volume is one a user keeps files on: the root, home and data volumes and
// removable media, not the pseudo and scratch file systems the system mounts for itself.
bool isUserVolume(const QString &rootPath, const QByteArray &fileSystemType);

// The drives to offer: the ready user volumes, the root first, then by root path, always
// including the volume that holds workingDirectory.
QList<Volume> driveVolumes(const QString &workingDirectory);

// The root path of the volume that holds path, in the system's notation.
QString volumeRootOf(const QString &path);

// Whether the drive with this root can be read now (mounted, ready, listable).
bool isDriveReady(const QString &rootPath, QString *reason = nullptr);

// Whether the folder exists and its entries can be listed.
bool isFolderReadable(const QString &path, QString *reason = nullptr);

} // namespace tvx
