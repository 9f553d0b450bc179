#pragma once

#include "app/capture.h"
#include "app/reading_text.h"
#include "capture_options.h"
#include "port/port_link.h"
#include "write_queue.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <functional>

namespace tvx {

class CaptureOutput;
class SerialControl;
class StatusLine;

// tarvix-capture's exit statuses.
enum ToolStatus {
    AllWritten = 0,      // every capture written (or interrupted between captures)
    UsageError = 1,      // the command line
    PortNotOpened = 2,   // the port-opening procedure failed
    NothingReceived = 3, // --wait ran out before a transmission started
    Incomplete = 4,      // device lost or interrupted mid-capture; what arrived is written
    WriteFailed = 5,     // a capture could not be written where asked (kept in the journal)
};

// One run of tarvix-capture: opens the port as the desktop program does, lets the capture take
// the transmissions one after another, and hands each to the output. The capture is the
// desktop program's own; this class is only the face it shows, a status line instead of a
// window. A capture that finds no room on the disk waits for it while the run goes on.
class CaptureRun : public QObject, private CaptureView {
    Q_OBJECT
public:
    // A capture that waits for room is tried again after this long.
    static constexpr int RetryMs = 1000;
    // Asks for retryWrites() after so many milliseconds.
    using RetrySchedule = std::function<void(int ms)>;

    CaptureRun(SerialControl &comm, const CaptureOptions &options, CaptureOutput &output,
               StatusLine &status, QObject *parent = nullptr);
    ~CaptureRun() override;

    // A schedule of the caller's instead of the timer (a test's, to count the tries).
    void setRetrySchedule(RetrySchedule schedule) { m_retry = std::move(schedule); }

    // Opens the port and waits for transmissions. finished() ends the run (already within
    // start() when the output or the port is not usable).
    void start();
    // start(), then the events until the run is over; returns its exit status.
    int exec();
    // A request from outside to end (SIGINT, SIGTERM, SIGHUP): between captures the run ends
    // as having written everything; in the middle of one, what arrived is written first. What
    // waits for room goes to the journal.
    void interrupt();
    // Writes what waits for room, if there is room now.
    void retryWrites();

    bool isOver() const { return m_over; }
    // The captures taken so far, written or waiting.
    int taken() const { return m_taken; }
    int status() const { return m_exitStatus; }

Q_SIGNALS:
    // A capture is written (the bench times this).
    void written(const QString &where);
    void finished(int status);

private:
    // What the capture shows: the reading area hidden means a capture began.
    void setReadingAreaVisible(bool visible) override;
    void setNoticeVisible(bool visible) override;
    bool noticeVisible() const override { return m_notice; }
    void beep() override {} // a tool left beside the instrument rings no terminal

    // Nothing when tvx.cfg gives no number; *problem then says why.
    std::optional<qint16> portNumber(QString *problem) const;
    void waitForTransmission();
    void showWaiting();
    void showProgress();
    void captureEnded();
    void readingDone(const TakenReading &reading, const QString &where, bool asked);
    void scheduleRetry();
    bool lastTaken() const;
    void deviceLost(const QString &reason);
    void waitRanOut();
    void endWithWaiting(int status);
    void end(int status);

    QString where() const;
    QString prefix() const;
    QString bytesAndTime();

    SerialControl &m_comm;
    CaptureOptions m_options;
    CaptureOutput &m_output;
    StatusLine &m_line;
    PortLink m_link;
    ReadingText m_text;
    Capture m_capture;
    QTimer m_waitTimer;
    WriteQueue m_writes;
    QTimer m_retryTimer;
    RetrySchedule m_retry;
    bool m_retryAsked = false;
    QDateTime m_startedAt;
    QElapsedTimer m_elapsed;
    bool m_notice = false;
    bool m_capturing = false; // from the first byte until the capture ends
    bool m_interrupted = false;
    bool m_over = false;
    int m_taken = 0;
    int m_exitStatus = AllWritten;
};

} // namespace tvx
