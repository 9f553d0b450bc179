#include "app/main_window.h"
#include "files/reading_file_load.h"
#include "platform/files/file_mapping.h"
#include "platform/serial/serial_port.h"
#include "platform/windows.h"
#include "port/config_file.h"
#include "port/port_link.h"
#include "port/port_selection_window.h"
#include "reading/reading_view.h"
#include "support/fake_serial_control.h"
#include "support/file_bytes.h"
#include "support/modal_watcher.h"
#include "support/pseudo_terminal.h"
#include "support/standard_error.h"
#include "support/twips.h"

#include <QAccessible>
#include <QAction>
#include <QDir>
#include <QFile>
#include <QFontDatabase>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>

using namespace tvx;

namespace {
const QString LostText = QStringLiteral(
    "Port configuratin file is lost so select apropriate serial port which is necessary ");
}

class TestMainWindow : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { installFontStandIns(); }
    void windowsFontIsItsStandIn();
    void init();
    void cleanup();

    void startupOpensConfiguredPort();
    void startupEnumeratesOnlyWhenNeeded_data();
    void startupEnumeratesOnlyWhenNeeded();
    void startupOnRealPort();
    void startupOnHeldRealPortFails();
    void startupFailure_data();
    void startupFailure();
    void okAfterFailureShowsMain();
    void cancelAfterFailureShowsMainWithoutWriting();
    void cancelAfterFailureWithUnusablePort();
    void frameCloseAfterFailureShowsMain();

    void menus_data();
    void menus();
    void menuBarOrder();
    void controls_data();
    void controls();
    void popupOnSurfaceOnly_data();
    void popupOnSurfaceOnly();
    void portWindowOnce();
    void frameFitsLayout_data();
    void frameFitsLayout();
    void windowFrames_data();
    void windowFrames();
    void windowKeysAndStates_data();
    void windowKeysAndStates();
    void shownAgainFromTaskBar();
    void fileOpenedFromOutside_data();
    void fileOpenedFromOutside();
    void namesForScreenReaders_data();
    void namesForScreenReaders();
    void fileCutShortWhileShown();

private:
    MainWindow *makeMain(const QByteArray *config);

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<MainWindow> m_main;
    test::FakeSerialControl *m_comm = nullptr;
};

void TestMainWindow::init()
{
    for (int n = 1; n <= 9; ++n)
        qunsetenv(QByteArray("TARVIX_COM" + QByteArray::number(n)).constData());
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(QDir::setCurrent(m_dir->path()));
}

void TestMainWindow::cleanup()
{
    m_main.reset();
    QDir::setCurrent(QDir::tempPath());
}

MainWindow *TestMainWindow::makeMain(const QByteArray *config)
{
    if (config) {
        QFile file(configfile::fileName());
        if (file.open(QIODevice::WriteOnly))
            file.write(*config);
    }
    auto comm = std::make_unique<test::FakeSerialControl>();
    m_comm = comm.get();
    m_main = std::make_unique<MainWindow>(std::move(comm));
    return m_main.get();
}

void TestMainWindow::startupOpensConfiguredPort()
{
    const QByteArray config("2\r\n\r\n");
    makeMain(&config);
    test::ModalWatcher boxes;
    m_main->start();
    QVERIFY(boxes.boxes().isEmpty());
    QVERIFY(m_main->isVisible());
    QCOMPARE(m_main->windowTitle(), QStringLiteral("Tarvix Conectivity"));
    QVERIFY(m_comm->portOpen());
    QCOMPARE(m_comm->openedDevice(), QStringLiteral("/dev/ttyS1"));
    QCOMPARE(m_comm->openedSettings(), LineSettings());
    QCOMPARE(m_comm->rThreshold(), qint16(1));
    QCOMPARE(m_main->portLink().portNumber(), qint16(2));
    QVERIFY(!m_main->portSelectionWindow());
}

