#pragma once

#include <QByteArray>
#include <QString>

namespace tvx::test {

// A small memory file system mounted over a folder, seen by this test alone: the mount lives
// in a mount namespace of the test's own, so nothing of it outlives the test process. Needs
// the right to mount (root); mount() says why when the system refuses.
class ScratchVolume {
public:
    ScratchVolume() = default;
    ~ScratchVolume();
    ScratchVolume(const ScratchVolume &) = delete;
    ScratchVolume &operator=(const ScratchVolume &) = delete;

    bool mount(const QString &folder, int sizeKiB, QString *reason);
    // Everything on the volume stays readable; nothing can be written any more.
    bool makeReadOnly(QString *reason);
    // Takes the volume away, even while a process works in it.
    void unmount();

private:
    QByteArray m_folder;
};

// Limits the size of the files this process may write, as a full disk would: a write beyond
// the limit fails ("File too large") instead of raising a signal. Undone on destruction.
class FileSizeLimit {
public:
    // Whether this system has such a limit (Windows has none: there the object does nothing).
    static bool available();

    explicit FileSizeLimit(qint64 bytes);
    ~FileSizeLimit();
    FileSizeLimit(const FileSizeLimit &) = delete;
    FileSizeLimit &operator=(const FileSizeLimit &) = delete;

private:
    quint64 m_previous = 0;
};

// Runs the code in its scope as an ordinary user, so that file permissions apply even when the
// tests run as root; the root identity comes back on destruction. Does nothing for a test that
// already runs as an ordinary user.
class OrdinaryUser {
public:
    OrdinaryUser();
    ~OrdinaryUser();
    OrdinaryUser(const OrdinaryUser &) = delete;
    OrdinaryUser &operator=(const OrdinaryUser &) = delete;

    // Whether permissions apply now.
    bool active() const { return m_active; }

private:
    bool m_switched = false;
    bool m_active = false;
};

// Makes folder the working directory, one that other users may enter (and, when othersMayWrite,
// add files to) but not list; its parent becomes enterable for them. False when that fails.
bool workInUnlistableFolder(const QString &folder, bool othersMayWrite);

// The file's inode number: a file written in place keeps it, a file replaced by a new one
// gets another. 0 when the file cannot be looked at.
quint64 inodeOf(const QString &path);

} // namespace tvx::test
