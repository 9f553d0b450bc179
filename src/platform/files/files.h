#pragma once

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QString>

#include <functional>

namespace tvx {

// A file name as the system gives it (a program argument), as text. Names are bytes to the
// system, and the toolkit passes them in UTF-8; a byte that is not part of valid UTF-8 becomes
// a character no text holds (U+DC80 + the byte), so that the name does not turn into another
// one and every file operation here refuses it with NotSystemName.
QString decodeFileName(const QByteArray &bytes);

// The program's arguments, each name as decodeFileName() gives it. On Windows, once the
// application object exists, the toolkit's own reading of the wide command line.
QStringList programArguments(int argc, char *argv[]);

// Whether name reaches the file system unchanged: it has no character of the kind above and no
// NUL.
bool isSystemName(const QString &name);

// Why a name that is not one is refused.
extern const QString NotSystemName;

// Replaces the file at path by exactly these bytes, or leaves it as it was: a failed write
// (folder missing or read-only, disk full) never leaves a truncated file, and nothing is left
// beside it. The name goes to the file system as the bytes it stands for; a name the system's
// encoding cannot carry unchanged is refused. The new file gets the old one's owner, group,
// mode and extended attributes (its access control list among them); where it could not (a
// file of another user, a folder that refuses new files or renames, an append-only folder) but
// the file itself may be written, the file is overwritten in place instead, keeping its owner,
// inode and hard links; the space is reserved first, and where that is not possible a failure
// part of the way says that the old file is now incomplete. A symbolic link stays a link: the
// file it names is written. Something in the file's place that is not a regular file (a folder,
// a named pipe, a device, a socket) is neither replaced nor opened. On failure returns false
// and, when reason is given, the explanation; noRoom tells whether it failed only for lack of
// room (a full disk, a quota), which time may cure.
bool writeFileAtomically(const QString &path, const QByteArray &bytes, QString *reason = nullptr,
                         bool *noRoom = nullptr);

// Why writeFileAtomically() could not write path, as far as looking tells (nothing is opened
// or created): a loop of links, a name too long, something that is not a regular file in its
// place, a read-only file system, an immutable or append-only file, a file that may not be
// written, or, for a new file, a folder that is missing or takes no new file. Empty when the
// write may go ahead.
QString writeProblem(const QString &path);

// Why no new file of nameLength bytes can be created in folder, as far as looking tells; empty
// when it can.
QString folderWriteProblem(const QString &folder, qsizetype nameLength = 0);

// A reading written as a new file into a folder by writeNewFile().
struct NewFile {
    bool written = false;
    bool allTaken = false; // every name offered was taken
    bool noRoom = false;   // the disk or the user's quota is full
    QString path;          // the file written, or the one the failure is about
    QString reason;
};

// Writes bytes as a new file in folder, under the first of nameFor(1) ... nameFor(attempts)
// that is free. The file shows under its name only once it is complete, and no existing file
// is ever replaced, not even one that appears meanwhile; a failure leaves nothing behind.
NewFile writeNewFile(const QString &folder, const std::function<QString(int)> &nameFor,
                     int attempts, const QByteArray &bytes);

// A file written as it grows (the capture journal): created under the first free name of a
// folder, never over an existing file or through a link; the bytes appended go straight to the
// system, so a program killed afterwards leaves them in the file, and flush() puts them on the
// disk, so that a power cut leaves them too.
class GrowingFile {
public:
    // Makes the file under the first of nameFor(1) ... nameFor(attempts) that is free. False
    // with the reason when the folder takes no new file or every name is taken.
    bool create(const QString &folder, const std::function<QString(int)> &nameFor, int attempts,
                QString *reason = nullptr);
    bool append(const QByteArray &bytes, QString *reason = nullptr);
    // Waits until what was appended is on the disk.
    bool flush(QString *reason = nullptr);
    void close() { m_file.close(); }
    bool isOpen() const { return m_file.isOpen(); }
    QString path() const { return m_file.fileName(); }

private:
    QFile m_file;
};

// What tells the file at path, as it is now, from another one put under its name later and from
// itself once changed: its device, inode, size and change time (on Windows its volume, file
// index, size and last write). Links are not followed; empty when nothing is there.
QByteArray fileIdentity(const QString &path);

// Makes folder with the folders missing on its way, each new one open to its user alone (a
// user's readings are nobody else's). True when it exists as a folder afterwards.
bool makePrivateFolder(const QString &folder, QString *reason = nullptr);

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
    // Appends up to sliceSize more bytes of the file to bytes, never beyond the size the file
    // had when it was opened; false with the reason when the read fails or the file has been
    // cut short meanwhile.
    bool readSlice(QByteArray *bytes, qint64 sliceSize, QString *reason = nullptr);
    bool atEnd() const { return m_atEnd; }
    // Whether another program has made the file shorter than it was when it was opened.
    bool cutShort() const;
    // The open file's descriptor, for mapping it.
    int handle() const { return m_file.handle(); }

    // Why a file that another program made shorter was not read.
    static QString cutShortReason();

private:
    QFile m_file;
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
