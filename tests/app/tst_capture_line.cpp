#include "app/main_window.h"
#include "platform/serial/serial_port.h"
#include "port/config_file.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <sys/resource.h>

using namespace tvx;

// Captures over a real serial port: the program's QSerialPort on a pseudo-terminal, the
// instrument played by tarvix-sim on the other end.
class TestCaptureLine : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void pacedEveryByteValue();
    void fastBurstOfOneMegabyte();
    void hangUpMidCapture();

private:
    // Starts the simulator on a new terminal and the program on its other end.
    void start(const QByteArray &bytes, const QStringList &options);
    qint64 cpuMs() const;

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<QProcess> m_sim;
    std::unique_ptr<MainWindow> m_main;
};

void TestCaptureLine::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(QDir::setCurrent(m_dir->path()));
    QVERIFY(configfile::write(1));
}

void TestCaptureLine::cleanup()
{
    m_main.reset();
    if (m_sim) {
        m_sim->terminate();
        m_sim->waitForFinished(3000);
        m_sim.reset();
    }
}

void TestCaptureLine::start(const QByteArray &bytes, const QStringList &options)
{
    QFile file(QStringLiteral("send.bin"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), bytes.size());
    file.close();
    m_sim = std::make_unique<QProcess>();
    m_sim->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_sim->start(QStringLiteral(TARVIX_SIM),
                 QStringList{QStringLiteral("--file"), file.fileName(), QStringLiteral("--delay"),
                             QStringLiteral("300")} +
                     options);
    QVERIFY(m_sim->waitForStarted());
    QTRY_VERIFY(m_sim->canReadLine());
    const QByteArray device = m_sim->readLine().trimmed();
    qputenv("TARVIX_COM1", device);
    m_main = std::make_unique<MainWindow>(std::make_unique<SystemSerialControl>());
    m_main->start();
    QVERIFY(m_main->comm().portOpen());
}

qint64 TestCaptureLine::cpuMs() const
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000 +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000;
}

void TestCaptureLine::pacedEveryByteValue()
{
    QByteArray bytes;
    for (int round = 0; round < 8; ++round)
        for (int i = 0; i < 256; ++i)
            bytes.append(char((i + round) % 256));
    start(bytes, {});
    QSignalSpy spy(&m_main->readingText(), &ReadingText::replaced);
    // 2 KB at 120 characters a second: about 17 s, then 1.3 s of quiet.
    QTRY_VERIFY_WITH_TIMEOUT(m_main->capturing(), 5000);
    QTRY_VERIFY_WITH_TIMEOUT(!m_main->capturing(), 40000);
    QCOMPARE(m_main->readingText().bytes().size(), bytes.size());
    QCOMPARE(m_main->readingText().bytes(), bytes);
    QCOMPARE(spy.count(), 1); // one transmission, one capture
}

void TestCaptureLine::fastBurstOfOneMegabyte()
{
    QByteArray bytes;
    bytes.reserve(1 << 20);
    for (int i = 0; i < (1 << 20); ++i)
        bytes.append(char((i * 7 + i / 256) % 256));
    start(bytes, {QStringLiteral("--fast")});
    QTRY_VERIFY_WITH_TIMEOUT(m_main->capturing(), 5000);
    QTRY_VERIFY_WITH_TIMEOUT(!m_main->capturing(), 60000);
    QCOMPARE(m_main->readingText().bytes().size(), bytes.size());
    QVERIFY(m_main->readingText().bytes() == bytes);
}

void TestCaptureLine::hangUpMidCapture()
{
    const QByteArray bytes(500, 'h');
    start(bytes, {QStringLiteral("--fast"), QStringLiteral("--hangup")});
    QSignalSpy started(&m_main->readingText(), &ReadingText::replaced);
    QTRY_COMPARE_WITH_TIMEOUT(started.count(), 1, 5000);
    QTRY_VERIFY_WITH_TIMEOUT(!m_main->comm().portOpen(), 5000);
    QTRY_VERIFY_WITH_TIMEOUT(!m_main->capturing(), 5000);
    QCOMPARE(m_main->readingText().bytes(), bytes); // kept, nothing lost
    QVERIFY(!m_main->comm().portOpen());
    // The dead line costs nothing any more.
    const qint64 before = cpuMs();
    QTest::qWait(1000);
    const qint64 used = cpuMs() - before;
    QVERIFY2(used < 100, qPrintable(QStringLiteral("%1 ms of CPU in one idle second").arg(used)));
}

QTEST_MAIN(TestCaptureLine)
#include "tst_capture_line.moc"
