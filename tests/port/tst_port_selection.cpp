#include "app/main_window.h"
#include "port/config_file.h"
#include "port/port_link.h"
#include "port/port_selection_window.h"
#include "support/fake_serial_control.h"
#include "support/file_bytes.h"
#include "support/modal_watcher.h"
#include "support/pseudo_terminal.h"
#include "support/system_fixtures.h"
#include "support/twips.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QHelpEvent>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>

using namespace tvx;

namespace {
const QString BusyText =
    QStringLiteral("Selected Port is used by another device or it might be not available ");

QString com(int n)
{
    return QStringLiteral("/dev/ttyS%1").arg(n - 1);
}

QByteArray cfgBytes()
{
    return test::fileContent(configfile::fileName());
}
} // namespace

class TestPortSelection : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void layout();
    void loadMarksPortNumber_data();
    void loadMarksPortNumber();
    void optionClickSetsPortNumberOnly();
    void cancelRestoresSavedPort();
    void okStoresAndOpens();
    void okOnBusyPort();
    void cancelAfterFailedOk();
    void okOnOpenPort_data();
    void okOnOpenPort();
    void cancelFailsSilently();
    void secondShowKeepsSavedNumber();
    void unwritableConfigIsReportedAndPortStillOpens();
    void optionHintsNameTheDevices();
    void hintAfterPermissionDenied();
    void returnPressesTheFocusedButton_data();
    void returnPressesTheFocusedButton();
    void optionsAreOneGroup_data();
    void optionsAreOneGroup();

private:
    PortSelectionWindow *openWindow();
    QRadioButton *option(int n) const;

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<MainWindow> m_main;
    test::FakeSerialControl *m_comm = nullptr;
    PortSelectionWindow *m_window = nullptr;
};

void TestPortSelection::init()
{
    for (int n = 1; n <= 9; ++n)
        qunsetenv(QByteArray("TARVIX_COM" + QByteArray::number(n)).constData());
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(QDir::setCurrent(m_dir->path()));
    QVERIFY(configfile::write(2));
    auto comm = std::make_unique<test::FakeSerialControl>();
    m_comm = comm.get();
    m_main = std::make_unique<MainWindow>(std::move(comm));
    m_main->start();
    QVERIFY(m_main->isVisible());
    QCOMPARE(m_comm->openedDevice(), com(2));
}

void TestPortSelection::cleanup()
{
    m_main.reset();
    QDir::setCurrent(QDir::tempPath());
}

PortSelectionWindow *TestPortSelection::openWindow()
{
    m_main->mnuport_Click();
    m_window = m_main->portSelectionWindow();
    return m_window;
}

QRadioButton *TestPortSelection::option(int n) const
{
    return m_window->findChild<QRadioButton *>(QStringLiteral("Option%1").arg(n));
}

void TestPortSelection::layout()
{
    QVERIFY(openWindow());
    QCOMPARE(m_window->windowTitle(), QStringLiteral("Port selection"));
    QCOMPARE(test::twipsSize(m_window), QSize(5835, 4140));
    struct Control {
        const char *name;
        QRect twips;
        const char *caption;
    };
    const Control controls[] = {
        {"cmdcancel", {3480, 3360, 1215, 375}, "Cancel"},
        {"Option4", {480, 1200, 1215, 255}, "Comport 4"},
        {"Option3", {480, 960, 1215, 255}, "Comport 3"},
        {"Option2", {480, 720, 1215, 255}, "Comport 2"},
        {"Option1", {480, 480, 1215, 255}, "Comport 1"},
        {"cmdok", {1800, 3360, 1095, 375}, "Ok"},
        {"Frame1", {1920, 240, 3495, 1575}, ""},
        {"Label2", {240, 240, 3135, 975}, nullptr},
    };
    for (const Control &c : controls) {
        auto *widget = m_window->findChild<QWidget *>(QLatin1String(c.name));
        QVERIFY2(widget, c.name);
        QCOMPARE(test::twips(widget), c.twips);
        if (auto *button = qobject_cast<QAbstractButton *>(widget))
            QCOMPARE(button->text(), QLatin1String(c.caption));
    }
    auto *label = m_window->findChild<QLabel *>(QStringLiteral("Label2"));
    QCOMPARE(label->parentWidget()->objectName(), QStringLiteral("Frame1"));
    QCOMPARE(
        label->text(),
        QStringLiteral("According    to    the      cable    of   Tarvix- 1M  connected     "
                       "to   the   serial  port  of   computer   select apropriate   option."));
    QVERIFY(label->wordWrap());
    QVERIFY(!m_window->isModal());
    // Ok comes first in the tab order, so it has the focus; Cancel comes last.
    QCOMPARE(m_window->focusWidget()->objectName(), QStringLiteral("cmdok"));
    QCOMPARE(option(1)->nextInFocusChain(), option(2));
    auto *ok = m_window->findChild<QPushButton *>(QStringLiteral("cmdok"));
    auto *cancel = m_window->findChild<QPushButton *>(QStringLiteral("cmdcancel"));
    QVERIFY(!ok->isDefault() && !cancel->isDefault());
}

