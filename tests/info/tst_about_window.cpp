#include "app/main_window.h"
#include "info/about_window.h"
#include "info/icon_image.h"
#include "info/info_resources.h"
#include "support/fake_serial_control.h"
#include "support/twips.h"

#include <QApplication>
#include <QIcon>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTextLayout>

using namespace tvx;

namespace {

std::unique_ptr<MainWindow> makeMain()
{
    return std::make_unique<MainWindow>(std::make_unique<test::FakeSerialControl>());
}

QList<AboutWindow *> aboutWindows(const MainWindow &main)
{
    return main.findChildren<AboutWindow *>(QString(), Qt::FindDirectChildrenOnly);
}

QLabel *label(QWidget *window, const char *name)
{
    return window->findChild<QLabel *>(QLatin1String(name));
}

// The lines into which the label breaks its text, as the label itself lays it out: word wrap
// within the width of its contents.
QStringList wrappedLines(const QLabel *label)
{
    QTextLayout layout(label->text(), label->font());
    QTextOption option(label->alignment());
    option.setWrapMode(QTextOption::WordWrap);
    layout.setTextOption(option);
    QStringList lines;
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(label->contentsRect().width());
        lines.append(label->text().mid(line.textStart(), line.textLength()));
    }
    layout.endLayout();
    return lines;
}

} // namespace

class TestAboutWindow : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void cleanup();
    void layout_data();
    void layout();
    void captions();
    void aboutTextForm();
    void versionOnALineOfItsOwn();
    void pictureAtTopLeftUnscaled();
    void oneWindowNotModal();
    void windowIconIsTheDesktopIcon_data();
    void windowIconIsTheDesktopIcon();
    void secondCommandBringsItToFront();
    void closes_data();
    void closes();
};

void TestAboutWindow::cleanup()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void TestAboutWindow::layout_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("twips");

    QTest::newRow("cmdclose") << QStringLiteral("cmdclose") << QRect(4200, 3480, 1215, 375);
    QTest::newRow("Label1") << QStringLiteral("Label1") << QRect(1920, 240, 3735, 1335);
    QTest::newRow("Picture1") << QStringLiteral("Picture1") << QRect(720, 240, 855, 1455);
}

void TestAboutWindow::layout()
{
    QFETCH(QString, name);
    QFETCH(QRect, twips);
    auto main = makeMain();
    main->mnuabout_Click();
    AboutWindow *window = aboutWindows(*main).value(0);
    QVERIFY(window);
    QCOMPARE(test::twipsSize(window), QSize(6690, 4140));
    auto *control = window->findChild<QWidget *>(name);
    QVERIFY(control);
    QCOMPARE(test::twips(control), twips);
}

void TestAboutWindow::captions()
{
    auto main = makeMain();
    main->mnuabout_Click();
    AboutWindow *window = aboutWindows(*main).value(0);
    QVERIFY(window);
    QCOMPARE(window->windowTitle(), QStringLiteral("About Quorvane Tarvix Conectivity"));
    auto *close = window->findChild<QPushButton *>(QStringLiteral("cmdclose"));
    QVERIFY(close);
    QCOMPARE(close->text(), QStringLiteral("Close"));
}

void TestAboutWindow::aboutTextForm()
{
    auto main = makeMain();
    main->mnuabout_Click();
    QLabel *about = label(aboutWindows(*main).value(0), "Label1");
    QVERIFY(about);
    // One sentence naming the maker, exactly 96 spaces, then the version.
    static const QRegularExpression form(
        QStringLiteral("^(\\S[^\\n]*\\bQuorvane\\b[^\\n]*[.!]) {96}Version  1\\.0$"));
    const QRegularExpressionMatch match = form.match(about->text());
    QVERIFY2(match.hasMatch(), qPrintable(about->text()));
    QVERIFY(!match.captured(1).endsWith(QLatin1Char(' ')));
    QVERIFY(about->wordWrap());
    QCOMPARE(about->textFormat(), Qt::PlainText);
}

void TestAboutWindow::versionOnALineOfItsOwn()
{
    auto main = makeMain();
    main->mnuabout_Click();
    QLabel *about = label(aboutWindows(*main).value(0), "Label1");
    QVERIFY(about);
    about->ensurePolished();

    const QStringList lines = wrappedLines(about);
    QVERIFY2(lines.size() >= 2, qPrintable(lines.join(QLatin1Char('|'))));
    QCOMPARE(lines.last().trimmed(), QStringLiteral("Version  1.0"));
    QVERIFY(!lines.at(lines.size() - 2).contains(QStringLiteral("Version")));
    // All of it fits in the label, the version included.
    QVERIFY(lines.size() * about->fontMetrics().lineSpacing() <= about->contentsRect().height());
}