// Enumerating the ports walks through every terminal of the machine: a start-up whose COM1 is
// given by TARVIX_COM1 opens it without.
void TestMainWindow::startupEnumeratesOnlyWhenNeeded_data()
{
    QTest::addColumn<QByteArray>("mapped"); // TARVIX_COM1
    QTest::addColumn<QString>("device");
    QTest::addColumn<int>("scans");
    QTest::newRow("COM1 mapped") << QByteArray("/dev/ttyUSB7") << "/dev/ttyUSB7" << 0;
    QTest::newRow("COM1 the first present port") << QByteArray() << "/dev/ttyS0" << 1;
}

void TestMainWindow::startupEnumeratesOnlyWhenNeeded()
{
    QFETCH(QByteArray, mapped);
    QFETCH(QString, device);
    QFETCH(int, scans);
    if (!mapped.isEmpty())
        qputenv("TARVIX_COM1", mapped);
    const QByteArray config("1\r\n\r\n");
    makeMain(&config);
    m_main->start();
    QCOMPARE(m_comm->openedDevice(), device);
    QCOMPARE(m_comm->scans(), scans);
}

void TestMainWindow::startupOnRealPort()
{
    test::PseudoTerminal pty;
    QVERIFY(pty.isValid());
    qputenv("TARVIX_COM3", pty.slavePath().toLocal8Bit());
    QVERIFY(configfile::write(3));
    MainWindow window(std::make_unique<SystemSerialControl>());
    window.start();
    QVERIFY(window.isVisible());
    QVERIFY(window.comm().portOpen());
    QCOMPARE(window.comm().deviceName(), pty.slavePath());
    QCOMPARE(pty.lineSettings(), QStringLiteral("1200,N,8,1"));
    QCOMPARE(window.comm().rThreshold(), qint16(1));
}

void TestMainWindow::startupOnHeldRealPortFails()
{
    test::PseudoTerminal pty;
    qputenv("TARVIX_COM3", pty.slavePath().toLocal8Bit());
    QVERIFY(configfile::write(3));
    SystemSerialControl holder; // another part of the program holds the port
    QVERIFY(holder.setCommPort(3));
    QVERIFY(holder.setPortOpen(true));
    MainWindow window(std::make_unique<SystemSerialControl>());
    test::ModalWatcher boxes;
    window.start();
    QCOMPARE(boxes.boxes().size(), 1);
    QCOMPARE(boxes.boxes().first().text, LostText);
    QVERIFY(!window.isVisible());
    QVERIFY(!window.comm().portOpen());
}

void TestMainWindow::startupFailure_data()
{
    QTest::addColumn<bool>("hasFile");
    QTest::addColumn<QByteArray>("config");
    QTest::addColumn<int>("busyPort");
    QTest::addColumn<QString>("said"); // on standard error; {cwd}: the working folder
    const auto unusable = [](const char *why) {
        return QStringLiteral("tvx.cfg: no usable port number: ") + QLatin1String(why);
    };
    QTest::newRow("no tvx.cfg") << false << QByteArray() << 0
                                << QStringLiteral("tvx.cfg: no such file in {cwd}");
    QTest::newRow("empty") << true << QByteArray() << 0 << unusable("the file is empty");
    QTest::newRow("letters") << true << QByteArray("abc\r\n") << 0
                             << unusable("\"abc\" is not a port number");
    QTest::newRow("out of range") << true << QByteArray("99999\r\n") << 0
                                  << unusable("\"99999\" is not a port number");
    const auto noPort = [](const char *com) {
        return QLatin1String(com) +
               QStringLiteral(": no serial port stands behind this number (tarvix --ports lists "
                              "the ports)");
    };
    QTest::newRow("zero names no port") << true << QByteArray("0\r\n\r\n") << 0 << noPort("COM0");
    QTest::newRow("negative") << true << QByteArray("-2\r\n\r\n") << 0 << noPort("COM-2");
    QTest::newRow("port held by another program")
        << true << QByteArray("3\r\n\r\n") << 3
        << QStringLiteral("COM3 (/dev/ttyS2): Device or resource busy");
}

