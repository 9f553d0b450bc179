#include "app/capture.h"
#include "app/reading_text.h"
#include "platform/windows.h"
#include "support/fake_serial_control.h"
#include "support/modal_watcher.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

using namespace tvx;

namespace {

// Records what the capture shows, in order.
class RecordingView : public CaptureView {
public:
    void setReadingAreaVisible(bool visible) override
    {
        area = visible;
        events << (visible ? QStringLiteral("area shown") : QStringLiteral("area hidden"));
    }
    void setNoticeVisible(bool visible) override
    {
        notice = visible;
        events << (visible ? QStringLiteral("notice shown") : QStringLiteral("notice hidden"));
    }
    bool noticeVisible() const override { return notice; }
    void beep() override
    {
        ++beeps;
        events << QStringLiteral("beep");
    }

    bool area = true;
    bool notice = false;
    int beeps = 0;
    QStringList events;
};

QByteArray everyByte(int times)
{
    QByteArray bytes;
    for (int t = 0; t < times; ++t)
        for (int i = 0; i < 256; ++i)
            bytes.append(char(i));
    return bytes;
}

} // namespace

// Waits until the given number of captures has ended.
#define WAIT_FOR_END(captures)                                                                     \
    QTRY_COMPARE_WITH_TIMEOUT(m_finished->count(), captures, 10000);                               \
    QVERIFY(!m_capture->running())

class TestCapture : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void otherEventChangesNothing();
    void notificationWithNothingWaiting();
    void shortTransmissionTakenByFinalRead();
    void thirtyThreeReadAsOneBlock();
    void blockOnlyWhenMoreThan32Wait_data();
    void blockOnlyWhenMoreThan32Wait();
    void quietPollsEndTheCapture_data();
    void quietPollsEndTheCapture();
    void flashTimer();
    void bytesArriveUnchanged_data();
    void bytesArriveUnchanged();
    void pacedTransmissionIsOneCapture();
    void pauseMakesTwoCaptures();
    void portClosedDuringCapture();
    void deviceLostDuringCapture();
    void statesDuringAndAfter();
    void noticeFlashes();
    void notificationDuringCaptureIsIgnored();
    void modalBoxDoesNotStopCapture();
    void stopKeepsWhatArrived();
    void stopWhileIdleChangesNothing();

private:
    void feedPaced(const QByteArray &bytes, int perTick);

    std::unique_ptr<test::FakeSerialControl> m_comm;
    std::unique_ptr<ReadingText> m_text;
    std::unique_ptr<RecordingView> m_view;
    std::unique_ptr<Capture> m_capture;
    std::unique_ptr<QSignalSpy> m_finished;
    std::unique_ptr<QSignalSpy> m_appended;
};

void TestCapture::init()
{
    m_comm = std::make_unique<test::FakeSerialControl>();
    m_text = std::make_unique<ReadingText>();
    m_view = std::make_unique<RecordingView>();
    m_capture = std::make_unique<Capture>(*m_comm, *m_text, *m_view);
    connect(m_comm.get(), &SerialControl::onComm, m_capture.get(), &Capture::Comm1_OnComm);
    m_finished = std::make_unique<QSignalSpy>(m_capture.get(), &Capture::finished);
    m_appended = std::make_unique<QSignalSpy>(m_text.get(), &ReadingText::appended);
    QVERIFY(m_comm->setRThreshold(1));
    QVERIFY(m_comm->setPortOpen(true));
    m_text->replace("old text");
}

void TestCapture::cleanup()
{
    m_capture.reset();
}

// Feeds bytes a few at a time on a timer, as a line at a real pace delivers them.
void TestCapture::feedPaced(const QByteArray &bytes, int perTick)
{
    auto *timer = new QTimer(m_capture.get());
    auto offset = std::make_shared<qsizetype>(0);
    connect(timer, &QTimer::timeout, this, [this, timer, bytes, perTick, offset] {
        m_comm->feed(bytes.mid(*offset, perTick));
        *offset += perTick;
        if (*offset >= bytes.size())
            timer->stop();
    });
    timer->start(25);
}

