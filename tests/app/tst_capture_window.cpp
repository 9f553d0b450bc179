#include "app/main_window.h"
#include "files/open_window.h"
#include "files/reading_file.h"
#include "files/save_window.h"
#include "port/config_file.h"
#include "port/port_link.h"
#include "port/port_selection_window.h"
#include "reading/reading_view.h"
#include "support/fake_printer.h"
#include "support/fake_serial_control.h"
#include "support/file_bytes.h"
#include "support/modal_watcher.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace tvx;

// A capture as the main window shows it, and the window's commands in the middle of one.
class TestCaptureWindow : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void noticeReplacesReadingArea();
    void portProcedureDuringCapture_data();
    void portProcedureDuringCapture();
    void saveDuringCaptureTakesTextSoFar();
    void openDuringCaptureKeepsCapturing();
    void printDuringCaptureTakesTextSoFar();
    void transmissionWinsOverLoad_data();
    void transmissionWinsOverLoad();
    void focusStaysOffExit();

private:
    QWidget *widget(const char *name) const
    {
        return m_main->findChild<QWidget *>(QLatin1String(name));
    }

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<MainWindow> m_main;
    test::FakeSerialControl *m_comm = nullptr;
};

void TestCaptureWindow::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(QDir::setCurrent(m_dir->path()));
    QVERIFY(configfile::write(1));
    auto comm = std::make_unique<test::FakeSerialControl>();
    m_comm = comm.get();
    m_main = std::make_unique<MainWindow>(std::move(comm));
    m_main->start();
    QVERIFY(m_main->isVisible());
}

void TestCaptureWindow::cleanup()
{
    m_main.reset();
    QDir::setCurrent(QDir::tempPath());
}

void TestCaptureWindow::noticeReplacesReadingArea()
{
    m_main->readingText().replace("earlier capture");
    m_comm->feed("001   23.16\r\n002   23.22\r\n003   23.40\r\n");
    QVERIFY(m_main->capturing());
    QVERIFY(!widget("txtreading")->isVisible());
    QVERIFY(widget("cmdcap")->isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(!m_main->capturing(), 5000);
    QVERIFY(widget("txtreading")->isVisible());
    QVERIFY(!widget("cmdcap")->isVisible());
    auto *area = static_cast<ReadingView *>(widget("txtreading"));
    QByteArrayList shown;
    for (const auto &[start, end] : area->visibleRows())
        shown.append(area->bytes().mid(start, end - start));
    QCOMPARE(shown, (QByteArrayList{"001   23.16", "002   23.22", "003   23.40", ""}));
}

// The port selection window works in the middle of a capture. Its Ok or Cancel on the port in
// force leaves the port open and what waits in it untouched; on another port, what waits for the
// old one still goes into the capture before the port closes, and the capture goes on with the
// new one (or ends, when it does not open).
void TestCaptureWindow::portProcedureDuringCapture_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<int>("option"); // marked before the button, 0 for none
    QTest::addColumn<bool>("opens"); // whether the chosen port opens
    QTest::addColumn<int>("openings");
    QTest::newRow("Ok, the same port") << "cmdok" << 0 << true << 0;
    QTest::newRow("Cancel, the same port") << "cmdcancel" << 2 << true << 0;
    QTest::newRow("Ok, another port") << "cmdok" << 2 << true << 1;
    QTest::newRow("Ok, another port that fails") << "cmdok" << 3 << false << 0;
}

void TestCaptureWindow::portProcedureDuringCapture()
{
    QFETCH(QString, button);
    QFETCH(int, option);
    QFETCH(bool, opens);
    QFETCH(int, openings);
    m_comm->setUnavailable(QStringLiteral("/dev/ttyS2"));
    m_comm->feed(QByteArray(40, 'a'));
    QVERIFY(m_main->capturing());
    QCOMPARE(m_comm->rThreshold(), qint16(0));
    m_comm->feed(QByteArray(20, 'w')); // too few for a block: they wait
    m_main->mnuport_Click();
    PortSelectionWindow *window = m_main->portSelectionWindow();
    if (option != 0)
        window->findChild<QRadioButton *>(QStringLiteral("Option%1").arg(option))->click();
    const int before = m_comm->openCount();
    test::ModalWatcher boxes;
    window->findChild<QPushButton *>(button)->click();
    QCOMPARE(m_comm->openCount(), before + openings);
    QCOMPARE(m_comm->portOpen(), opens);
    QCOMPARE(boxes.boxes().size(), opens ? 0 : 1);
    if (opens) {
        QVERIFY(m_main->capturing());
        QCOMPARE(m_comm->rThreshold(), qint16(1));
        m_comm->feed(QByteArray(40, 'b')); // the threshold is 1: no second capture starts
    }
    QTRY_VERIFY_WITH_TIMEOUT(!m_main->capturing(), 5000);
    QCOMPARE(m_main->readingText().bytes(),
             QByteArray(40, 'a') + QByteArray(20, 'w') + QByteArray(opens ? 40 : 0, 'b'));
    QVERIFY(widget("txtreading")->isVisible());
    QVERIFY(!widget("cmdcap")->isVisible());
    QCOMPARE(m_comm->rThreshold(), qint16(1));
}