void TestMainWindow::startupFailure()
{
    QFETCH(bool, hasFile);
    QFETCH(QByteArray, config);
    QFETCH(int, busyPort);
    makeMain(hasFile ? &config : nullptr);
    // COM0 and below name no device on this system.
    m_comm->setUnavailable(QStringLiteral("/dev/ttyS-1"));
    m_comm->setUnavailable(QStringLiteral("/dev/ttyS-3"));
    if (busyPort)
        m_comm->setUnavailable(QStringLiteral("/dev/ttyS%1").arg(busyPort - 1));

    test::ModalWatcher boxes;
    QStringList lines;
    {
        test::StandardError standardError;
        m_main->start();
        lines = standardError.lines();
    }
    // The box says the same whatever the cause; standard error tells which.
    QFETCH(QString, said);
    QCOMPARE(lines, QStringList(said.replace(QStringLiteral("{cwd}"), QDir::currentPath())));
    QCOMPARE(boxes.boxes().size(), 1);
    const auto box = boxes.boxes().first();
    QCOMPARE(box.text, LostText);
    QCOMPARE(box.title, QStringLiteral("File Error"));
    QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QCOMPARE(box.icon, QMessageBox::NoIcon);

    QCOMPARE(m_main->portLink().portNumber(), qint16(1));
    QVERIFY(!m_main->isVisible());
    QVERIFY(!m_comm->portOpen());
    PortSelectionWindow *window = m_main->portSelectionWindow();
    QVERIFY(window);
    QVERIFY(window->isVisible());
    QVERIFY(!window->isModal());
    QVERIFY(window->findChild<QRadioButton *>(QStringLiteral("Option1"))->isChecked());
    QCOMPARE(QFile::exists(configfile::fileName()), hasFile); // nothing written yet
}

void TestMainWindow::okAfterFailureShowsMain()
{
    makeMain(nullptr);
    test::ModalWatcher boxes;
    m_main->start();
    m_main->portSelectionWindow()->cmdok_Click();
    QCOMPARE(boxes.boxes().size(), 1); // only the start-up message
    QVERIFY(m_main->isVisible());
    QVERIFY(m_comm->portOpen());
    QCOMPARE(m_comm->openedDevice(), QStringLiteral("/dev/ttyS0"));
    QCOMPARE(test::fileContent(configfile::fileName()), QByteArray("1\r\n\r\n"));
}

void TestMainWindow::cancelAfterFailureShowsMainWithoutWriting()
{
    makeMain(nullptr);
    test::ModalWatcher boxes;
    m_main->start();
    m_main->portSelectionWindow()->cmdcancel_Click();
    QVERIFY(m_main->isVisible());
    QVERIFY(m_comm->portOpen());
    QVERIFY(!QFile::exists(configfile::fileName())); // so the next start asks again
}

void TestMainWindow::cancelAfterFailureWithUnusablePort()
{
    makeMain(nullptr);
    m_comm->setUnavailable(QStringLiteral("/dev/ttyS0"));
    test::ModalWatcher boxes;
    m_main->start();
    m_main->portSelectionWindow()->cmdcancel_Click();
    QTest::qWait(20);
    QCOMPARE(boxes.boxes().size(), 1);
    QVERIFY(!m_main->isVisible());
    QVERIFY(m_main->portSelectionWindow()->isVisible());
}

void TestMainWindow::frameCloseAfterFailureShowsMain()
{
    makeMain(nullptr);
    test::ModalWatcher boxes;
    m_main->start();
    QVERIFY(m_main->portSelectionWindow()->close());
    // The program never runs on with no window at all.
    QVERIFY(m_main->isVisible());
    QVERIFY(!m_comm->portOpen());
    QVERIFY(!QFile::exists(configfile::fileName()));
}

