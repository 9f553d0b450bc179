#pragma once

#include "journal_writer.h"

#include <QByteArray>
#include <QObject>

#include <functional>
#include <memory>

class QThreadPool;

namespace tvx {

class Capture;
class ReadingText;

// Keeps every capture in the journal as it arrives. The received bytes are held here for at
// most HeldMs (or until HandOverBytes are held) and then handed to the journal's writer, which
// appends them to the capture's file and puts them on the disk, so that whatever ends the
// program, no more than about a second of a transmission is lost. The writer works on a thread
// of its own: a slow or full disk never holds the capture or the window.
class CaptureJournal : public QObject {
    Q_OBJECT
public:
    static constexpr qint64 HeldMs = 1000;
    static constexpr qsizetype HandOverBytes = 1 << 20;

    // Writes on a thread of its own and tells its problems on standard error.
    explicit CaptureJournal(const QString &folder, QObject *parent = nullptr);
    // Writes at once in the caller's thread, telling its problems to tell; clock gives the time
    // in milliseconds (a test's own clock).
    CaptureJournal(const QString &folder, std::function<qint64()> clock, JournalWriter::Tell tell,
                   QObject *parent = nullptr);
    // Hands over what is held, and lets the writer finish for a few seconds at most.
    ~CaptureJournal() override;

    // Follows the captures into text.
    void follow(const Capture &capture, const ReadingText &text);

    void began(const QDateTime &startedAt);
    void received(const QByteArray &bytes);
    // Hands over what has been held for HeldMs (the capture polls often enough).
    void poll();
    void ended();

    // The journal file that holds the reading text (while it is a capture's, not a file's),
    // or empty.
    QString readingTextFile() const;
    QString folder() const { return m_writer->folder(); }

private:
    void handOver();
    void run(std::function<void()> job);

    std::shared_ptr<JournalWriter> m_writer;
    QThreadPool *m_pool = nullptr; // none: the writer works in the caller's thread
    std::function<qint64()> m_clock;
    QByteArray m_held;
    qint64 m_heldSince = 0;
    bool m_textIsCapture = false;
};

} // namespace tvx
