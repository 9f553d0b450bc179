#include "capture_run.h"

#include "capture_output.h"
#include "journal/journal_folder.h"
#include "platform/serial/serial_port.h"
#include "port/config_file.h"
#include "status_line.h"

#include <QEventLoop>
#include <QFileInfo>

namespace tvx {

CaptureRun::CaptureRun(SerialControl &comm, const CaptureOptions &options, CaptureOutput &output,
                       StatusLine &status, QObject *parent)
    : QObject(parent), m_comm(comm), m_options(options), m_output(output), m_line(status),
      m_link(comm), m_capture(comm, m_text, static_cast<CaptureView &>(*this)),
      m_writes(output, status, journalFolder(),
               [this](const TakenReading &reading, const QString &where, bool asked) {
                   readingDone(reading, where, asked);
               })
{
    m_retryTimer.setSingleShot(true);
    connect(&m_retryTimer, &QTimer::timeout, this, &CaptureRun::retryWrites);
    m_retry = [this](int ms) { m_retryTimer.start(ms); };
    m_waitTimer.setSingleShot(true);
    m_waitTimer.setTimerType(Qt::PreciseTimer); // "--wait 1" never gives up before a second
    connect(&m_waitTimer, &QTimer::timeout, this, &CaptureRun::waitRanOut);
    connect(&m_text, &ReadingText::appended, this, &CaptureRun::showProgress);
    connect(&m_capture, &Capture::finished, this, &CaptureRun::captureEnded);
}

CaptureRun::~CaptureRun() = default;

void CaptureRun::start()
{
    QString reason;
    if (!m_output.check(&reason)) {
        m_line.error(reason);
        end(WriteFailed);
        return;
    }
    if (!m_options.device.isEmpty()) {
        const QString device = devicePath(m_options.device);
        m_comm.setDeviceResolver([device](qint16) { return device; });
        m_comm.setPortName(m_options.device);
    }
    QString configProblem;
    const std::optional<qint16> port = portNumber(&configProblem);
    if (!port) {
        m_line.error(configProblem);
        end(PortNotOpened);
        return;
    }
    m_link.setPortNumber(*port);
    if (!m_link.openPort()) {
        m_line.error(m_link.failure());
        end(PortNotOpened);
        return;
    }
    // The port is held all the same; other programs that look only for a lock file would not
    // know, and the one who runs the station should.
    if (!m_comm.lockNote().isEmpty())
        m_line.error(m_comm.lockNote());
    connect(&m_comm, &SerialControl::onComm, &m_capture, &Capture::Comm1_OnComm);
    connect(&m_comm, &SerialControl::deviceLost, this, &CaptureRun::deviceLost);
    waitForTransmission();
}

// --port, else the number in tvx.cfg, else COM1 when there is no tvx.cfg at all. A tvx.cfg that
// gives no number is refused as the desktop program refuses it: the port it meant is unknown,
// and COM1 may be someone else's device. --device needs no number.
std::optional<qint16> CaptureRun::portNumber(QString *problem) const
{
    if (m_options.port)
        return m_options.port;
    if (!m_options.device.isEmpty())
        return qint16(1);
    // Looked at without opening it: a named pipe in its place must not hold the start. A
    // symbolic link that leads nowhere is a tvx.cfg all the same.
    const QFileInfo config(configfile::fileName());
    if (!config.exists() && !config.isSymLink())
        return qint16(1);
    return configfile::read(problem);
}

int CaptureRun::exec()
{
    QEventLoop loop;
    connect(this, &CaptureRun::finished, &loop, &QEventLoop::quit);
    start();
    if (!m_over)
        loop.exec();
    return m_exitStatus;
}

void CaptureRun::interrupt()
{
    if (m_over)
        return;
    if (!m_capture.running()) {
        endWithWaiting(AllWritten);
        return;
    }
    m_interrupted = true;
    m_capture.stop(); // captureEnded() writes what arrived
}

QString CaptureRun::where() const
{
    return m_comm.portName();
}

// With more than one capture asked for, each line says which one it is.
QString CaptureRun::prefix() const
{
    if (m_options.count == 1)
        return QString();
    if (m_options.count == 0)
        return QStringLiteral("[%1] ").arg(m_taken + 1);
    return QStringLiteral("[%1/%2] ").arg(m_taken + 1).arg(m_options.count);
}

// The bytes received so far: those the capture took, and those still waiting for it.
QString CaptureRun::bytesAndTime()
{
    const qsizetype waiting = m_comm.portOpen() ? m_comm.inBufferCount().value_or(0) : 0;
    return QStringLiteral("%1 bytes in %2 s")
        .arg(m_text.bytes().size() + waiting)
        .arg(m_elapsed.elapsed() / 1000.0, 0, 'f', 1);
}

void CaptureRun::waitForTransmission()
{
    showWaiting();
    if (m_options.waitMs > 0)
        m_waitTimer.start(m_options.waitMs);
}

void CaptureRun::showWaiting()
{
    m_line.show(prefix() + where() + QStringLiteral(": waiting for a transmission"));
}

void CaptureRun::setReadingAreaVisible(bool visible)
{
    if (visible)
        return;
    // The first byte arrived: the capture begins.
    m_waitTimer.stop();
    m_capturing = true;
    m_startedAt = QDateTime::currentDateTime();
    m_elapsed.start();
    showProgress();
}

// The flash of the notice comes every 450 ms while a capture runs: the elapsed time moves on.
void CaptureRun::setNoticeVisible(bool visible)
{
    m_notice = visible;
    showProgress();
}

void CaptureRun::showProgress()
{
    if (!m_capturing || m_over)
        return;
    m_line.show(prefix() + where() + QStringLiteral(": receiving, ") + bytesAndTime());
}

void CaptureRun::captureEnded()
{
    m_capturing = false;
    if (m_over)
        return;
    const bool lost = !m_comm.portOpen();
    TakenReading reading{m_text.bytes(), m_startedAt,
                         prefix() + where() + QStringLiteral(": ") + bytesAndTime(), QString()};
    if (lost || m_interrupted)
        reading.cut = lost ? QStringLiteral("the device was lost") : QStringLiteral("interrupted");
    const bool cut = !reading.cut.isEmpty();
    ++m_taken;
    // The run that ends anyway waits for no room: what is not written goes to the journal.
    const WriteQueue::State state = m_writes.add(std::move(reading), !cut);
    if (m_over)
        return;
    if (state == WriteQueue::State::Failed || cut) {
        endWithWaiting(state == WriteQueue::State::Failed ? WriteFailed : Incomplete);
        return;
    }
    if (state == WriteQueue::State::Waiting)
        scheduleRetry();
    if (!lastTaken()) {
        waitForTransmission();
    } else if (state == WriteQueue::State::Written) {
        end(m_writes.allAsAsked() ? AllWritten : WriteFailed);
    } else if (m_comm.portOpen()) {
        // Nothing more to capture: the port is free for other programs while the writes wait.
        m_line.close();
        m_comm.setPortOpen(false);
    }
}

// A capture written where it was asked to go, or kept in the journal instead.
void CaptureRun::readingDone(const TakenReading &reading, const QString &where, bool asked)
{
    if (asked)
        Q_EMIT written(where);
    if (!reading.cut.isEmpty()) {
        m_line.error(
            QStringLiteral("%1 in the middle of a capture: the %2 bytes received are "
                           "%3 %4, incomplete")
                .arg(reading.cut)
                .arg(reading.bytes.size())
                .arg(asked ? QStringLiteral("written to") : QStringLiteral("kept in"), where));
    } else if (asked) {
        m_line.finish(reading.told + QStringLiteral(", written to ") + where);
    }
}

void CaptureRun::scheduleRetry()
{
    if (m_retryAsked)
        return;
    m_retryAsked = true;
    m_retry(RetryMs);
}

void CaptureRun::retryWrites()
{
    m_retryAsked = false;
    if (m_over)
        return;
    const WriteQueue::State state = m_writes.write();
    if (m_over)
        return;
    switch (state) {
    case WriteQueue::State::Failed:
        endWithWaiting(WriteFailed);
        return;
    case WriteQueue::State::Waiting:
        scheduleRetry();
        return;
    case WriteQueue::State::Written:
        break;
    }
    if (lastTaken()) {
        end(m_writes.allAsAsked() ? AllWritten : WriteFailed);
        return;
    }
    // The lines of the captures just written took the place of the live one.
    if (m_capturing)
        showProgress();
    else
        showWaiting();
}

bool CaptureRun::lastTaken() const
{
    return m_options.count != 0 && m_taken >= m_options.count;
}

void CaptureRun::deviceLost(const QString &reason)
{
    if (m_over)
        return;
    m_line.error(reason);
    // In the middle of a capture, the capture sees the closed port at its next poll and ends
    // with what arrived; captureEnded() writes it.
    if (m_capture.running())
        return;
    m_line.error(QStringLiteral("the device was lost before a transmission started"));
    endWithWaiting(Incomplete);
}

void CaptureRun::waitRanOut()
{
    if (m_over || m_capture.running())
        return;
    m_line.error(QStringLiteral("no transmission started within %1 s").arg(m_options.waitText));
    endWithWaiting(NothingReceived);
}

// The run ends before what waits for room could be written: it is kept in the journal, and the
// status says that not everything went where it was asked to.
void CaptureRun::endWithWaiting(int status)
{
    m_writes.keepInJournal();
    end(m_writes.allAsAsked() ? status : WriteFailed);
}

void CaptureRun::end(int status)
{
    m_over = true;
    m_exitStatus = status;
    m_waitTimer.stop();
    m_retryTimer.stop();
    m_line.close();
    // The port and its lock file are free as soon as the run is over.
    if (m_comm.portOpen())
        m_comm.setPortOpen(false);
    Q_EMIT finished(status);
}

} // namespace tvx