void TestMainWindow::menus_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("menu");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QKeySequence>("shortcut");
    QTest::newRow("open") << "mnuopen"
                          << "mnufile"
                          << "&Open           " << QKeySequence(Qt::CTRL | Qt::Key_O);
    QTest::newRow("save") << "mnusave"
                          << "mnufile"
                          << "&Save" << QKeySequence(Qt::CTRL | Qt::Key_S);
    QTest::newRow("setup") << "mnusetup"
                           << "mnufile"
                           << "Print  Set&up" << QKeySequence(Qt::CTRL | Qt::Key_U);
    QTest::newRow("print") << "mnuprint"
                           << "mnufile"
                           << "&Print" << QKeySequence(Qt::CTRL | Qt::Key_P);
    QTest::newRow("exit") << "mnuexit"
                          << "mnufile"
                          << "E&xit" << QKeySequence(Qt::CTRL | Qt::Key_X);
    QTest::newRow("port") << "mnuport"
                          << "mnuoption"
                          << "Serial Port Selection" << QKeySequence();
    QTest::newRow("about") << "mnuabout"
                           << "mnuhlp"
                           << "&About" << QKeySequence();
    QTest::newRow("help") << "mnuhelp"
                          << "mnuhlp"
                          << "&Help" << QKeySequence(Qt::Key_F1);
}

void TestMainWindow::menus()
{
    QFETCH(QString, name);
    QFETCH(QString, menu);
    QFETCH(QString, caption);
    QFETCH(QKeySequence, shortcut);
    makeMain(nullptr);
    auto *action = m_main->findChild<QAction *>(name);
    QVERIFY(action);
    QCOMPARE(action->text(), caption);
    QCOMPARE(action->shortcut(), shortcut);
    QVERIFY(action->isEnabled() && action->isVisible() && !action->isCheckable());
    auto *owner = m_main->findChild<QMenu *>(menu);
    QVERIFY(owner && owner->actions().contains(action));
}

void TestMainWindow::menuBarOrder()
{
    makeMain(nullptr);
    QStringList titles;
    for (QAction *action : m_main->menuBar()->actions())
        titles << action->text();
    QCOMPARE(titles, (QStringList{QStringLiteral("&File     "), QStringLiteral("&Option     "),
                                  QStringLiteral("&Help     ")}));
    QStringList file;
    for (QAction *action : m_main->findChild<QMenu *>(QStringLiteral("mnufile"))->actions())
        file << action->objectName();
    QCOMPARE(file, (QStringList{QStringLiteral("mnuopen"), QStringLiteral("mnusave"),
                                QStringLiteral("mnusetup"), QStringLiteral("mnuprint"),
                                QStringLiteral("mnuexit")}));
}

void TestMainWindow::controls_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("twips");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<bool>("visible");
    QTest::newRow("reading area") << "txtreading" << QRect(1080, 600, 1695, 5655) << "" << true;
    QTest::newRow("ID") << "Label1" << QRect(1200, 360, 495, 255) << "ID" << true;
    QTest::newRow("Reading") << "Label2" << QRect(1800, 360, 735, 255) << "Reading" << true;
    QTest::newRow("Exit") << "Command1" << QRect(4320, 4560, 975, 375) << "Exit" << true;
    QTest::newRow("notice") << "cmdcap" << QRect(600, 2760, 2415, 855)
                            << "  DATA CAPTURING           WAIT" << false;
}

