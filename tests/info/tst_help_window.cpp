#include "app/main_window.h"
#include "info/help_text.h"
#include "info/help_window.h"
#include "platform/windows.h"
#include "support/fake_serial_control.h"
#include "support/twips.h"

#include <QApplication>
#include <QClipboard>
#include <QFontDatabase>
#include <QFontInfo>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>

using namespace tvx;

namespace {

std::unique_ptr<MainWindow> makeMain()
{
    return std::make_unique<MainWindow>(std::make_unique<test::FakeSerialControl>());
}

QList<HelpWindow *> helpWindows(const MainWindow &main)
{
    return main.findChildren<HelpWindow *>(QString(), Qt::FindDirectChildrenOnly);
}

QPlainTextEdit *txthlp(HelpWindow *window)
{
    return window->findChild<QPlainTextEdit *>(QStringLiteral("txthlp"));
}

// Lets a closed window's deferred deletion happen.
void discardClosed()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

} // namespace

class TestHelpWindow : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanup();
    void layout_data();
    void layout();
    void captions();
    void showsTheHelpText();
    void yellowBoxWithArial();
    void oneWindowNotModal();
    void secondCommandBringsItToFront();
    void typingChangesNothing_data();
    void typingChangesNothing();
    void selectAndCopy();
    void mouseSelectsAWord();
    void closes_data();
    void closes();
    void reopensAtTheTop();
    void staysOpenBesideTheAboutWindow();
};

void TestHelpWindow::initTestCase()
{
    installFontStandIns();
}

void TestHelpWindow::cleanup()
{
    QApplication::clipboard()->clear();
    discardClosed();
}

void TestHelpWindow::layout_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("twips");

    QTest::newRow("txthlp") << QStringLiteral("txthlp") << QRect(360, 240, 6495, 3855);
    QTest::newRow("cmdclose") << QStringLiteral("cmdclose") << QRect(3720, 4320, 975, 375);
}

void TestHelpWindow::layout()
{
    QFETCH(QString, name);
    QFETCH(QRect, twips);
    auto main = makeMain();
    main->mnuhelp_Click();
    HelpWindow *window = helpWindows(*main).value(0);
    QVERIFY(window);
    QCOMPARE(test::twipsSize(window), QSize(7125, 4875));
    auto *control = window->findChild<QWidget *>(name);
    QVERIFY(control);
    QCOMPARE(test::twips(control), twips);
}

void TestHelpWindow::captions()
{
    auto main = makeMain();
    main->mnuhelp_Click();
    HelpWindow *window = helpWindows(*main).value(0);
    QVERIFY(window);
    QCOMPARE(window->windowTitle(), QStringLiteral("Help"));
    auto *close = window->findChild<QPushButton *>(QStringLiteral("cmdclose"));
    QVERIFY(close);
    QCOMPARE(close->text(), QStringLiteral("&Close"));
    // The text comes first in the tab order, then the button.
    QWidgetList order;
    for (QWidget *w = window->nextInFocusChain(); w != window; w = w->nextInFocusChain()) {
        if (w->focusPolicy() & Qt::TabFocus)
            order.append(w);
    }
    QCOMPARE(order, QWidgetList({txthlp(window), close}));
}

void TestHelpWindow::showsTheHelpText()
{
    auto main = makeMain();
    main->mnuhelp_Click();
    QPlainTextEdit *text = txthlp(helpWindows(*main).value(0));
    QVERIFY(text);
    QCOMPARE(text->toPlainText(), helptext::forDisplay(helptext::bytes()));
    // 76 lines, the last one ending in a break after which an empty line follows.
    QCOMPARE(text->document()->blockCount(), 77);
    QCOMPARE(text->document()->findBlockByNumber(11).text(),
             QStringLiteral("        Pravon will be instaled unde Programs.           "));
}

