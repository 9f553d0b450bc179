#pragma once

#include "journal/journal_writer.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

#include <functional>

namespace tvx {

class CaptureOutput;
class StatusLine;

// A capture the run has taken, on its way to the output.
struct TakenReading {
    QByteArray bytes;
    QDateTime startedAt; // names it in a folder, however late it is written
    QString told;        // how the run tells it: "[2] COM1 (/dev/ttyS0): 41 bytes in 1.3 s"
    QString cut;         // why it ended early ("interrupted"), or empty
};

// Writes the captures in the order they were taken. One that finds no room (a full disk, a
// quota) waits, and those taken after it wait behind it, so that the files come in the order
// of the captures; the run tries again while it goes on capturing. What waits is held in
// memory up to a limit; beyond it the oldest goes to the capture journal. Nothing taken is
// dropped while the journal can still hold it.
class WriteQueue {
public:
    static constexpr qint64 MaxWaitingBytes = qint64(64) * 1024 * 1024;

    enum class State {
        Written, // nothing waits
        Waiting, // the oldest found no room
        Failed,  // the oldest cannot be written, for a reason waiting does not cure
    };
    // A capture written where it was asked to go, or (asked false) kept in the journal.
    using Done = std::function<void(const TakenReading &reading, const QString &where, bool asked)>;

    WriteQueue(CaptureOutput &output, StatusLine &line, const QString &journalFolder, Done done,
               qint64 maxWaitingBytes = MaxWaitingBytes);

    // A capture taken: written at once unless others wait before it. Without mayWait (the run
    // ends) a lack of room is told as a plain failure.
    State add(TakenReading reading, bool mayWait = true);
    // Writes what waits, oldest first, until one finds no room again.
    State write(bool mayWait = true);
    // The run ends: what still waits goes to the journal, or is told as lost where even that
    // fails. Standard output keeps nothing: it never waits.
    void keepInJournal();

    bool isEmpty() const { return m_waiting.isEmpty(); }
    qint64 waitingBytes() const { return m_bytes; }
    // Whether every capture so far went where it was asked to.
    bool allAsAsked() const { return m_allAsAsked; }

private:
    void keepWithinLimit();
    TakenReading takeOldest();
    QString notWritten(const TakenReading &reading) const;
    QString limitText() const;

    CaptureOutput &m_output;
    StatusLine &m_line;
    JournalWriter m_journal;
    Done m_done;
    qint64 m_maxBytes;
    QList<TakenReading> m_waiting;
    qint64 m_bytes = 0;
    bool m_toldWaiting = false; // the wait was told; told again once it ended and comes back
    bool m_toldJournalFull = false;
    bool m_allAsAsked = true;
};

} // namespace tvx
