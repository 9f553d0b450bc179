#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

namespace tvx::readingfile {

// Longer files are refused: nothing the instrument sends comes near, and a wrong choice (a
// disk image, a video) would otherwise fill the memory. Years of readings joined into one file,
// or a long log, stay well below.
constexpr qint64 MaxLoadSize = 1024 * 1024 * 1024;

// The file's content for a reading text: every byte of the text, then CR LF; nothing else.
QByteArray format(const QByteArray &text);

// Writes the reading file, replacing any file of that name as a whole or not at all. noRoom
// tells whether it failed only for lack of room (a full disk or quota).
bool save(const QString &path, const QByteArray &text, QString *reason = nullptr,
          bool *noRoom = nullptr);

// The name of a capture kept as a file of its own: readings-YYYYMMDD-HHMMSS.dat by its start
// time, the second and later candidates for the same second with -2, -3, ... before .dat.
QString captureName(const QDateTime &startedAt, int attempt = 1);
// Candidates offered for one second before giving up: "-2" to "-1000".
constexpr int CaptureNameAttempts = 1000;

// Reads the whole file, byte for byte, into text; on failure text is left as it was.
bool load(const QString &path, QByteArray *text, QString *reason = nullptr);

// What the user is told when a file could not be loaded, and why.
QString loadFailure(const QString &path, const QString &reason);

} // namespace tvx::readingfile