void TestMainWindow::controls()
{
    QFETCH(QString, name);
    QFETCH(QRect, twips);
    QFETCH(QString, caption);
    QFETCH(bool, visible);
    const QByteArray config("1");
    makeMain(&config);
    m_main->start();
    QCOMPARE(test::twipsSize(m_main->centralWidget()), QSize(6885, 6360));
    auto *widget = m_main->findChild<QWidget *>(name);
    QVERIFY(widget);
    QCOMPARE(test::twips(widget), twips);
    QCOMPARE(widget->isVisible(), visible);
    if (auto *label = qobject_cast<QLabel *>(widget))
        QCOMPARE(label->text(), caption);
    if (auto *button = qobject_cast<QPushButton *>(widget))
        QCOMPARE(button->text(), caption);
    if (auto *text = qobject_cast<ReadingView *>(widget)) {
        QVERIFY(text->bytes().isEmpty());
        QCOMPARE(text->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
        QCOMPARE(text->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
        QCOMPARE(text->frameShape(), QFrame::StyledPanel);
        QCOMPARE(text->focusPolicy(), Qt::StrongFocus);
    }
    if (name == QLatin1String("cmdcap")) {
        QVERIFY(QFontInfo(widget->font()).fixedPitch());
        QCOMPARE(widget->font().pointSize(), 9);
    }
}

// Where MS Sans Serif is missing, the windows' font is named by the stand-in that was drawn in
// its place anyway: the same font, 8 pt, without the toolkit's search for the nearest fonts.
void TestMainWindow::windowsFontIsItsStandIn()
{
    const QFont font = QApplication::font();
    QCOMPARE(font.pointSize(), 8);
    QVERIFY2(QFontDatabase::hasFamily(font.family()), qPrintable(font.family()));
    QCOMPARE(QFontInfo(font).family(),
             QFontInfo(QFont(QStringLiteral("MS Sans Serif"), 8)).family());
}

void TestMainWindow::popupOnSurfaceOnly_data()
{
    QTest::addColumn<QString>("target"); // empty: the window's own surface
    QTest::addColumn<int>("button");
    QTest::addColumn<bool>("popup");
    QTest::newRow("right on surface") << "" << int(Qt::RightButton) << true;
    QTest::newRow("left on surface") << "" << int(Qt::LeftButton) << false;
    QTest::newRow("middle on surface") << "" << int(Qt::MiddleButton) << false;
    QTest::newRow("right on reading area") << "txtreading" << int(Qt::RightButton) << false;
    QTest::newRow("right on Exit") << "Command1" << int(Qt::RightButton) << false;
    QTest::newRow("right on heading") << "Label2" << int(Qt::RightButton) << false;
}

void TestMainWindow::popupOnSurfaceOnly()
{
    QFETCH(QString, target);
    QFETCH(int, button);
    QFETCH(bool, popup);
    const QByteArray config("1");
    makeMain(&config);
    m_main->start();
    QVERIFY(QTest::qWaitForWindowExposed(m_main.get()));
    QWidget *widget =
        target.isEmpty() ? m_main->centralWidget() : m_main->findChild<QWidget *>(target);
    const QPoint at = target.isEmpty() ? QPoint(400, 380) : QPoint(5, 5);
    QTest::mousePress(widget, Qt::MouseButton(button), {}, at);
    auto *file = m_main->findChild<QMenu *>(QStringLiteral("mnufile"));
    if (popup) {
        QTRY_VERIFY(file->isVisible());
        QCOMPARE(file->pos(), widget->mapToGlobal(at));
        file->close();
    } else {
        QTest::qWait(20);
        QVERIFY(!file->isVisible());
    }
}

void TestMainWindow::portWindowOnce()
{
    const QByteArray config("1");
    makeMain(&config);
    m_main->start();
    m_main->mnuport_Click();
    PortSelectionWindow *first = m_main->portSelectionWindow();
    QVERIFY(first && first->isVisible());
    m_main->mnuport_Click();
    QCOMPARE(m_main->portSelectionWindow(), first);
    QCOMPARE(m_main->findChildren<PortSelectionWindow *>().size(), 1);
    first->close();
    m_main->mnuport_Click();
    QVERIFY(m_main->portSelectionWindow() != first); // made afresh
    QVERIFY(m_main->portSelectionWindow()->isVisible());
}

// The window is as wide as its layout and at least as tall; a taller window gives the reading
// area alone more lines.
void TestMainWindow::frameFitsLayout_data()
{
    QTest::addColumn<QSize>("change"); // pixels asked for beyond the first size
    QTest::addColumn<int>("growth");   // pixels the window and the reading area grow
    QTest::newRow("taller") << QSize(0, 200) << 200;
    QTest::newRow("one pixel taller") << QSize(0, 1) << 1;
    QTest::newRow("wider") << QSize(1, 0) << 0;
    QTest::newRow("narrower") << QSize(-1, 0) << 0;
    QTest::newRow("shorter") << QSize(0, -1) << 0;
}

void TestMainWindow::frameFitsLayout()
{
    QFETCH(QSize, change);
    QFETCH(int, growth);
    const QByteArray config("1");
    makeMain(&config);
    m_main->start();
    const QSize first = m_main->size();
    m_main->resize(first + change);
    QCOMPARE(m_main->size(), first + QSize(0, growth));
    QCOMPARE(test::twips(m_main->findChild<QWidget *>(QStringLiteral("txtreading"))),
             QRect(1080, 600, 1695, 5655 + growth * 15));
}

// No window shows a maximise button: none can fill the screen. Only the main window can grow,
// in height.
void TestMainWindow::windowFrames_data()
{
    QTest::addColumn<QString>("window"); // empty: the main window
    QTest::newRow("main") << "";
    for (const char *name : {"frmoption", "frmopen", "frmsave", "frmhelp", "frmabout"})
        QTest::newRow(name) << name;
}

void TestMainWindow::windowFrames()
{
    QFETCH(QString, window);
    const QByteArray config("1");
    makeMain(&config);
    m_main->start();
    for (auto show :
         {&MainWindow::mnuport_Click, &MainWindow::mnuopen_Click, &MainWindow::mnusave_Click,
          &MainWindow::mnuhelp_Click, &MainWindow::mnuabout_Click})
        (m_main.get()->*show)();
    QWidget *widget = window.isEmpty() ? m_main.get() : m_main->findChild<QWidget *>(window);
    const bool fixed = !window.isEmpty();
    const Qt::WindowFlags buttons = Qt::WindowTitleHint | Qt::WindowMinimizeButtonHint |
                                    Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint;
    QCOMPARE(widget->windowFlags() & buttons, buttons & ~Qt::WindowMaximizeButtonHint);
    QCOMPARE(widget->minimumHeight() == widget->maximumHeight(), fixed);
    QCOMPARE(widget->minimumWidth(), widget->maximumWidth());
}

// Escape closes the windows that have nothing to cancel, as their close box does; the port
// window's buttons are neither default nor cancel, so there it does nothing, and the main window
// ends only through Exit. No window manager makes a window fill the screen: a maximised or full
// screen state is undone, and the layout keeps its size.
void TestMainWindow::windowKeysAndStates_data()
{
    QTest::addColumn<QString>("window"); // empty: the main window
    QTest::addColumn<bool>("escapeCloses");
    QTest::newRow("main") << "" << false;
    QTest::newRow("frmoption") << "frmoption" << false;
    for (const char *name : {"frmopen", "frmsave", "frmhelp", "frmabout"})
        QTest::newRow(name) << name << true;
}

void TestMainWindow::windowKeysAndStates()
{
    QFETCH(QString, window);
    QFETCH(bool, escapeCloses);
    const QByteArray config("1");
    makeMain(&config);
    m_main->start();
    m_main->readingText().replace("kept");
    for (auto show :
         {&MainWindow::mnuport_Click, &MainWindow::mnuopen_Click, &MainWindow::mnusave_Click,
          &MainWindow::mnuhelp_Click, &MainWindow::mnuabout_Click})
        (m_main.get()->*show)();
    QWidget *widget = window.isEmpty() ? m_main.get() : m_main->findChild<QWidget *>(window);
    widget->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(widget));
    const QSize size = widget->size();
    for (const Qt::WindowState refused : {Qt::WindowMaximized, Qt::WindowFullScreen}) {
        widget->setWindowState(refused);
        QTRY_COMPARE(widget->windowState(), Qt::WindowNoState);
        QTRY_COMPARE(widget->size(), size);
    }
    // A window manager that gives a size all the same gets the window back at its own.
    widget->resize(size + QSize(100, 0));
    QTRY_COMPARE(widget->size(), size);

    QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : widget,
                    Qt::Key_Escape);
    QTRY_COMPARE(widget->isVisible(), !escapeCloses);
    QVERIFY(m_main->isVisible());
    QCOMPARE(m_main->readingText().bytes(), QByteArray("kept"));
}