void TestPortSelection::loadMarksPortNumber_data()
{
    QTest::addColumn<int>("port");
    QTest::addColumn<int>("marked");
    QTest::newRow("1") << 1 << 1;
    QTest::newRow("2") << 2 << 2;
    QTest::newRow("3") << 3 << 3;
    QTest::newRow("4") << 4 << 4;
    QTest::newRow("7 from tvx.cfg") << 7 << 1;
    QTest::newRow("0") << 0 << 1;
    QTest::newRow("negative") << -3 << 1;
}

void TestPortSelection::loadMarksPortNumber()
{
    QFETCH(int, port);
    QFETCH(int, marked);
    m_main->portLink().setPortNumber(qint16(port));
    QVERIFY(openWindow());
    for (int n = 1; n <= 4; ++n)
        QCOMPARE(option(n)->isChecked(), n == marked);
    QCOMPARE(int(m_main->portLink().savedPortNumber()), port);
    // What is marked is what Ok stores.
    QCOMPARE(int(m_main->portLink().portNumber()), marked);
}

void TestPortSelection::optionClickSetsPortNumberOnly()
{
    QVERIFY(openWindow());
    const int opens = m_comm->openCount();
    option(3)->click();
    QCOMPARE(m_main->portLink().portNumber(), qint16(3));
    option(3)->click(); // already marked: stays
    QCOMPARE(m_main->portLink().portNumber(), qint16(3));
    QCOMPARE(m_comm->openCount(), opens);
    QCOMPARE(m_comm->openedDevice(), com(2));
    QCOMPARE(cfgBytes(), QByteArray("2\r\n\r\n"));
}

void TestPortSelection::cancelRestoresSavedPort()
{
    QVERIFY(openWindow());
    option(3)->click();
    const int opens = m_comm->openCount();
    m_window->cmdcancel_Click();
    QCOMPARE(m_main->portLink().portNumber(), qint16(2));
    QCOMPARE(m_comm->openCount(), opens); // the port in force was open all along
    QCOMPARE(m_comm->openedDevice(), com(2));
    QCOMPARE(m_comm->settings(), QStringLiteral("1200,N,8,1"));
    QCOMPARE(m_comm->rThreshold(), qint16(1));
    QCOMPARE(cfgBytes(), QByteArray("2\r\n\r\n"));
    QVERIFY(!m_window->isVisible());
}

void TestPortSelection::okStoresAndOpens()
{
    QVERIFY(openWindow());
    option(3)->click();
    test::ModalWatcher boxes;
    m_window->cmdok_Click();
    QVERIFY(boxes.boxes().isEmpty());
    QCOMPARE(cfgBytes(), QByteArray("3\r\n\r\n"));
    QVERIFY(m_comm->portOpen());
    QCOMPARE(m_comm->openedDevice(), com(3));
    QCOMPARE(m_comm->openedSettings(), LineSettings());
    QCOMPARE(m_comm->rThreshold(), qint16(1));
    QVERIFY(!m_window->isVisible());
    QVERIFY(m_main->isVisible());
}

void TestPortSelection::okOnBusyPort()
{
    m_comm->setUnavailable(com(4));
    QVERIFY(openWindow());
    option(4)->click();
    test::ModalWatcher boxes;
    m_window->cmdok_Click();
    QCOMPARE(boxes.boxes().size(), 1);
    const auto box = boxes.boxes().first();
    QCOMPARE(box.text, BusyText);
    QCOMPARE(box.title, QStringLiteral("Port Selection Error"));
    QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QCOMPARE(box.icon, QMessageBox::NoIcon);
    QCOMPARE(cfgBytes(), QByteArray("4\r\n\r\n")); // written before the port was tried
    QVERIFY(!m_comm->portOpen());                  // the old port is not reopened
    QVERIFY(m_window->isVisible());
    QVERIFY(option(4)->isChecked());
    QCOMPARE(m_main->portLink().portNumber(), qint16(4));
}