void TestAboutWindow::pictureAtTopLeftUnscaled()
{
    auto main = makeMain();
    main->mnuabout_Click();
    QLabel *picture = label(aboutWindows(*main).value(0), "Picture1");
    QVERIFY(picture);
    QVERIFY(QTest::qWaitForWindowExposed(picture->window()));

    loadInfoResources();
    const QImage bitmap =
        QImage(QStringLiteral(":/info/instrument.bmp")).convertToFormat(QImage::Format_RGB32);
    QCOMPARE(bitmap.size(), QSize(54, 96));
    const QImage shown = picture->grab().toImage().convertToFormat(QImage::Format_RGB32);
    QCOMPARE(shown.size(), picture->size() * shown.devicePixelRatio());
    QCOMPARE(shown.copy(QRect(QPoint(0, 0), bitmap.size())), bitmap);
}

void TestAboutWindow::oneWindowNotModal()
{
    auto main = makeMain();
    main->mnuabout_Click();
    AboutWindow *first = aboutWindows(*main).value(0);
    QVERIFY(first);
    main->mnuabout_Click();
    QCOMPARE(aboutWindows(*main).size(), 1);
    QCOMPARE(aboutWindows(*main).value(0), first);

    QVERIFY(first->isVisible());
    QVERIFY(first->isWindow());
    QCOMPARE(first->windowModality(), Qt::NonModal);
    QVERIFY(!QApplication::activeModalWidget());
}

void TestAboutWindow::secondCommandBringsItToFront()
{
    auto main = makeMain();
    main->show();
    main->mnuabout_Click();
    AboutWindow *about = aboutWindows(*main).value(0);
    QVERIFY(about);
    QTRY_COMPARE(QApplication::activeWindow(), about);

    main->activateWindow();
    QTRY_COMPARE(QApplication::activeWindow(), main.get());
    main->mnuabout_Click();
    QTRY_COMPARE(QApplication::activeWindow(), about);
    QCOMPARE(aboutWindows(*main).size(), 1);
}

void TestAboutWindow::closes_data()
{
    QTest::addColumn<QString>("how");

    QTest::newRow("Close button") << QStringLiteral("button");
    QTest::newRow("Enter on Close") << QStringLiteral("enter");
    QTest::newRow("window frame") << QStringLiteral("frame");
}

void TestAboutWindow::closes()
{
    QFETCH(QString, how);
    auto main = makeMain();
    main->mnuabout_Click();
    QPointer<AboutWindow> window = aboutWindows(*main).value(0);
    QVERIFY(window);
    QVERIFY(QTest::qWaitForWindowActive(window));
    auto *close = window->findChild<QPushButton *>(QStringLiteral("cmdclose"));

    if (how == QStringLiteral("button")) {
        QTest::mouseClick(close, Qt::LeftButton);
    } else if (how == QStringLiteral("enter")) {
        // The button is first in the tab order, so it has the focus when the window opens.
        QCOMPARE(window->focusWidget(), close);
        QTest::keyClick(window->windowHandle(), Qt::Key_Return);
    } else {
        window->close();
    }

    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY2(!window, "a closed about window is discarded");

    // The next command makes it afresh.
    main->mnuabout_Click();
    QCOMPARE(aboutWindows(*main).size(), 1);
    QVERIFY(aboutWindows(*main).value(0)->isVisible());
}

// The windows carry the icon the desktop entry shows, in each of its sizes.
void TestAboutWindow::windowIconIsTheDesktopIcon_data()
{
    QTest::addColumn<int>("size");
    for (const int size : IconSizes)
        QTest::newRow(qPrintable(QString::number(size))) << size;
}

void TestAboutWindow::windowIconIsTheDesktopIcon()
{
    QFETCH(int, size);
    const QIcon icon = programIcon();
    QCOMPARE(icon.availableSizes().size(), int(std::size(IconSizes)));
    const QImage desktop(QStringLiteral(TVX_HICOLOR "/%1x%1/apps/tarvix.png").arg(size));
    QVERIFY(!desktop.isNull());
    // The instrument stands in the middle, opaque. The picture is narrower than the square,
    // and the white beside the instrument in the picture is gone too: on the middle row more is
    // clear than the square's margins.
    QCOMPARE(qAlpha(desktop.pixel(size / 2, size / 2)), 255);
    int clear = 0;
    for (int x = 0; x < size; ++x)
        clear += qAlpha(desktop.pixel(x, size / 2)) == 0 ? 1 : 0;
    if (size >= 48)
        QVERIFY2(clear > size - size * 54 / 96, qPrintable(QString::number(clear)));
    // Compared as the screen gets them: colours already weighted by their opacity.
    QCOMPARE(icon.pixmap(QSize(size, size))
                 .toImage()
                 .convertToFormat(QImage::Format_ARGB32_Premultiplied),
             desktop.convertToFormat(QImage::Format_ARGB32_Premultiplied));
    // Made at build time, it is still what the about window's picture gives now.
    loadInfoResources();
    QCOMPARE(iconImage(QImage(QStringLiteral(":/info/instrument.bmp")), size)
                 .convertToFormat(QImage::Format_ARGB32_Premultiplied),
             desktop.convertToFormat(QImage::Format_ARGB32_Premultiplied));
}

QTEST_MAIN(TestAboutWindow)
#include "tst_about_window.moc"