// After Save's, File Open's or the port window's Ok, a main window minimised to the task bar
// comes back with the keyboard focus.
void TestMainWindow::shownAgainFromTaskBar()
{
    const QByteArray config("1");
    makeMain(&config);
    m_main->start();
    m_main->mnuhelp_Click();
    QVERIFY(QTest::qWaitForWindowActive(m_main->findChild<QWidget *>(QStringLiteral("frmhelp"))));
    m_main->showMinimized();
    m_main->showMain();
    QVERIFY(!m_main->isMinimized());
    QTRY_VERIFY(m_main->isActiveWindow());
    m_main->showMinimized();
    QVERIFY(test::writeFile(QStringLiteral("temp.dat"), "001  1.5\r\n"));
    m_main->mnuopen_Click();
    m_main->openWindow()->cmdok_Click();
    QVERIFY(!m_main->isMinimized());
}

// A file named on the command line or dropped on the window is loaded as the open window loads
// it, and a failure is told in the open window's words.
void TestMainWindow::fileOpenedFromOutside_data()
{
    QTest::addColumn<bool>("dropped");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("failure"); // empty: loaded
    QTest::newRow("named") << false << "r.dat"
                           << "";
    QTest::newRow("dropped") << true << "r.dat"
                             << "";
    QTest::newRow("named, missing") << false << "gone.dat"
                                    << "No such file or directory";
    QTest::newRow("dropped, a folder") << true << ""
                                       << "it is a folder, not a file";
}

