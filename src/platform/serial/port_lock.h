#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace tvx {

// Serial programs on Unix agree on a port's use through a lock file in one system folder,
// "LCK..<device>", which names the process that holds the port. This program reads every form
// of it that is written in practice, honours a lock for as long as its process lives, and
// writes its own in the common form so that other programs honour it in turn.
//
// Each program names the lock after the name it was given for the device: minicom given
// /dev/serial/by-id/usb-FTDI_X-if00-port0 locks "LCK..serial_by-id_usb-FTDI_X-if00-port0", given
// /dev/ttyUSB0 "LCK..ttyUSB0". One device therefore has as many lock names as it has names, and
// this program looks at, and writes, all of them.

// Who holds a lock file, as its content tells.
struct LockHolder {
    qint64 pid;
    QString program; // named by the toolkit's form and the older minicom's
    QString host;    // named by the toolkit's form; a holder on another host cannot be checked
};

// The content in any of the forms in use: the PID in ASCII (ten characters and a newline, or
// any spacing), the PID as a 4-byte binary integer, the older minicom's form (the PID, the
// program and the user on one line) or the toolkit's form (the PID, the program and the host on
// lines of their own). Nothing when it names no process.
std::optional<LockHolder> parseLockFile(const QByteArray &content);

// The content this program writes: its PID as ten ASCII characters and a newline.
QByteArray lockFileContent(qint64 pid);

// The lock file's name for a device name, as minicom forms it: the path after /dev/ with every
// '/' made '_' ("LCK..ttyUSB0", "LCK..pts_4", "LCK..serial_by-id_usb-FTDI_X-if00-port0"), and
// the last part of a path outside /dev ("LCK..instrument").
QString lockFileName(const QString &device);

// Every name the device is known by, each with a lock name of its own: its real name (every link
// followed), the name it was given, and each link in the system's folders of stable names
// (serialFolder/by-id, serialFolder/by-path) that leads to it. The real name comes first.
QStringList deviceNamesOf(const QString &device,
                          const QString &serialFolder = QStringLiteral("/dev/serial"));

// Where serial programs keep their lock files on this system.
QString systemLockFolder();

// Why no lock file can be written in the folder ("/run/lock: Read-only file system"); empty
// when one can.
QString lockFolderProblem(const QString &folder);

// What a user is told when no lock file can be written in the folder; empty when one can.
QString lockFolderNote(const QString &folder);

// The program a process runs, by the name the system keeps; empty when it cannot be read.
QString programOfProcess(qint64 pid);

// Whether the process is there: one that exists but belongs to another user counts. A number
// beyond the system's range of process numbers (pidLimit()) names no process.
bool processExists(qint64 pid);

// The first number the system never gives a process (/proc/sys/kernel/pid_max).
qint64 pidLimit();

// The lock files of one port, held from acquire() until release() or the object's end.
//
// A stale lock (its process gone) is removed only by the program that has the device itself:
// acquire() takes the free names, the caller opens the device and locks it with flock(), and
// only then does claim() replace the stale locks. An opening that fails thus leaves every lock
// of another program where it was, and of two programs that meet one stale lock only the one
// that got the device replaces it.
class PortLock {
public:
    enum class Outcome {
        Taken,           // the lock files are written and name this process
        NotWritable,     // the folder takes no file: the port is opened without one
        Busy,            // a living process holds a lock
        StaleUnremovable // its process is gone, but the file cannot be removed
    };
    struct Result {
        Outcome outcome = Outcome::Taken;
        QString reason; // for a user: who holds it, or why the folder takes no file
    };
    // Who has the device open out of this system's sight ("the device is open in minicom
    // (process 31234)"), or empty; asked only when a lock names a process not seen from here.
    using HeldElsewhere = std::function<QString()>;

    explicit PortLock(QString folder = systemLockFolder()) : m_folder(std::move(folder)) {}
    ~PortLock() { release(); }
    PortLock(const PortLock &) = delete;
    PortLock &operator=(const PortLock &) = delete;

    // Looks at the lock of each of the device's names (deviceNamesOf()) and writes this
    // process's lock under each that is free. A lock of a living process, or one that names no
    // process and is younger than StaleAfterSeconds (being written), makes the port busy; a
    // stale one is left in place for claim(). Nothing of another program's is changed.
    Result acquire(const QStringList &deviceNames);
    // Once the device is this process's own: replaces each stale lock by this process's. A lock
    // whose process is not seen from here (in another PID namespace, as in a container sharing
    // the lock folder) counts as living while heldElsewhere names someone.
    Result claim(const HeldElsewhere &heldElsewhere = HeldElsewhere());
    // Removes the lock files that still name this process.
    void release();

    // The lock files this process wrote.
    QStringList paths() const { return m_written; }
    bool held() const { return !m_written.isEmpty() && m_stale.isEmpty(); }

    static constexpr int StaleAfterSeconds = 10;

    // A stale lock as acquire() found it: claim() removes it only if it is still that file.
    struct Found {
        QString path;
        quint64 inode = 0;
        QByteArray content;
        std::optional<LockHolder> holder;
        bool unseen = false; // its process is not seen here, but could live out of sight
    };

private:
    Result refuse(Result result);

    QString m_folder;
    QStringList m_written;
    QList<Found> m_stale;
    bool m_writable = true;
    QString m_note; // why nothing could be written
};

} // namespace tvx
