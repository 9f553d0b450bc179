#include "write_queue.h"

#include "capture_output.h"
#include "status_line.h"

namespace tvx {

WriteQueue::WriteQueue(CaptureOutput &output, StatusLine &line, const QString &journalFolder,
                       Done done, qint64 maxWaitingBytes)
    : m_output(output), m_line(line),
      m_journal(journalFolder, [&line](const QString &text) { line.error(text); }),
      m_done(std::move(done)), m_maxBytes(maxWaitingBytes)
{
}

WriteQueue::State WriteQueue::add(TakenReading reading, bool mayWait)
{
    m_bytes += reading.bytes.size();
    m_waiting.append(std::move(reading));
    // Never ahead of one that waits: it is tried again in its turn.
    const State state = m_waiting.size() == 1 ? write(mayWait) : State::Waiting;
    if (state == State::Waiting)
        keepWithinLimit();
    return state;
}

WriteQueue::State WriteQueue::write(bool mayWait)
{
    while (!m_waiting.isEmpty()) {
        const TakenReading &oldest = m_waiting.constFirst();
        const CaptureOutput::Result result = m_output.write(oldest.bytes, oldest.startedAt);
        if (result.written) {
            const TakenReading reading = takeOldest();
            m_done(reading, result.where, true);
            continue;
        }
        if (!result.noRoom) {
            m_line.error(result.reason);
            return State::Failed;
        }
        // Once for the whole wait, not at every try: a log would fill with it.
        if (!m_toldWaiting)
            m_line.error(mayWait ? result.reason +
                                       QStringLiteral(": the reading waits for room, tried again "
                                                      "every second")
                                 : result.reason);
        m_toldWaiting = true;
        return State::Waiting;
    }
    m_toldWaiting = false;
    m_toldJournalFull = false;
    return State::Written;
}

// Memory is not the place for days of readings: beyond the limit the oldest go to the journal,
// which may lie on another disk that still has room.
void WriteQueue::keepWithinLimit()
{
    while (m_bytes > m_maxBytes && !m_waiting.isEmpty()) {
        const TakenReading &oldest = m_waiting.constFirst();
        QString reason;
        const QString kept = m_journal.store(oldest.bytes, oldest.startedAt, &reason);
        if (kept.isEmpty()) {
            if (!m_toldJournalFull)
                m_line.error(QStringLiteral("more than %1 wait for room, and the journal cannot "
                                            "take the oldest (%2: %3): all are kept in memory")
                                 .arg(limitText(), m_journal.folder(), reason));
            m_toldJournalFull = true;
            return;
        }
        m_toldJournalFull = false;
        m_allAsAsked = false;
        const TakenReading reading = takeOldest();
        m_line.error(QStringLiteral("%1: more than %2 wait for room, so it is kept in %3")
                         .arg(notWritten(reading), limitText(), kept));
        m_done(reading, kept, false);
    }
}

void WriteQueue::keepInJournal()
{
    if (m_output.kind() == OutputKind::StandardOutput) {
        m_waiting.clear();
        m_bytes = 0;
        return;
    }
    while (!m_waiting.isEmpty()) {
        const TakenReading reading = takeOldest();
        m_allAsAsked = false;
        QString reason;
        const QString kept = m_journal.store(reading.bytes, reading.startedAt, &reason);
        if (kept.isEmpty()) {
            m_line.error(QStringLiteral("%1, nor kept in %2 (%3): it is lost")
                             .arg(notWritten(reading), m_journal.folder(), reason));
            continue;
        }
        m_line.error(QStringLiteral("%1: kept in %2").arg(notWritten(reading), kept));
        m_done(reading, kept, false);
    }
}

TakenReading WriteQueue::takeOldest()
{
    TakenReading reading = m_waiting.takeFirst();
    m_bytes -= reading.bytes.size();
    return reading;
}

QString WriteQueue::notWritten(const TakenReading &reading) const
{
    return QStringLiteral("%1, not written to %2").arg(reading.told, m_output.path());
}

QString WriteQueue::limitText() const
{
    constexpr qint64 MiB = 1024 * 1024;
    return m_maxBytes % MiB == 0 ? QStringLiteral("%1 MiB").arg(m_maxBytes / MiB)
                                 : QStringLiteral("%1 bytes").arg(m_maxBytes);
}

} // namespace tvx
