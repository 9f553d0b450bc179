#include "capture_journal.h"

#include "app/capture.h"
#include "app/reading_text.h"
#include "platform/console.h"

#include <QElapsedTimer>
#include <QThreadPool>

namespace tvx {

namespace {

// Long enough for the last second of a capture to reach the disk; short enough that a disk
// that no longer answers (a stalled network share) does not hold the program's end.
constexpr int FinishMs = 3000;

} // namespace

CaptureJournal::CaptureJournal(const QString &folder, QObject *parent)
    : QObject(parent), m_writer(std::make_shared<JournalWriter>(
                           folder, [](const QString &line) { writeErrorLine(line); })),
      m_pool(new QThreadPool)
{
    // One thread: the writes are done in the order they were handed over.
    m_pool->setMaxThreadCount(1);
    auto elapsed = std::make_shared<QElapsedTimer>();
    elapsed->start();
    m_clock = [elapsed] { return elapsed->elapsed(); };
}

CaptureJournal::CaptureJournal(const QString &folder, std::function<qint64()> clock,
                               JournalWriter::Tell tell, QObject *parent)
    : QObject(parent), m_writer(std::make_shared<JournalWriter>(folder, std::move(tell))),
      m_clock(std::move(clock))
{
}

CaptureJournal::~CaptureJournal()
{
    handOver();
    // A writer stuck on its disk is left behind with its jobs: the program ends all the same.
    if (m_pool && m_pool->waitForDone(FinishMs))
        delete m_pool;
}

void CaptureJournal::follow(const Capture &capture, const ReadingText &text)
{
    connect(&capture, &Capture::began, this, [this] { began(QDateTime::currentDateTime()); });
    connect(&capture, &Capture::received, this, &CaptureJournal::received);
    connect(&capture, &Capture::polled, this, &CaptureJournal::poll);
    connect(&capture, &Capture::finished, this, &CaptureJournal::ended);
    // A file loaded in place of the capture, even in its middle: the reading text is no longer
    // what the journal holds. (A capture empties it before it begins.)
    connect(&text, &ReadingText::replaced, this, [this] { m_textIsCapture = false; });
}

void CaptureJournal::run(std::function<void()> job)
{
    if (m_pool)
        m_pool->start(std::move(job));
    else
        job();
}

void CaptureJournal::began(const QDateTime &startedAt)
{
    handOver();
    m_textIsCapture = true;
    run([writer = m_writer, startedAt] { writer->begin(startedAt); });
}

void CaptureJournal::received(const QByteArray &bytes)
{
    if (m_held.isEmpty())
        m_heldSince = m_clock();
    m_held.append(bytes);
    if (m_held.size() >= HandOverBytes)
        handOver();
    else
        poll();
}

void CaptureJournal::poll()
{
    if (!m_held.isEmpty() && m_clock() - m_heldSince >= HeldMs)
        handOver();
}

void CaptureJournal::handOver()
{
    if (m_held.isEmpty())
        return;
    run([writer = m_writer, bytes = std::move(m_held)] { writer->write(bytes); });
    m_held = QByteArray();
}

void CaptureJournal::ended()
{
    handOver();
    run([writer = m_writer] { writer->end(); });
}

QString CaptureJournal::readingTextFile() const
{
    return m_textIsCapture ? m_writer->capturePath() : QString();
}

} // namespace tvx
