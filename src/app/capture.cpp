#include "capture.h"

#include "app/reading_text.h"
#include "platform/serial/serial_port.h"

namespace tvx {

Capture::Capture(SerialControl &comm, ReadingText &text, CaptureView &view, QObject *parent)
    : QObject(parent), m_comm(comm), m_text(text), m_view(view), m_flashTimer(this)
{
    m_passTimer.setInterval(PassMs);
    m_passTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_passTimer, &QTimer::timeout, this, &Capture::pass);
    m_flashTimer.setObjectName(QStringLiteral("Timer1"));
    m_flashTimer.setInterval(FlashMs);
    connect(&m_flashTimer, &QTimer::timeout, this, &Capture::Timer1_Timer);
    connect(&m_comm, &SerialControl::aboutToClose, this, &Capture::takeWaiting);
}

void Capture::takeWaiting()
{
    // The port is closed under a running capture (another port chosen): what the old port
    // received is part of this transmission.
    if (!running())
        return;
    if (const std::optional<QByteArray> rest = m_comm.input())
        receive(*rest);
}

void Capture::receive(const QByteArray &bytes)
{
    m_text.append(bytes);
    if (!bytes.isEmpty())
        Q_EMIT received(bytes);
}

void Capture::Comm1_OnComm()
{
    if (m_comm.commEvent() != SerialControl::EventReceive)
        return;
    // A running capture already takes everything that arrives; a second one would only throw
    // away what it has collected (possible once the port was reopened during a capture).
    if (running())
        return;
    const std::optional<qint16> waiting = m_comm.inBufferCount();
    if (!waiting || *waiting == 0)
        return;
    m_text.clear();
    capture();
}

void Capture::stop()
{
    if (running())
        finish();
}

void Capture::abandon()
{
    if (!running())
        return;
    m_passTimer.stop();
    m_flashTimer.stop();
    if (const std::optional<QByteArray> rest = m_comm.input())
        receive(*rest);
    m_text.setReceiving(false);
    Q_EMIT finished();
}

void Capture::capture()
{
    m_text.setReceiving(true);
    Q_EMIT began();
    m_comm.setInputLen(0);
    m_comm.setRThreshold(0);
    m_view.setReadingAreaVisible(false);
    m_flashTimer.start();
    m_view.setNoticeVisible(true);
    m_counter = 0;
    m_passTimer.start();
    pass(); // the first poll comes at once, the others each 25 ms later
}

void Capture::pass()
{
    // The counter passed its range on the previous poll: 51 polls found at most 32 waiting.
    if (m_counter > LastPass) {
        finish();
        return;
    }
    const std::optional<qint16> waiting = m_comm.inBufferCount();
    if (!waiting) {
        fail();
        return;
    }
    // The device went away: what it sent before is still here, the rest never comes.
    if (!m_comm.portOpen()) {
        if (const std::optional<QByteArray> rest = m_comm.input())
            receive(*rest);
        fail();
        return;
    }
    if (*waiting > BlockThreshold) {
        m_counter = 0;
        const std::optional<QByteArray> block = m_comm.input();
        if (!block) {
            fail();
            return;
        }
        receive(*block);
    }
    ++m_counter;
    Q_EMIT polled();
}

void Capture::finish()
{
    const std::optional<QByteArray> rest = m_comm.input();
    if (!rest) {
        fail();
        return;
    }
    receive(*rest);
    m_flashTimer.stop();
    m_view.setNoticeVisible(false);
    // Nothing can arrive between the read above and this one (the port only fills while the
    // event loop runs), so this read finds the buffer empty and loses nothing.
    if (!m_comm.input()) {
        fail();
        return;
    }
    end();
}

void Capture::fail()
{
    m_flashTimer.stop();
    m_view.setNoticeVisible(false);
    end();
}

void Capture::end()
{
    m_passTimer.stop();
    m_comm.setRThreshold(1);
    m_view.setReadingAreaVisible(true);
    m_view.beep();
    m_text.setReceiving(false);
    Q_EMIT finished();
}

void Capture::Timer1_Timer()
{
    m_view.setNoticeVisible(!m_view.noticeVisible());
}

} // namespace tvx