void TestMainWindow::fileOpenedFromOutside()
{
    QFETCH(bool, dropped);
    QFETCH(QString, name);
    QFETCH(QString, failure);
    const QByteArray content = "001  1.5\r\n002  \xb5g\r";
    QVERIFY(test::writeFile(m_dir->filePath(QStringLiteral("r.dat")), content));
    const QByteArray config("1");
    makeMain(&config);
    m_main->start();
    m_main->readingText().replace("before");
    const QString path = m_dir->filePath(name);
    test::ModalWatcher boxes;
    if (dropped) {
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(path)});
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, {});
        QCoreApplication::sendEvent(m_main.get(), &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, {});
        QCoreApplication::sendEvent(m_main.get(), &drop);
        QTRY_VERIFY(m_main->readingText().bytes() != "before" || !boxes.boxes().isEmpty());
    } else {
        m_main->openReadingFile(path);
    }
    if (failure.isEmpty()) {
        QCOMPARE(m_main->readingText().bytes(), content);
        QVERIFY(boxes.boxes().isEmpty());
    } else {
        QCOMPARE(m_main->readingText().bytes(), QByteArray("before"));
        QCOMPARE(boxes.boxes().size(), 1);
        QCOMPARE(boxes.boxes()[0].title, QStringLiteral("Tarvix"));
        QCOMPARE(boxes.boxes()[0].text,
                 QStringLiteral("The readings could not be loaded from %1: %2")
                     .arg(QDir::toNativeSeparators(path), failure));
    }
}

