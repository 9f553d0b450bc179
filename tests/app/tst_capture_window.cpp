#include "app/main_window.h"
#include "app/reading_view.h"
#include "files/open_window.h"
#include "files/save_window.h"
#include "port/config_file.h"
#include "port/port_link.h"
#include "port/port_selection_window.h"
#include "support/fake_printer.h"
#include "support/fake_serial_control.h"
#include "support/file_bytes.h"
#include "support/modal_watcher.h"

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
    void portReopenedDuringCapture();
    void portLostToSelectionDuringCapture();
    void saveDuringCaptureTakesTextSoFar();
    void openDuringCaptureKeepsCapturing();
    void printDuringCaptureTakesTextSoFar();

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

void TestCaptureWindow::portReopenedDuringCapture()
{
    m_comm->feed(QByteArray(40, 'a'));
    QVERIFY(m_main->capturing());
    // The port selection window works in the middle of a capture; its Ok reopens the port.
    m_main->mnuport_Click();
    m_main->portSelectionWindow()->cmdok_Click();
    QVERIFY(m_comm->portOpen());
    QVERIFY(m_main->capturing());
    m_comm->feed(QByteArray(40, 'b')); // the threshold is 1 again: no second capture starts
    QTRY_VERIFY_WITH_TIMEOUT(!m_main->capturing(), 5000);
    QCOMPARE(m_main->readingText().bytes(), QByteArray(40, 'a') + QByteArray(40, 'b'));
}

void TestCaptureWindow::portLostToSelectionDuringCapture()
{
    m_comm->feed(QByteArray(40, 'a'));
    m_comm->setUnavailable(QStringLiteral("/dev/ttyS2"));
    m_main->mnuport_Click();
    m_main->portSelectionWindow()->findChild<QRadioButton *>(QStringLiteral("Option3"))->click();
    test::ModalWatcher boxes;
    m_main->portSelectionWindow()->cmdok_Click(); // COM3 fails: no port any more
    QCOMPARE(boxes.boxes().size(), 1);
    QTRY_VERIFY_WITH_TIMEOUT(!m_main->capturing(), 1000); // the next poll fails
    QCOMPARE(m_main->readingText().bytes(), QByteArray(40, 'a'));
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

QTEST_MAIN(TestCaptureWindow)
#include "tst_capture_window.moc"