void TestPortSelection::cancelAfterFailedOk()
{
    m_comm->setUnavailable(com(4));
    QVERIFY(openWindow());
    option(4)->click();
    test::ModalWatcher boxes;
    m_window->cmdok_Click();
    m_window->cmdcancel_Click();
    QVERIFY(m_comm->portOpen());
    QCOMPARE(m_comm->openedDevice(), com(2));
    QCOMPARE(cfgBytes(), QByteArray("4\r\n\r\n")); // the next start tries COM4 first
    QVERIFY(!m_window->isVisible());
}

// Ok on a number that stands for the device open now keeps it open, whatever waits in it. The
// ports are enumerated at most once, before the open port could be closed; not at all for a
// number an environment variable maps to its device.
void TestPortSelection::okOnOpenPort_data()
{
    QTest::addColumn<int>("marked");   // the option marked before Ok, 0 for none
    QTest::addColumn<QString>("com3"); // TARVIX_COM3, if set
    QTest::addColumn<bool>("kept");
    QTest::addColumn<int>("enumerations");
    QTest::newRow("the same number") << 0 << QString() << true << 1;
    QTest::newRow("another number, the same device") << 3 << com(2) << true << 0;
    QTest::newRow("another device") << 3 << QString() << false << 1;
}

void TestPortSelection::okOnOpenPort()
{
    QFETCH(int, marked);
    QFETCH(QString, com3);
    QFETCH(bool, kept);
    QFETCH(int, enumerations);
    if (!com3.isEmpty())
        qputenv("TARVIX_COM3", com3.toLocal8Bit());
    QFile::remove(configfile::fileName());
    m_comm->feed("waiting");
    QVERIFY(m_comm->setRThreshold(0));
    QVERIFY(openWindow());
    if (marked != 0)
        option(marked)->click();
    const int opens = m_comm->openCount();
    const int scans = m_comm->scans();
    m_window->cmdok_Click();
    QCOMPARE(m_comm->scans(), scans + enumerations);
    QCOMPARE(m_comm->openCount(), opens + (kept ? 0 : 1));
    QCOMPARE(m_comm->openedDevice(), kept ? com(2) : com(3));
    // The port goes by the number chosen, in messages and when it is lost and comes back.
    QCOMPARE(m_comm->commPort(), qint16(marked != 0 ? marked : 2));
    QCOMPARE(m_comm->deviceName(), m_comm->openedDevice());
    QCOMPARE(*m_comm->input(), QByteArray(kept ? "waiting" : ""));
    QCOMPARE(m_comm->rThreshold(), qint16(1));
    QCOMPARE(cfgBytes(), QByteArray::number(marked != 0 ? marked : 2) + "\r\n\r\n");
    QVERIFY(!m_window->isVisible());
}

void TestPortSelection::cancelFailsSilently()
{
    QVERIFY(openWindow());
    option(1)->click();
    m_comm->loseDevice(); // the saved port went away meanwhile
    m_comm->setUnavailable(com(2));
    test::ModalWatcher boxes;
    m_window->cmdcancel_Click();
    QTest::qWait(50);
    QVERIFY(boxes.boxes().isEmpty());
    QVERIFY(m_window->isVisible());
    QVERIFY(!m_comm->portOpen());
    QCOMPARE(m_main->portLink().portNumber(), qint16(2));
}

void TestPortSelection::secondShowKeepsSavedNumber()
{
    QVERIFY(openWindow());
    option(4)->click();
    m_main->mnuport_Click();
    QCOMPARE(m_main->portSelectionWindow(), m_window); // the same window, no new load
    QVERIFY(option(4)->isChecked());
    QCOMPARE(m_main->portLink().savedPortNumber(), qint16(2));
}

void TestPortSelection::unwritableConfigIsReportedAndPortStillOpens()
{
    QFile::remove(configfile::fileName());
    QVERIFY(QDir().mkdir(configfile::fileName())); // a folder where the file should go
    QVERIFY(openWindow());
    option(3)->click();
    test::ModalWatcher boxes;
    m_window->cmdok_Click();
    QCOMPARE(boxes.boxes().size(), 1);
    QVERIFY2(boxes.boxes().first().text.contains(configfile::fileName()),
             qPrintable(boxes.boxes().first().text));
    QVERIFY(m_comm->portOpen());
    QCOMPARE(m_comm->openedDevice(), com(3));
    QVERIFY(QFileInfo(configfile::fileName()).isDir());
}