void TestHelpWindow::yellowBoxWithArial()
{
    auto main = makeMain();
    main->mnuhelp_Click();
    QPlainTextEdit *text = txthlp(helpWindows(*main).value(0));
    QVERIFY(text);
    text->ensurePolished();
    const QFont font = text->font();
    QCOMPARE(font.family(), QStringLiteral("Arial"));
    QCOMPARE(font.pointSizeF(), 9.75);
    QCOMPARE(font.weight(), QFont::Normal);
    QVERIFY(!font.italic());
    if (QFontDatabase::families().contains(QStringLiteral("Liberation Sans")))
        QCOMPARE(QFontInfo(font).family(), QStringLiteral("Liberation Sans"));

    // The document margin at the top right holds no text, only the box's background.
    const QImage shot = text->viewport()->grab().toImage();
    QCOMPARE(QColor(shot.pixel(shot.width() - 2, 1)), QColor(255, 255, 0));
    QVERIFY(text->verticalScrollBar()->isVisible());
    QVERIFY(text->verticalScrollBar()->maximum() > 0);
}

void TestHelpWindow::oneWindowNotModal()
{
    auto main = makeMain();
    main->mnuhelp_Click();
    HelpWindow *first = helpWindows(*main).value(0);
    QVERIFY(first);
    main->mnuhelp_Click();
    QCOMPARE(helpWindows(*main).size(), 1);
    QCOMPARE(helpWindows(*main).value(0), first);

    QVERIFY(first->isVisible());
    QVERIFY(first->isWindow());
    QCOMPARE(first->windowModality(), Qt::NonModal);
    QVERIFY(!QApplication::activeModalWidget());
    QVERIFY(main->isEnabled());
}

void TestHelpWindow::secondCommandBringsItToFront()
{
    auto main = makeMain();
    main->show();
    main->mnuhelp_Click();
    HelpWindow *help = helpWindows(*main).value(0);
    QVERIFY(help);
    QTRY_COMPARE(QApplication::activeWindow(), help);

    main->activateWindow();
    QTRY_COMPARE(QApplication::activeWindow(), main.get());
    main->mnuhelp_Click();
    QTRY_COMPARE(QApplication::activeWindow(), help);
    QCOMPARE(helpWindows(*main).size(), 1);
}

void TestHelpWindow::typingChangesNothing_data()
{
    QTest::addColumn<QKeySequence>("keys");

    QTest::newRow("letter") << QKeySequence(Qt::Key_X);
    QTest::newRow("space") << QKeySequence(Qt::Key_Space);
    QTest::newRow("return") << QKeySequence(Qt::Key_Return);
    QTest::newRow("backspace") << QKeySequence(Qt::Key_Backspace);
    QTest::newRow("delete") << QKeySequence(Qt::Key_Delete);
    QTest::newRow("paste") << QKeySequence(QKeySequence::Paste);
    QTest::newRow("cut") << QKeySequence(QKeySequence::Cut);
    QTest::newRow("undo") << QKeySequence(QKeySequence::Undo);
}

void TestHelpWindow::typingChangesNothing()
{
    QFETCH(QKeySequence, keys);
    auto main = makeMain();
    main->mnuhelp_Click();
    QPlainTextEdit *text = txthlp(helpWindows(*main).value(0));
    QVERIFY(text);
    const QString before = text->toPlainText();
    QApplication::clipboard()->setText(QStringLiteral("pasted"));

    // Each at the start, and again with all of the text selected.
    QTest::keySequence(text, keys);
    QTest::keySequence(text, QKeySequence::SelectAll);
    QTest::keySequence(text, keys);
    QCOMPARE(text->toPlainText(), before);
    QVERIFY(!text->document()->isModified());
}

void TestHelpWindow::selectAndCopy()
{
    auto main = makeMain();
    main->mnuhelp_Click();
    QPlainTextEdit *text = txthlp(helpWindows(*main).value(0));
    QVERIFY(text);

    QTest::keyClick(text, Qt::Key_End, Qt::ShiftModifier);
    QCOMPARE(text->textCursor().selectedText(),
             QStringLiteral("1> How To Install Tarvix Conectivity programe"));
    QTest::keySequence(text, QKeySequence::Copy);
    QCOMPARE(QApplication::clipboard()->text(),
             QStringLiteral("1> How To Install Tarvix Conectivity programe"));

    QTest::keySequence(text, QKeySequence::SelectAll);
    QTest::keySequence(text, QKeySequence::Copy);
    QCOMPARE(QApplication::clipboard()->text(), helptext::forDisplay(helptext::bytes()));
}

