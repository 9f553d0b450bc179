#pragma once

#include <QObject>
#include <QTimer>

namespace tvx {

class ReadingText;
class SerialControl;

// What a capture shows while it runs: the reading area gives way to a flashing notice, and one
// beep ends it.
class CaptureView {
public:
    virtual ~CaptureView() = default;
    virtual void setReadingAreaVisible(bool visible) = 0;
    virtual void setNoticeVisible(bool visible) = 0;
    virtual bool noticeVisible() const = 0;
    virtual void beep() = 0;
};

// Turns one transmission of the instrument into the reading text. The first received character
// starts it; from then on the port is polled every 25 ms, and whenever more than 32 characters
// wait they are appended as a block. After 51 polls in a row that found at most 32 waiting the
// rest is appended and the capture ends with one beep: about 1.3 s after the last block.
//
// Each poll is one tick of a timer on the UI thread, so the window, its menus and any modal box
// stay responsive, and the serial port keeps filling its buffer the whole time.
class Capture : public QObject {
    Q_OBJECT
public:
    static constexpr int PassMs = 25;
    static constexpr int FlashMs = 450;
    static constexpr int LastPass = 50;       // polls are counted 0..50
    static constexpr int BlockThreshold = 32; // a block is read when more than this wait

    Capture(SerialControl &comm, ReadingText &text, CaptureView &view, QObject *parent = nullptr);

    bool running() const { return m_passTimer.isActive(); }

    // The receive notification.
    void Comm1_OnComm();

    // Ends a running capture now, as if the line had fallen quiet: what waits is appended and
    // finished() follows. For a program told to end, which keeps what has arrived.
    void stop();
    // The program ends in the middle of a capture: what waits is taken in (received() still
    // tells it) and finished() follows, with nothing shown and no beep.
    void abandon();

Q_SIGNALS:
    // A capture began: the reading text was emptied for it.
    void began();
    // Bytes received, just appended to the reading text.
    void received(const QByteArray &bytes);
    // The capture ended, normally or through the error path.
    void finished();
    // One poll of the port was made. Lets a test count polls instead of timing them.
    void polled();

private:
    void capture();
    void receive(const QByteArray &bytes);
    void takeWaiting();
    void pass();
    void finish();
    void fail();
    void end();
    void Timer1_Timer();

    SerialControl &m_comm;
    ReadingText &m_text;
    CaptureView &m_view;
    QTimer m_passTimer;
    QTimer m_flashTimer; // Timer1, a child so that it can be found by its name
    int m_counter = 0;
};

} // namespace tvx
