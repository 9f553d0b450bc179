#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace tvx {

// Serial programs on Unix agree on a port's use through a lock file in one system folder,
// "LCK..<device>", which names the process that holds the port. This program reads every form
// of it that is written in practice, honours a lock for as long as its process lives, and
// writes its own in the common form so that other programs honour it in turn.

// Who holds a lock file, as its content tells.
struct LockHolder {
    qint64 pid;
    QString program; // named only by the toolkit's form
    QString host;    // likewise; a holder on another host cannot be checked from here
};

// The content in any of the forms in use: the PID in ASCII (ten characters and a newline, or
// any spacing), the PID as a 4-byte binary integer, or the toolkit's form (the PID, the program
// and the host on lines of their own). Nothing when it names no process.
std::optional<LockHolder> parseLockFile(const QByteArray &content);

// The content this program writes: its PID as ten ASCII characters and a newline.
QByteArray lockFileContent(qint64 pid);

// The lock file's name for a device: "LCK..ttyUSB0", and "LCK..pts_4" for /dev/pts/4.
QString lockFileName(const QString &device);

// Where serial programs keep their lock files on this system.
QString systemLockFolder();

// Why no lock file can be written in the folder ("/run/lock: Read-only file system"); empty
// when one can.
QString lockFolderProblem(const QString &folder);

// What a user is told when no lock file can be written in the folder; empty when one can.
QString lockFolderNote(const QString &folder);

// The program a process runs, by the name the system keeps; empty when it cannot be read.
QString programOfProcess(qint64 pid);

// Whether the process is there: one that exists but belongs to another user counts.
bool processExists(qint64 pid);

// The lock file of one port, held from acquire() until release() or the object's end.
class PortLock {
public:
    enum class Outcome {
        Taken,           // the lock file is written and names this process
        NotWritable,     // the folder takes no file: the port is opened without one
        Busy,            // a living process holds the lock
        StaleUnremovable // its process is gone, but the file cannot be removed
    };
    struct Result {
        Outcome outcome = Outcome::Taken;
        QString reason; // for a user: who holds it, or why the folder takes no file
    };

    explicit PortLock(QString folder = systemLockFolder()) : m_folder(std::move(folder)) {}
    ~PortLock() { release(); }
    PortLock(const PortLock &) = delete;
    PortLock &operator=(const PortLock &) = delete;

    // Takes the lock of a device (its real name, every link followed). A lock whose process
    // is gone is removed first, whatever its age; one that names no process is taken for one
    // being written until it is StaleAfterSeconds old.
    Result acquire(const QString &device);
    // Removes the lock file, if this process still holds it.
    void release();

    QString path() const { return m_path; }
    bool held() const { return m_held; }

    static constexpr int StaleAfterSeconds = 10;

private:
    QString m_folder;
    QString m_path;
    bool m_held = false;
};

} // namespace tvx
