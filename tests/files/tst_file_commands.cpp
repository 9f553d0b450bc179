#include "app/main_window.h"
#include "support/fake_serial_control.h"
#include "widget_actions.h"

#include <QAction>
#include <QDir>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

using namespace tvx;

// File > Open and File > Save of the main window.
class FileCommandsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void saveShowsOneWindowAndBringsTheMainWindowBack();
    void openLoadsIntoTheMainWindowsText();

private:
    void trigger(const char *action)
    {
        m_main->findChild<QAction *>(QLatin1String(action))->trigger();
    }

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_previousDirectory;
    std::unique_ptr<MainWindow> m_main;
};

void FileCommandsTest::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_previousDirectory = QDir::currentPath();
    QVERIFY(QDir::setCurrent(m_dir->path()));
    m_main = std::make_unique<MainWindow>(std::make_unique<test::FakeSerialControl>());
}

void FileCommandsTest::cleanup()
{
    m_main.reset();
    QDir::setCurrent(m_previousDirectory);
    m_dir.reset();
}

void FileCommandsTest::saveShowsOneWindowAndBringsTheMainWindowBack()
{
    m_main->readingText().replace("1 20.5");
    trigger("mnusave");
    SaveWindow *window = m_main->saveWindow();
    QVERIFY(window);
    QVERIFY(window->isVisible());
    QVERIFY(window->isWindow());
    QCOMPARE(window->parentWidget(), m_main.get());
    // Not modal: the main window's menus stay usable.
    QVERIFY(!window->isModal());
    trigger("mnusave");
    QCOMPARE(m_main->saveWindow(), window);

    QVERIFY(m_main->isHidden());
    QTest::mouseClick(window->findChild<QPushButton *>(QStringLiteral("cmdsaveok")),
                      Qt::LeftButton);
    QVERIFY(m_main->isVisible());
    QFile file(m_dir->filePath(QStringLiteral("temp.dat")));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("1 20.5\r\n"));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCOMPARE(m_main->saveWindow(), nullptr);
}

void FileCommandsTest::openLoadsIntoTheMainWindowsText()
{
    QFile file(m_dir->filePath(QStringLiteral("temp.dat")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("7 18.2\r\n\r\n");
    file.close();
    m_main->readingText().replace("old");

    trigger("mnuopen");
    OpenWindow *window = m_main->openWindow();
    QVERIFY(window);
    QVERIFY(window->isVisible());
    QCOMPARE(window->parentWidget(), m_main.get());
    trigger("mnuopen");
    QCOMPARE(m_main->openWindow(), window);

    QTest::mouseClick(window->findChild<QPushButton *>(QStringLiteral("cmdok")), Qt::LeftButton);
    QCOMPARE(m_main->readingText().bytes(), QByteArray("7 18.2\r\n\r\n"));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCOMPARE(m_main->openWindow(), nullptr);
}

QTEST_MAIN(FileCommandsTest)
#include "tst_file_commands.moc"
