#pragma once

#include "app/capture.h"
#include "app/reading_text.h"
#include "capture_options.h"
#include "port/port_link.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

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
    WriteFailed = 5,     // a capture could not be written
};

// One run of tarvix-capture: opens the port as the desktop program does, lets the capture take
// the transmissions one after another, and hands each to the output. The capture is the
// desktop program's own; this class is only the face it shows, a status line instead of a
// window.
class CaptureRun : public QObject, private CaptureView {
    Q_OBJECT
public:
    CaptureRun(SerialControl &comm, const CaptureOptions &options, CaptureOutput &output,
               StatusLine &status, QObject *parent = nullptr);
    ~CaptureRun() override;

    // Opens the port and waits for transmissions. finished() ends the run (already within
    // start() when the output or the port is not usable).
    void start();
    // start(), then the events until the run is over; returns its exit status.
    int exec();
    // A request from outside to end (SIGINT, SIGTERM, SIGHUP): between captures the run ends
    // as having written everything; in the middle of one, what arrived is written first.
    void interrupt();

    bool isOver() const { return m_over; }
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

    std::optional<qint16> portNumber() const;
    void waitForTransmission();
    void showProgress();
    void captureEnded();
    void deviceLost(const QString &reason);
    void waitRanOut();
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
    QDateTime m_startedAt;
    QElapsedTimer m_elapsed;
    bool m_notice = false;
    bool m_capturing = false; // from the first byte until the capture is written
    bool m_interrupted = false;
    bool m_over = false;
    int m_written = 0;
    int m_exitStatus = AllWritten;
};

} // namespace tvx
