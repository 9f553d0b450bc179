#pragma once

#include "capture_options.h"

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
    static constexpr int MaxAttempts = 1000;

    struct Result {
        bool written = false;
        QString where;  // the file written, as the user named it, or "standard output"
        QString reason; // why it failed, naming the file
    };

    CaptureOutput(OutputKind kind, const QString &path) : m_kind(kind), m_path(path) {}

    // Whether captures can go there at all, asked before the port opens: a mistyped folder
    // should not cost a transmission.
    bool check(QString *reason) const;

    // Writes one capture that began at startedAt.
    Result write(const QByteArray &bytes, const QDateTime &startedAt);

    // The name of a capture in a folder: readings-YYYYMMDD-HHMMSS.dat by its start time, the
    // second and later candidates for the same second with -2, -3, ... before .dat.
    static QString readingFileName(const QDateTime &startedAt, int attempt = 1);

private:
    Result writeFile(const QByteArray &bytes) const;
    Result writeNewFile(const QByteArray &bytes, const QDateTime &startedAt) const;
    Result writeStandardOutput(const QByteArray &bytes);

    OutputKind m_kind;
    QString m_path;
    QFile m_standardOutput;
};

} // namespace tvx