void TestPortSelection::optionHintsNameTheDevices()
{
    m_comm->setPresentPorts({{QStringLiteral("/dev/ttyUSB0"), QStringLiteral("FT232R USB UART")},
                             {QStringLiteral("/dev/ttyS0"), QString()}});
    m_comm->setUnavailable(QStringLiteral("/dev/ttyUSB0"));
    QVERIFY(openWindow());
    const QString nothing =
        QStringLiteral("No serial port stands behind this number on this computer.");
    QCOMPARE(option(1)->toolTip(), QStringLiteral("/dev/ttyS0 \u2014 built-in serial port"));
    QCOMPARE(option(2)->toolTip(), QStringLiteral("/dev/ttyUSB0 \u2014 FT232R USB UART"));
    QCOMPARE(option(3)->toolTip(), nothing);
    QCOMPARE(option(4)->toolTip(), nothing);

    // A failed Ok adds the reason to that option's hint, and only to that one.
    option(2)->click();
    test::ModalWatcher boxes;
    m_window->cmdok_Click();
    QCOMPARE(boxes.boxes().size(), 1);
    QCOMPARE(option(2)->toolTip(),
             QStringLiteral("/dev/ttyUSB0 \u2014 FT232R USB UART\nThe last opening failed: "
                            "Device or resource busy.\nAnother program holds the port: end it, "
                            "then choose Ok again."));
    QCOMPARE(option(1)->toolTip(), QStringLiteral("/dev/ttyS0 \u2014 built-in serial port"));
    // Free again, the port opens, and its hint forgets the failure.
    m_comm->setUnavailable(QStringLiteral("/dev/ttyUSB0"), false);
    m_window->cmdok_Click();
    QVERIFY(m_comm->portOpen());
    QVERIFY(openWindow());
    QCOMPARE(option(2)->toolTip(), QStringLiteral("/dev/ttyUSB0 \u2014 FT232R USB UART"));
    // An adapter plugged in while the window is open shows when the hint is next shown.
    m_comm->setPresentPorts({{QStringLiteral("/dev/ttyUSB0"), QStringLiteral("FT232R USB UART")},
                             {QStringLiteral("/dev/ttyS0"), QString()},
                             {QStringLiteral("/dev/ttyUSB1"), QStringLiteral("Tarvix cable")}});
    QHelpEvent hover(QEvent::ToolTip, QPoint(2, 2), option(3)->mapToGlobal(QPoint(2, 2)));
    QApplication::sendEvent(option(3), &hover);
    QCOMPARE(option(3)->toolTip(), QStringLiteral("/dev/ttyUSB1 \u2014 Tarvix cable"));
}

void TestPortSelection::hintAfterPermissionDenied()
{
    // The real serial control on a terminal the user may not open.
    test::PseudoTerminal pty;
    QVERIFY(pty.isValid());
    qputenv("TARVIX_COM1", pty.slavePath().toLocal8Bit());
    QVERIFY(QFile::setPermissions(pty.slavePath(), QFileDevice::Permissions()));
    SystemSerialControl comm;
    PortLink link(comm);
    PortSelectionWindow window(link);
    {
        test::OrdinaryUser nobody;
        if (!nobody.active())
            QSKIP("permissions cannot be taken away here");
        window.cmdcancel_Click(); // back to COM1, which fails without a word
    }
    QVERIFY(!comm.portOpen());
    QCOMPARE(window.findChild<QRadioButton *>(QStringLiteral("Option1"))->toolTip(),
             pty.slavePath() +
                 QStringLiteral(" \u2014 serial port (set by TARVIX_COM1)\nThe last opening "
                                "failed: Permission denied.\nSerial ports belong to the group "
                                "dialout: add yourself with \"sudo adduser $USER dialout\", then "
                                "log out and in again."));
}

void TestPortSelection::returnPressesTheFocusedButton_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<int>("key");
    QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
    QTest::addColumn<QByteArray>("config");
    QTest::addColumn<QString>("device");
    QTest::addColumn<int>("openings"); // the port in force stays open when it does not change
    const Qt::KeyboardModifiers none;
    // Ok stores and opens the marked port, Cancel goes back to the port in force before.
    QTest::newRow("Return on Ok") << "cmdok" << int(Qt::Key_Return) << none
                                  << QByteArray("3\r\n\r\n") << com(3) << 1;
    QTest::newRow("Enter on Ok") << "cmdok" << int(Qt::Key_Enter)
                                 << Qt::KeyboardModifiers(Qt::KeypadModifier)
                                 << QByteArray("3\r\n\r\n") << com(3) << 1;
    QTest::newRow("Return on Cancel")
        << "cmdcancel" << int(Qt::Key_Return) << none << QByteArray("2\r\n\r\n") << com(2) << 0;
}

