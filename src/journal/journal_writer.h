#pragma once

#include "platform/files/files.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <functional>
#include <mutex>

namespace tvx {

// The capture journal's files: each capture a reading file of its own in one folder, named by
// its start time and written as the bytes arrive, so that nothing received depends on the
// program staying alive. The newest Kept complete captures stay; older ones go, but only files
// the journal wrote itself, as a list in the folder records them when they are complete (a file
// put under such a name by someone else, or changed since, is never touched, and a capture cut
// short by the program's end stays until the user removes it). A journal that cannot be written is
// told once, and nothing else changes: it never stands in a capture's way.
//
// The work is synchronous; the desktop program runs it on a thread of its own.
class JournalWriter {
public:
    static constexpr int Kept = 500;
    // The list of the files the journal wrote: "<identity> <name>" a line, oldest first.
    static const QString ListName;

    using Tell = std::function<void(const QString &)>;
    JournalWriter(const QString &folder, Tell tell);

    // A capture began: its file is made under the name of its start time.
    void begin(const QDateTime &startedAt);
    // Bytes of the capture, appended to its file and put on the disk.
    void write(const QByteArray &bytes);
    // The capture is complete: CR LF makes its file a reading file, which is put on the disk,
    // and the oldest captures beyond Kept go.
    void end();

    // A whole reading kept in the journal at once (one that could not be written where it was
    // asked to go). Its file's path, or empty with the reason.
    QString store(const QByteArray &text, const QDateTime &startedAt, QString *reason = nullptr);

    // The file of the current or last capture; empty when it could not be written whole.
    QString capturePath() const;
    QString folder() const { return m_folder; }

private:
    bool ready(QString *reason);
    void broken(const QString &path, const QString &reason);
    void remember(const QString &path);
    void prune();

    QString m_folder;
    Tell m_tell;
    GrowingFile m_file;
    bool m_told = false; // a failure was told, and nothing was written whole since
    mutable std::mutex m_pathMutex;
    QString m_capturePath;
};

} // namespace tvx