void TestHelpWindow::mouseSelectsAWord()
{
    auto main = makeMain();
    main->mnuhelp_Click();
    QPlainTextEdit *text = txthlp(helpWindows(*main).value(0));
    QVERIFY(text);
    QVERIFY(QTest::qWaitForWindowExposed(text->window()));

    // "Install" on the first line.
    QTextCursor at(text->document());
    at.setPosition(14);
    const QPoint point = text->cursorRect(at).center();
    QTest::mouseDClick(text->viewport(), Qt::LeftButton, Qt::NoModifier, point);
    QCOMPARE(text->textCursor().selectedText(), QStringLiteral("Install"));
}

void TestHelpWindow::closes_data()
{
    QTest::addColumn<QString>("how");

    QTest::newRow("Close button") << QStringLiteral("button");
    QTest::newRow("Alt+C") << QStringLiteral("alt+c");
    QTest::newRow("Return on Close") << QStringLiteral("return");
    QTest::newRow("window frame") << QStringLiteral("frame");
}

void TestHelpWindow::closes()
{
    QFETCH(QString, how);
    auto main = makeMain();
    main->mnuhelp_Click();
    QPointer<HelpWindow> window = helpWindows(*main).value(0);
    QVERIFY(window);
    QVERIFY(QTest::qWaitForWindowActive(window));

    auto *close = window->findChild<QPushButton *>(QStringLiteral("cmdclose"));
    if (how == QStringLiteral("button")) {
        QTest::mouseClick(close, Qt::LeftButton);
    } else if (how == QStringLiteral("alt+c")) {
        QTest::keyClick(window->windowHandle(), Qt::Key_C, Qt::AltModifier);
    } else if (how == QStringLiteral("return")) {
        close->setFocus();
        QTest::keyClick(window->windowHandle(), Qt::Key_Return);
    } else {
        window->close();
    }

    // A button's access key clicks it the way a mouse does, after showing it pressed a moment.
    QTRY_VERIFY(!window || !window->isVisible());
    discardClosed();
    QVERIFY2(!window, "a closed help window is discarded");
    QVERIFY(helpWindows(*main).isEmpty());
}

void TestHelpWindow::reopensAtTheTop()
{
    auto main = makeMain();
    main->mnuhelp_Click();
    QPointer<HelpWindow> first = helpWindows(*main).value(0);
    QVERIFY(first);
    QPlainTextEdit *text = txthlp(first);
    QTest::keyClick(text, Qt::Key_End, Qt::ControlModifier);
    QScrollBar *bar = text->verticalScrollBar();
    QVERIFY(bar->maximum() > 0);
    QVERIFY(bar->value() > 0);

    first->findChild<QPushButton *>(QStringLiteral("cmdclose"))->click();
    discardClosed();
    QVERIFY(!first);

    main->mnuhelp_Click();
    HelpWindow *second = helpWindows(*main).value(0);
    QVERIFY(second);
    QVERIFY(second->isVisible());
    text = txthlp(second);
    QCOMPARE(text->verticalScrollBar()->value(), 0);
    QCOMPARE(text->textCursor().position(), 0);
    QCOMPARE(text->toPlainText(), helptext::forDisplay(helptext::bytes()));
}

void TestHelpWindow::staysOpenBesideTheAboutWindow()
{
    auto main = makeMain();
    main->mnuhelp_Click();
    HelpWindow *help = helpWindows(*main).value(0);
    QVERIFY(help);
    main->mnuabout_Click();
    main->mnuhelp_Click();
    QVERIFY(help->isVisible());
    QCOMPARE(helpWindows(*main).value(0), help);
}

QTEST_MAIN(TestHelpWindow)
#include "tst_help_window.moc"