void TestMainWindow::namesForScreenReaders_data()
{
    QTest::addColumn<QString>("window");  // empty: the main window
    QTest::addColumn<QString>("control"); // empty: the window itself
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("text");
    const int name = QAccessible::Name;
    QTest::newRow("reading area") << ""
                                  << "txtreading" << name << "Readings";
    QTest::newRow("help text") << "frmhelp"
                               << "txthlp" << name << "Help";
    QTest::newRow("File Save's name box") << "frmsave"
                                          << "txtfilename" << name << "File Name";
    QTest::newRow("File Save's path") << "frmsave"
                                      << "Text1" << name << "File Path";
    for (const char *window : {"frmsave", "frmopen"}) {
        QTest::addRow("%s's drives", window) << window << "Drive1" << name << "Drive";
        QTest::addRow("%s's folders", window) << window << "Dir1" << name << "Folders";
    }
    QTest::newRow("File Open's files") << "frmopen"
                                       << "File1" << name << "Files";
    QTest::newRow("File Open's pattern") << "frmopen"
                                         << "cmbext" << name << "File Pattern";
    QTest::newRow("File Open's path") << "frmopen"
                                      << "Text1" << name << "File Path";
    // Said when the window opens.
    QTest::newRow("About's text")
        << "frmabout"
        << "" << int(QAccessible::Description)
        << "Tarvix Conectivity has been developed by Quorvane. Version 1.0";
}

// Every control a keyboard user reaches has a name a screen reader says, though the window shows
// none beside it (or shows it in a label of its own).
void TestMainWindow::namesForScreenReaders()
{
    QFETCH(QString, window);
    QFETCH(QString, control);
    QFETCH(int, kind);
    QFETCH(QString, text);
    const QByteArray config("1");
    makeMain(&config);
    m_main->start();
    for (auto show : {&MainWindow::mnuopen_Click, &MainWindow::mnusave_Click,
                      &MainWindow::mnuhelp_Click, &MainWindow::mnuabout_Click})
        (m_main.get()->*show)();
    QWidget *top = window.isEmpty() ? m_main.get() : m_main->findChild<QWidget *>(window);
    QWidget *widget = control.isEmpty() ? top : top->findChild<QWidget *>(control);
    QVERIFY(widget);
    QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(widget);
    // A screen reader says the labels the control is labelled by, else its name (the toolkit
    // names a combo box on Linux by its value, and by its label through that relation).
    QStringList said;
    for (const auto &[label, relation] : accessible->relations(QAccessible::Label))
        said << label->text(QAccessible::Name);
    if (said.isEmpty() || kind != QAccessible::Name)
        said = QStringList{accessible->text(QAccessible::Text(kind))};
    QCOMPARE(said.join(QLatin1Char(' ')), text);
}

// A long file is shown straight from the file. Another program cutting it short takes what it
// held away: the text goes, and the user reads why, as for any file that could not be loaded.
void TestMainWindow::fileCutShortWhileShown()
{
    const QString path = m_dir->filePath(QStringLiteral("long.dat"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.resize(ReadingFileLoad::MapSize) &&
            file.seek(ReadingFileLoad::MapSize - 5) && file.write("end\r\n") == 5);
    file.close();
    const QByteArray config("1");
    makeMain(&config);
    m_main->start();
    test::ModalWatcher boxes;
    m_main->openReadingFile(path);
    QTRY_COMPARE_WITH_TIMEOUT(m_main->readingText().bytes().size(), ReadingFileLoad::MapSize,
                              20000);
    QVERIFY(FileMapping::isMapped(m_main->readingText().bytes()));
    QVERIFY(QFile::resize(path, 100));
    // The end shown again, as scrolling there would.
    QCOMPARE(m_main->readingText().bytes().back(), '\0');
    QTRY_COMPARE(boxes.boxes().size(), 1);
    QCOMPARE(boxes.boxes()[0].text,
             QStringLiteral("The readings could not be loaded from %1: another program made the "
                            "file shorter while it was shown")
                 .arg(path));
    QCOMPARE(m_main->readingText().bytes(), QByteArray());
}

QTEST_MAIN(TestMainWindow)
#include "tst_main_window.moc"