void TestCapture::otherEventChangesNothing()
{
    m_comm->setInputLen(1);
    m_comm->setRThreshold(0);
    m_comm->feed("waiting");
    m_comm->setRThreshold(1);
    m_comm->signalEvent(3);
    QVERIFY(!m_capture->running());
    QCOMPARE(m_text->bytes(), QByteArray("old text"));
    QCOMPARE(m_view->beeps, 0);
    QCOMPARE(*m_comm->inBufferCount(), qint16(7));
}

void TestCapture::notificationWithNothingWaiting()
{
    // Characters were received, but taken before their notification came.
    m_comm->signalEvent(2);
    QCOMPARE(m_comm->commEvent(), qint16(2));
    QCOMPARE(m_comm->inBufferCount(), std::optional<qint16>(0));
    QVERIFY(!m_capture->running());
    QCOMPARE(m_text->bytes(), QByteArray("old text"));
    QVERIFY(m_view->events.isEmpty());
}

void TestCapture::shortTransmissionTakenByFinalRead()
{
    m_comm->feed("first");
    QVERIFY(m_capture->running());
    QVERIFY(m_text->bytes().isEmpty()); // a capture starts with an empty text
    m_comm->feed(QByteArray(27, 'x'));  // 32 waiting: still no block
    WAIT_FOR_END(1);
    QCOMPARE(m_text->bytes(), "first" + QByteArray(27, 'x'));
    QCOMPARE(m_appended->count(), 1); // the read after the last poll
    QCOMPARE(m_view->beeps, 1);
}

void TestCapture::thirtyThreeReadAsOneBlock()
{
    m_comm->feed(QByteArray(33, 'b')); // all before the first poll
    QCOMPARE(m_appended->count(), 1);  // read as a block by the first poll
    QCOMPARE(m_appended->first().first().toByteArray(), QByteArray(33, 'b'));
    WAIT_FOR_END(1);
    QCOMPARE(m_appended->count(), 1); // the final read found nothing
    QCOMPARE(m_text->bytes(), QByteArray(33, 'b'));
}

void TestCapture::blockOnlyWhenMoreThan32Wait_data()
{
    QTest::addColumn<int>("waiting");
    QTest::addColumn<bool>("block");
    QTest::newRow("32 wait") << 32 << false;
    QTest::newRow("33 wait") << 33 << true;
}

void TestCapture::blockOnlyWhenMoreThan32Wait()
{
    QFETCH(int, waiting);
    QFETCH(bool, block);
    QSignalSpy polls(m_capture.get(), &Capture::polled);
    m_comm->feed(QByteArray(waiting, 'w'));
    QCOMPARE(polls.count(), 1); // the first poll comes at once
    QCOMPARE(m_text->bytes().size(), block ? waiting : 0);
    QCOMPARE(m_comm->inBufferCount(), std::optional<qint16>(block ? 0 : waiting));
}

void TestCapture::quietPollsEndTheCapture_data()
{
    QTest::addColumn<int>("after"); // the poll after which 33 more characters arrive; 0: none
    QTest::addColumn<int>("polls"); // the polls the whole capture makes
    // 51 quiet polls, counted 0 to 50, then the end.
    QTest::newRow("nothing more") << 0 << 51;
    // The 2nd poll reads a block and counts from 0 again: 50 more polls follow it.
    QTest::newRow("a block at the 2nd poll") << 1 << 52;
}

void TestCapture::quietPollsEndTheCapture()
{
    QFETCH(int, after);
    QFETCH(int, polls);
    int made = 0;
    connect(m_capture.get(), &Capture::polled, m_capture.get(), [&] {
        if (++made == after)
            m_comm->feed(QByteArray(33, 'b'));
    });
    QElapsedTimer clock;
    clock.start();
    m_comm->feed("a");
    WAIT_FOR_END(1);
    QCOMPARE(made, polls);
    QCOMPARE(m_text->bytes(), after ? "a" + QByteArray(33, 'b') : QByteArray("a"));
    // The one check against the clock: 51 polls 25 ms apart and the end 25 ms after the last
    // take at least 1275 ms, however loaded the machine is.
    if (after == 0)
        QVERIFY2(clock.elapsed() >= 1275, qPrintable(QString::number(clock.elapsed())));
}