void TestPortSelection::returnPressesTheFocusedButton()
{
    QFETCH(QString, button);
    QFETCH(int, key);
    QFETCH(Qt::KeyboardModifiers, modifiers);
    QFETCH(QByteArray, config);
    QFETCH(QString, device);
    QFETCH(int, openings);
    QVERIFY(openWindow());
    QVERIFY(QTest::qWaitForWindowActive(m_window));
    option(3)->click();
    auto *pressed = m_window->findChild<QPushButton *>(button);
    pressed->setFocus();
    QCOMPARE(m_window->focusWidget(), pressed);
    const int opens = m_comm->openCount();
    const QPointer<PortSelectionWindow> window(m_window); // closing discards it
    QTest::keyClick(m_window->windowHandle(), Qt::Key(key), modifiers);
    QCOMPARE(m_comm->openCount(), opens + openings);
    QCOMPARE(m_comm->openedDevice(), device);
    QCOMPARE(cfgBytes(), config);
    QVERIFY(!window || !window->isVisible());
}

// The options are one Tab stop, the marked port (Comport 1 when the number is none of the four),
// from the moment the window opens: Tab from Ok, or Shift+Tab from Cancel, lands there, and the
// next Tab leaves the group for Cancel. Up and Down move the mark as a click does, and the stop
// with it. The group is first entered from one side only in each case: once an option has had
// the focus, the toolkit itself keeps the others out of the Tab order.
void TestPortSelection::optionsAreOneGroup_data()
{
    QTest::addColumn<int>("port");
    QTest::addColumn<bool>("fromCancel"); // entered with Shift+Tab from Cancel, or Tab from Ok
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("marked"); // after the key
    QTest::newRow("2, Up") << 2 << false << int(Qt::Key_Up) << 1;
    QTest::newRow("2, Down") << 2 << false << int(Qt::Key_Down) << 3;
    QTest::newRow("4, Up") << 4 << false << int(Qt::Key_Up) << 3;
    QTest::newRow("7 from tvx.cfg, Down") << 7 << false << int(Qt::Key_Down) << 2;
    QTest::newRow("1 from Cancel, Down") << 1 << true << int(Qt::Key_Down) << 2;
    QTest::newRow("2 from Cancel, Up") << 2 << true << int(Qt::Key_Up) << 1;
    QTest::newRow("7 from tvx.cfg from Cancel, Down") << 7 << true << int(Qt::Key_Down) << 2;
}

void TestPortSelection::optionsAreOneGroup()
{
    QFETCH(int, port);
    QFETCH(bool, fromCancel);
    QFETCH(int, key);
    QFETCH(int, marked);
    m_main->portLink().setPortNumber(qint16(port));
    QVERIFY(openWindow());
    QVERIFY(QTest::qWaitForWindowActive(m_window));
    const auto focused = [this] { return m_window->focusWidget(); };
    const auto press = [&focused](Qt::Key key, Qt::KeyboardModifiers modifiers = {}) {
        QTest::keyClick(focused(), key, modifiers);
    };
    QCOMPARE(focused()->objectName(), QStringLiteral("cmdok"));
    if (fromCancel) {
        press(Qt::Key_Tab, Qt::ShiftModifier);
        QCOMPARE(focused()->objectName(), QStringLiteral("cmdcancel"));
        press(Qt::Key_Tab, Qt::ShiftModifier);
    } else {
        press(Qt::Key_Tab);
    }
    const int landed = port >= 1 && port <= 4 ? port : 1;
    QCOMPARE(focused(), option(landed));
    press(Qt::Key_Tab);
    QCOMPARE(focused()->objectName(), QStringLiteral("cmdcancel"));
    press(Qt::Key_Tab, Qt::ShiftModifier);
    QCOMPARE(focused(), option(landed));
    press(Qt::Key(key));
    QCOMPARE(focused(), option(marked));
    for (int n = 1; n <= 4; ++n)
        QCOMPARE(option(n)->isChecked(), n == marked);
    QCOMPARE(int(m_main->portLink().portNumber()), marked);
    press(Qt::Key_Tab);
    QCOMPARE(focused()->objectName(), QStringLiteral("cmdcancel"));
}

QTEST_MAIN(TestPortSelection)
#include "tst_port_selection.moc"
