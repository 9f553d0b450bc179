#include "app/main_window.h"
#include "files/reading_file.h"
#include "journal/capture_journal.h"
#include "journal/journal_folder.h"
#include "port/config_file.h"
#include "support/fake_serial_control.h"
#include "support/file_bytes.h"

#include <QAction>
#include <QDir>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace tvx;

// Each way out ends the program's event loop at once, without a question; what arrived stays in
// the capture journal. Every case runs the real event loop and leaves it the way a user would.
class TestExit : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void exitEndsEventLoop_data();
    void exitEndsEventLoop();
};

void TestExit::exitEndsEventLoop_data()
{
    QTest::addColumn<QString>("way");
    QTest::newRow("Exit button") << "button";
    QTest::newRow("Return on the Exit button") << "return";
    QTest::newRow("File > Exit") << "menu";
    QTest::newRow("Ctrl+X") << "shortcut";
    QTest::newRow("Ctrl+X over the reading area") << "shortcut-reading";
    QTest::newRow("window frame") << "frame";
    QTest::newRow("Exit button during a capture") << "capture";
    QTest::newRow("Exit button after a capture") << "after";
}

void TestExit::exitEndsEventLoop()
{
    QFETCH(QString, way);
    QTemporaryDir dir;
    QVERIFY(QDir::setCurrent(dir.path()));
    QVERIFY(configfile::write(1));
    // The journal's folder under the test's own: where the system keeps a program's state.
    const QString state = dir.filePath(QStringLiteral("state"));
    qputenv("XDG_STATE_HOME", QFile::encodeName(state));
    qputenv("LOCALAPPDATA", QFile::encodeName(QDir::toNativeSeparators(state)));
    const QByteArray transmission = "001   23.16\r\n";
    QString journalFile;
    {
        auto comm = std::make_unique<test::FakeSerialControl>();
        test::FakeSerialControl &line = *comm;
        MainWindow window(std::move(comm));
        window.start();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        window.activateWindow();

        auto *exit = window.findChild<QPushButton *>(QStringLiteral("Command1"));
        QTimer::singleShot(0, &window, [&] {
            if (way == QLatin1String("button")) {
                QTest::mouseClick(exit, Qt::LeftButton);
            } else if (way == QLatin1String("return")) {
                exit->setFocus();
                QTest::keyClick(exit, Qt::Key_Return);
            } else if (way == QLatin1String("menu")) {
                window.findChild<QAction *>(QStringLiteral("mnuexit"))->trigger();
            } else if (way == QLatin1String("shortcut")) {
                QTest::keyClick(&window, Qt::Key_X, Qt::ControlModifier);
            } else if (way == QLatin1String("shortcut-reading")) {
                QTest::keyClick(window.findChild<QWidget *>(QStringLiteral("txtreading")),
                                Qt::Key_X, Qt::ControlModifier);
            } else if (way == QLatin1String("frame")) {
                window.close();
            }
        });
        if (way == QLatin1String("capture") || way == QLatin1String("after")) {
            line.feed(transmission);
            QVERIFY(window.capturing());
            journalFile = window.journal().readingTextFile();
            if (way == QLatin1String("after"))
                QTRY_VERIFY_WITH_TIMEOUT(!window.capturing(), 10000);
            QTimer::singleShot(300, &window, [&] { exit->click(); });
        }
        // A way that fails to end the loop is caught by this timer instead.
        bool timedOut = false;
        QTimer::singleShot(5000, &window, [&] {
            timedOut = true;
            QCoreApplication::exit(1);
        });
        QCOMPARE(QCoreApplication::exec(), 0);
        QVERIFY(!timedOut);
        // Named by the journal's own thread once the capture began.
        journalFile = window.journal().readingTextFile();
        // Ended in the middle: the capture never came to its end, so no beep sounded.
        QCOMPARE(window.capturing(), way == QLatin1String("capture"));
    }
    // Ended in the middle or not, the capture is a reading file in the journal.
    const QStringList journal =
        QDir(journalFolder()).entryList({QStringLiteral("readings-*.dat")}, QDir::Files);
    if (journalFile.isEmpty()) {
        QCOMPARE(journal, QStringList());
        return;
    }
    QCOMPARE(journal, QStringList{QFileInfo(journalFile).fileName()});
    QCOMPARE(test::fileContent(journalFile), readingfile::format(transmission));
}

QTEST_MAIN(TestExit)
#include "tst_exit.moc"