void TestCaptureWindow::saveDuringCaptureTakesTextSoFar()
{
    m_comm->feed(QByteArray(40, 'a'));
    m_main->mnusave_Click();
    m_main->saveWindow()
        ->findChild<QLineEdit *>(QStringLiteral("txtfilename"))
        ->setText(QStringLiteral("partial.dat"));
    m_main->saveWindow()->cmdsaveok_Click();
    QVERIFY(m_main->capturing());
    m_comm->feed(QByteArray(40, 'b'));
    QTRY_VERIFY_WITH_TIMEOUT(!m_main->capturing(), 5000);
    QCOMPARE(test::fileContent(QStringLiteral("partial.dat")), QByteArray(40, 'a') + "\r\n");
    QCOMPARE(m_main->readingText().bytes(), QByteArray(40, 'a') + QByteArray(40, 'b'));
}

void TestCaptureWindow::openDuringCaptureKeepsCapturing()
{
    const QString file = QStringLiteral("earlier.dat");
    QVERIFY(test::writeFile(file, "earlier readings\r\n"));
    m_comm->feed(QByteArray(40, 'a'));
    m_main->mnuopen_Click();
    m_main->openWindow()
        ->findChild<QLineEdit *>(QStringLiteral("Text1"))
        ->setText(QDir::current().absoluteFilePath(file));
    m_main->openWindow()->direct();
    QCOMPARE(m_main->readingText().bytes(), QByteArray("earlier readings\r\n"));
    QVERIFY(m_main->capturing());
    m_comm->feed(QByteArray(40, 'b'));
    QTRY_VERIFY_WITH_TIMEOUT(!m_main->capturing(), 5000);
    QCOMPARE(m_main->readingText().bytes(), "earlier readings\r\n" + QByteArray(40, 'b'));
}

void TestCaptureWindow::printDuringCaptureTakesTextSoFar()
{
    auto printer = std::make_unique<test::FakePrinter>();
    test::FakePrinter &jobs = *printer;
    m_main->setPrinter(std::move(printer));
    m_comm->feed("001   23.16\r\n002   23.22\r\n003   23.40\r\n");
    m_main->mnuprint_Click();
    QVERIFY(m_main->capturing());
    m_comm->feed("004   23.46\r\n005   23.37\r\n006   23.55\r\n");
    QTRY_VERIFY_WITH_TIMEOUT(!m_main->capturing(), 5000);
    QCOMPARE(jobs.jobs().size(), 1);
    QCOMPARE(jobs.jobs().first(),
             (test::FakePrinter::Document{" ID     Reading", " ", "001   23.16", "002   23.22",
                                          "003   23.40", "", "Report Over"}));
    QVERIFY(m_main->readingText().bytes().endsWith("006   23.55\r\n"));
}

// A transmission wins over a long reading file still being read, whether it starts during the
// load or the file is opened in the middle of it: the load stops at once, the main window comes
// back from the task bar for the capture, and once the capture has ended the user is told that
// the file was not loaded.
void TestCaptureWindow::transmissionWinsOverLoad_data()
{
    QTest::addColumn<bool>("openedDuringCapture");
    QTest::newRow("capture starts during the load") << false;
    QTest::newRow("file opened during a capture") << true;
}

void TestCaptureWindow::transmissionWinsOverLoad()
{
    QFETCH(bool, openedDuringCapture);
    const QString path = m_dir->filePath(QStringLiteral("long.dat"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.resize(readingfile::MaxLoadSize));
    const QByteArray transmission = QByteArray("001      23.16\r\n").repeated(40); // 640 bytes
    test::ModalWatcher boxes;
    if (openedDuringCapture)
        m_comm->feed(transmission.left(40));
    m_main->mnuopen_Click();
    m_main->openWindow()->findChild<QLineEdit *>(QStringLiteral("Text1"))->setText(path);
    m_main->showMinimized(); // the capture is not left on the task bar
    m_main->openWindow()->direct();
    if (!openedDuringCapture) {
        QVERIFY(QApplication::overrideCursor());
        m_comm->feed(transmission.left(40));
    }
    QVERIFY(!QApplication::overrideCursor());
    QVERIFY(!m_main->isMinimized());
    m_comm->feed(transmission.mid(40));
    QVERIFY(boxes.boxes().isEmpty()); // not in the middle of the capture
    QTRY_COMPARE_WITH_TIMEOUT(boxes.boxes().size(), 1, 5000);
    QCOMPARE(boxes.boxes()[0].text,
             QStringLiteral("The readings could not be loaded from %1: a transmission from the "
                            "instrument arrived while the file was being read")
                 .arg(path));
    QCOMPARE(m_main->readingText().bytes(), transmission);
}

// While the capture hides the reading area, the keyboard focus is not on Exit (Space would end
// the program); afterwards it is back in the reading area.
void TestCaptureWindow::focusStaysOffExit()
{
    QVERIFY(QTest::qWaitForWindowActive(m_main.get()));
    QCOMPARE(QApplication::focusWidget(), widget("txtreading"));
    m_comm->feed(QByteArray(40, 'a'));
    QVERIFY(QApplication::focusWidget() != widget("Command1"));
    QTRY_VERIFY_WITH_TIMEOUT(!m_main->capturing(), 5000);
    QCOMPARE(QApplication::focusWidget(), widget("txtreading"));
}

QTEST_MAIN(TestCaptureWindow)
#include "tst_capture_window.moc"