void TestCapture::flashTimer()
{
    auto *timer1 = m_capture->findChild<QTimer *>(QStringLiteral("Timer1"));
    QVERIFY(timer1);
    QCOMPARE(timer1->interval(), 450);
    QVERIFY(!timer1->isSingleShot());
    QVERIFY(!timer1->isActive()); // disabled while idle
}

void TestCapture::bytesArriveUnchanged_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("every byte value") << everyByte(4);
    QTest::newRow("line ends of every kind") << QByteArray("a\r\nb\nc\rd\r\r\n\n\re\r\n");
    QTest::newRow("NUL and tabs") << QByteArray("\x00\t\x00ID\t12.5\x00\r\n", 13);
}

void TestCapture::bytesArriveUnchanged()
{
    QFETCH(QByteArray, bytes);
    feedPaced(bytes, 7);
    WAIT_FOR_END(1);
    QCOMPARE(m_text->bytes(), bytes);
}

void TestCapture::pacedTransmissionIsOneCapture()
{
    // 120 characters a second: 3 each 25 ms.
    const QByteArray bytes = everyByte(2);
    feedPaced(bytes, 3);
    WAIT_FOR_END(1);
    QTest::qWait(200);
    QCOMPARE(m_finished->count(), 1);
    QCOMPARE(m_text->bytes(), bytes);
    QVERIFY(m_appended->count() > 5); // taken in blocks as it came
}

void TestCapture::pauseMakesTwoCaptures()
{
    m_comm->feed(QByteArray(100, '1'));
    WAIT_FOR_END(1);
    m_comm->feed(QByteArray(50, '2'));
    WAIT_FOR_END(2);
    QCOMPARE(m_text->bytes(), QByteArray(50, '2'));
    QCOMPARE(m_view->beeps, 2);
}

void TestCapture::portClosedDuringCapture()
{
    m_comm->feed(QByteArray(40, 'k'));
    QCOMPARE(m_text->bytes(), QByteArray(40, 'k'));
    m_comm->feed("not yet read");
    QVERIFY(m_comm->setPortOpen(false)); // the port selection window failed to reopen it
    WAIT_FOR_END(1);
    QCOMPARE(m_text->bytes(), QByteArray(40, 'k') + "not yet read"); // taken before it closed
    QCOMPARE(m_comm->rThreshold(), qint16(1));
    QVERIFY(!m_view->notice);
    QVERIFY(m_view->area);
    QCOMPARE(m_view->beeps, 1);
}

void TestCapture::deviceLostDuringCapture()
{
    m_comm->feed(QByteArray(40, 'k'));
    m_comm->feed("tail"); // too few for a block
    m_comm->loseDevice();
    WAIT_FOR_END(1);
    QCOMPARE(m_text->bytes(), QByteArray(40, 'k') + "tail"); // nothing that arrived is lost
    QVERIFY(!m_comm->portOpen());
    QCOMPARE(m_view->beeps, 1);
    QTest::qWait(100);
    QCOMPARE(m_finished->count(), 1);
}

void TestCapture::statesDuringAndAfter()
{
    m_comm->setInputLen(5);
    m_comm->feed("x");
    QVERIFY(m_capture->running());
    QCOMPARE(m_comm->rThreshold(), qint16(0));
    QCOMPARE(m_comm->inputLen(), qint16(0));
    QVERIFY(!m_view->area);
    QVERIFY(m_view->notice);
    auto *timer1 = m_capture->findChild<QTimer *>(QStringLiteral("Timer1"));
    QVERIFY(timer1->isActive());
    WAIT_FOR_END(1);
    QVERIFY(!timer1->isActive());
    QCOMPARE(m_comm->rThreshold(), qint16(1));
    QVERIFY(m_view->area);
    QVERIFY(!m_view->notice);
    QCOMPARE(m_view->events.first(2),
             (QStringList{QStringLiteral("area hidden"), QStringLiteral("notice shown")}));
    QCOMPARE(m_view->events.last(3),
             (QStringList{QStringLiteral("notice hidden"), QStringLiteral("area shown"),
                          QStringLiteral("beep")}));
}

