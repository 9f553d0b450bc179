#pragma once

#include "capture_options.h"
#include "files/reading_file.h"

#include <QByteArray>
#include <QDateTime>
#include <QFile>
#include <QString>

namespace tvx {

// Where tarvix-capture puts each capture: a reading file replaced as a whole, a new reading
// file in a folder for each capture, or the raw bytes on standard output.
class CaptureOutput {
public:
    // Second names for a start time that is taken already: "-2" to "-1000".
    static constexpr int MaxAttempts = readingfile::CaptureNameAttempts;

    struct Result {
        bool written = false;
        bool noRoom = false; // only room was missing (a full disk, a quota): it may be later
        QString where;       // the file written, as the user named it, or "standard output"
        QString reason;      // why it failed, naming the file
    };

    CaptureOutput(OutputKind kind, const QString &path) : m_kind(kind), m_path(path) {}
    virtual ~CaptureOutput() = default;

    OutputKind kind() const { return m_kind; }
    // The folder or the file, as the user named it.
    QString path() const { return m_path; }

    // Whether captures can go there at all, asked before the port opens: a mistyped folder
    // should not cost a transmission. A full disk passes: a capture waits for room there.
    bool check(QString *reason) const;

    // Writes one capture that began at startedAt.
    virtual Result write(const QByteArray &bytes, const QDateTime &startedAt);

    // The name of a capture in a folder, by its start time.
    static QString readingFileName(const QDateTime &startedAt, int attempt = 1)
    {
        return readingfile::captureName(startedAt, attempt);
    }

private:
    Result writeFile(const QByteArray &bytes) const;
    Result writeNewFile(const QByteArray &bytes, const QDateTime &startedAt) const;
    Result writeStandardOutput(const QByteArray &bytes);

    OutputKind m_kind;
    QString m_path;
    QFile m_standardOutput;
};

} // namespace tvx