// The notice flashes for as long as the capture runs, and the end hides it. The transmission
// keeps pace with the capture's own polls (3 characters at each, 120 a second), so a machine too
// busy to keep time slows both alike and it stays one capture; where the end falls in the flash
// depends on that machine, so either state of the notice may be the one the end hides.
void TestCapture::noticeFlashes()
{
    QObject line;
    qsizetype sent = 0;
    connect(m_capture.get(), &Capture::polled, &line, [this, &sent] {
        if (sent < 300) {
            m_comm->feed("fff");
            sent += 3;
        }
    });
    m_comm->feed("fff");
    QVERIFY(m_view->notice);
    // About 150 polls: 3.8 s when the machine keeps time, longer when it does not.
    QTRY_COMPARE_WITH_TIMEOUT(m_finished->count(), 1, 60000);
    QVERIFY(!m_capture->running());
    QCOMPARE(m_text->bytes(), QByteArray(303, 'f'));
    QVERIFY(!m_view->notice);
    QStringList notices = m_view->events.filter(QStringLiteral("notice"));
    QCOMPARE(notices.takeLast(), QStringLiteral("notice hidden"));
    // Shown when the capture began, then turned over by each flash: 3.8 s hold several.
    QVERIFY2(notices.size() >= 3, qPrintable(notices.join(QLatin1String(", "))));
    for (int i = 0; i < notices.size(); ++i)
        QCOMPARE(notices[i],
                 i % 2 ? QStringLiteral("notice hidden") : QStringLiteral("notice shown"));
    // Nothing flashes after the end.
    QTest::qWait(Capture::FlashMs * 2);
    QCOMPARE(m_view->events.filter(QStringLiteral("notice")).size(), notices.size() + 1);
}

void TestCapture::notificationDuringCaptureIsIgnored()
{
    m_comm->feed(QByteArray(40, 'a'));
    QVERIFY(m_capture->running());
    // Reopening the port under a running capture sets the threshold back to 1.
    QVERIFY(m_comm->setRThreshold(1));
    m_comm->feed(QByteArray(40, 'b'));
    WAIT_FOR_END(1);
    QCOMPARE(m_text->bytes(), QByteArray(40, 'a') + QByteArray(40, 'b'));
    QCOMPARE(m_view->beeps, 1);
}

void TestCapture::modalBoxDoesNotStopCapture()
{
    m_comm->feed("start");
    feedPaced(QByteArray(200, 'm'), 3);
    test::ModalWatcher watcher(1500);
    qsizetype seenInsideBox = -1;
    watcher.onBox([&](QMessageBox *box) {
        QTimer::singleShot(1200, box, [&] { seenInsideBox = m_text->bytes().size(); });
    });
    messageBox(nullptr, QStringLiteral("busy"));
    QVERIFY2(seenInsideBox > 100, "the capture stood still while the box was open");
    WAIT_FOR_END(1);
    QCOMPARE(m_text->bytes(), "start" + QByteArray(200, 'm'));
}

void TestCapture::stopKeepsWhatArrived()
{
    m_comm->feed(QByteArray(40, 's'));
    m_comm->feed("waiting"); // too few for a block: still in the port's buffer
    QVERIFY(m_capture->running());
    m_capture->stop();
    QVERIFY(!m_capture->running());
    QCOMPARE(m_finished->count(), 1);
    QCOMPARE(m_text->bytes(), QByteArray(40, 's') + "waiting");
    QCOMPARE(m_comm->inBufferCount(), std::optional<qint16>(0));
    QCOMPARE(m_comm->rThreshold(), qint16(1));
    QVERIFY(m_view->area);
    QVERIFY(!m_view->notice);
    QTest::qWait(200); // no poll comes after the end
    QCOMPARE(m_finished->count(), 1);
}

void TestCapture::stopWhileIdleChangesNothing()
{
    m_capture->stop();
    QCOMPARE(m_finished->count(), 0);
    QCOMPARE(m_text->bytes(), QByteArray("old text"));
    QCOMPARE(m_view->beeps, 0);
}

QTEST_MAIN(TestCapture)
#include "tst_capture.moc"
