// The reading area: what it shows of the reading text, how keys, wheel and scroll bar move it,
// and what a click, a drag and a double or triple click select.

#include "reading_area.h"

#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTest>
#include <QTextBlock>
#include <QTimer>

using namespace tvx;

namespace {

// How many rows the viewport shows whole.
int wholeRows(ReadingView &view)
{
    int whole = 0;
    for (const auto &row : view.visibleRows())
        whole += view.characterRect(row.first).bottom() < view.viewport()->height() ? 1 : 0;
    return whole;
}

// The middle of the scroll bar's groove below its handle.
QPoint grooveBelowHandle(QScrollBar *bar)
{
    QStyleOptionSlider option;
    option.initFrom(bar);
    option.subControls = QStyle::SC_All;
    option.orientation = Qt::Vertical;
    option.minimum = bar->minimum();
    option.maximum = bar->maximum();
    option.sliderPosition = option.sliderValue = bar->value();
    option.singleStep = bar->singleStep();
    option.pageStep = bar->pageStep();
    return bar->style()
        ->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarAddPage, bar)
        .center();
}

void wheel(ReadingView &view, int angle, Qt::KeyboardModifiers modifiers)
{
    const QPointF at(10, 10);
    QWheelEvent event(at, view.viewport()->mapToGlobal(at), QPoint(), QPoint(0, angle),
                      Qt::NoButton, modifiers, Qt::NoScrollPhase, false);
    QApplication::sendEvent(view.viewport(), &event);
}

} // namespace

class TestReadingView : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void display_data();
    void display();
    void replaceStartsAfresh();
    void longRunWrapsLikeAnyLine();
    void jumpsReachEveryRow_data();
    void jumpsReachEveryRow();
    void appendKeepsUsersView();
    void hitLandsOnTheCharacter();
    void linesAsCloseAsInTheTextBox();
    void pagesAsTheKeysDo_data();
    void pagesAsTheKeysDo();
    void wheelScrollsAndZooms();
    void unseenCharacters_data();
    void unseenCharacters();
    void selectionShows();
    void mouseSelects();
    void dragPastTheEdge();
    void doubleClickTakes_data();
    void doubleClickTakes();
    void contextMenu_data();
    void contextMenu();
    void focusShows();
    void caretKeys_data();
    void caretKeys();
    void caretStaysInSight();
};

void TestReadingView::display_data()
{
    QTest::addColumn<QByteArrayList>("blocks");
    QTest::addColumn<QByteArrayList>("shown");
    QTest::newRow("CR LF") << QByteArrayList{"001 1.5\r\n002 1.6\r\n"}
                           << QByteArrayList{"001 1.5", "002 1.6", ""};
    QTest::newRow("LF alone") << QByteArrayList{"a\nb"} << QByteArrayList{"a", "b"};
    QTest::newRow("CR alone") << QByteArrayList{"a\rb"} << QByteArrayList{"a", "b"};
    QTest::newRow("LF CR is two breaks")
        << QByteArrayList{"a\n\rb"} << QByteArrayList{"a", "", "b"};
    QTest::newRow("CR LF split over blocks")
        << QByteArrayList{"a\r", "\nb"} << QByteArrayList{"a", "b"};
    QTest::newRow("CR then LF later")
        << QByteArrayList{"a\r", "b\n"} << QByteArrayList{"a", "b", ""};
    QTest::newRow("Latin-1 bytes") << QByteArrayList{"\xb0"
                                                     "C \xe9\xff"}
                                   << QByteArrayList{"\xb0"
                                                     "C \xe9\xff"};
    QTest::newRow("many small blocks")
        << QByteArrayList{"1", "2", "\r", "\n", "3"} << QByteArrayList{"12", "3"};
}

void TestReadingView::display()
{
    QFETCH(QByteArrayList, blocks);
    QFETCH(QByteArrayList, shown);
    Area area;
    for (const QByteArray &block : blocks)
        area.text.append(block);
    QCOMPARE(area.shownRows(), shown);
    QCOMPARE(area.text.bytes(), blocks.join()); // the model keeps the bytes as they came

    // Showing the whole text at once looks the same as showing it block by block.
    Area whole;
    whole.text.replace(blocks.join());
    QCOMPARE(whole.shownRows(), shown);
}

void TestReadingView::replaceStartsAfresh()
{
    Area area;
    area.text.append("old\r");
    area.view.selectAll();
    area.text.clear();
    QCOMPARE(area.shownRows(), QByteArrayList{""});
    QCOMPARE(area.view.selectedBytes(), QByteArray());
    area.text.append("\nnew"); // the LF no longer belongs to a CR LF
    QCOMPARE(area.shownRows(), (QByteArrayList{"", "new"}));
    // A file loaded in place of a selected text starts without a selection too.
    area.view.selectAll();
    area.text.replace("loaded\r\n");
    QCOMPARE(area.view.selectedBytes(), QByteArray());
    QCOMPARE(area.view.anchor(), 0);
}

// A run without a line break wraps at the area's width like any other line: no break of its
// own after 512 characters, every row as full as the width allows.
void TestReadingView::longRunWrapsLikeAnyLine()
{
    Area area(QSize(173, 2000));
    const QByteArray run(513, 'a');
    for (int i = 0; i < run.size(); i += 100)
        area.text.append(run.mid(i, 100));
    QCOMPARE(area.text.lines().lineCount(), 1);
    const QByteArrayList rows = area.shownRows();
    QVERIFY(rows.size() > 2);
    QCOMPARE(rows.join(), run);
    const qsizetype full = rows.first().size();
    QVERIFY2(512 % full != 0, "choose another width: a break at 512 would not show");
    for (qsizetype i = 0; i + 1 < rows.size(); ++i)
        QCOMPARE(rows[i].size(), full);
}

void TestReadingView::jumpsReachEveryRow_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::newRow("one line of several segments")
        << QByteArray(LineIndex::SegmentSize * 3 + 7, 'x');
    QByteArray lines;
    for (int i = 0; i < 20000; ++i)
        lines += "reading " + QByteArray::number(i) + "\r\n";
    QTest::newRow("many short lines") << lines;
    QTest::newRow("long line between short ones")
        << lines.left(900) + QByteArray(LineIndex::SegmentSize + 3, 'y') + "\n" + lines.left(900);
}

// Rows follow each other without gap or overlap wherever the view goes; the end shows the last
// byte on the last row, and the keys and the scroll bar's steps move by the rows they should.
void TestReadingView::jumpsReachEveryRow()
{
    QFETCH(QByteArray, text);
    Area area(QSize(200, 150));
    area.text.replace(text);
    const auto contiguous = [&] {
        const auto rows = area.view.visibleRows();
        for (size_t i = 1; i < rows.size(); ++i) {
            const qint64 gap = rows[i].first - rows[i - 1].second;
            if (gap < 0 || gap > 2)
                return false;
        }
        return true;
    };
    QTest::keyClick(&area.view, Qt::Key_End, Qt::ControlModifier);
    QVERIFY(contiguous());
    QCOMPARE(area.view.visibleRows().back().second, text.size());
    // The last character shows whole, not cut off at the bottom.
    const QRect last = area.view.characterRect(text.size() - 1);
    QVERIFY(!last.isNull());
    QVERIFY(last.bottom() < area.view.viewport()->height());
    QScrollBar *bar = area.view.verticalScrollBar();
    QCOMPARE(bar->value(), bar->maximum());
    const auto endRows = area.view.visibleRows();
    bar->triggerAction(QAbstractSlider::SliderSingleStepSub);
    QCOMPARE(area.view.visibleRows()[1], endRows[0]);
    QTest::keyClick(&area.view, Qt::Key_Home, Qt::ControlModifier);
    QCOMPARE(area.view.visibleRows().front().first, 0);
    const auto topRows = area.view.visibleRows();
    QTest::keyClick(&area.view, Qt::Key_PageDown);
    // A page on: the row after the last whole row on screen comes to the top.
    const qint64 pageTop = area.view.visibleRows().front().first;
    QVERIFY(pageTop > topRows[topRows.size() - 3].first);
    QVERIFY(pageTop <= topRows.back().second + 2);
    QTest::keyClick(&area.view, Qt::Key_PageUp);
    QCOMPARE(area.view.visibleRows(), topRows);
    bar->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    QCOMPARE(area.view.visibleRows().front(), topRows[1]);
    for (int value : {bar->maximum() / 3, bar->maximum() / 2 + 1, bar->maximum() - 1}) {
        bar->setValue(value);
        QVERIFY(contiguous());
        const qint64 top = area.view.visibleRows().front().first;
        QVERIFY2(top <= qint64(value) && qint64(value) - top < LineIndex::SegmentSize,
                 qPrintable(QStringLiteral("%1 at %2").arg(top).arg(value)));
    }
}

void TestReadingView::appendKeepsUsersView()
{
    Area area(QSize(200, 100));
    for (int i = 0; i < 50; ++i)
        area.text.append("line " + QByteArray::number(i) + "\r\n");
    QScrollBar *bar = area.view.verticalScrollBar();
    bar->setValue(70);
    const auto rows = area.view.visibleRows();
    area.text.append("more\r\n");
    QCOMPARE(area.view.visibleRows(), rows);
    QCOMPARE(bar->value(), 70);
}

void TestReadingView::hitLandsOnTheCharacter()
{
    Area area(QSize(120, 200));
    area.text.replace("0123456789 0123456789 0123456789\r\nab");
    const auto rows = area.view.visibleRows();
    QVERIFY(rows.size() > 2);
    for (qint64 at = 0; at < area.text.bytes().size(); ++at) {
        if (area.text.bytes().at(at) == '\r' || area.text.bytes().at(at) == '\n')
            continue;
        const QRect box = area.view.characterRect(at);
        QVERIFY(!box.isNull());
        QCOMPARE(area.view.offsetAt(box.center() - QPoint(box.width() / 4, 0)), at);
        QCOMPARE(area.view.offsetAt(box.center() + QPoint(box.width() / 4 + 1, 0)), at + 1);
    }
    // Past the end of a row: the end of that row; below the text: its end.
    const QRect first = area.view.characterRect(rows[0].first);
    QCOMPARE(area.view.offsetAt(QPoint(115, first.center().y())), rows[0].second);
    QCOMPARE(area.view.offsetAt(QPoint(5, 190)), area.text.bytes().size());
}

// Lines follow each other as closely as in the toolkit's text box, so as many readings show.
void TestReadingView::linesAsCloseAsInTheTextBox()
{
    Area area;
    // The program's own font, whose exact line height is not a whole number of pixels.
    area.view.setFont(QFont(QStringLiteral("Liberation Sans"), 8));
    area.text.replace("001  23.16\r\n002  23.22\r\n");
    QPlainTextEdit box;
    box.setFont(area.view.font());
    box.setPlainText(QStringLiteral("001  23.16\n002  23.22"));
    box.resize(300, 200);
    box.show();
    QTextCursor second(box.document()->findBlockByNumber(1));
    const int spacing = box.cursorRect(second).top() - box.cursorRect().top();
    QVERIFY(spacing > 0);
    QCOMPARE(area.view.characterRect(12).top() - area.view.characterRect(0).top(), spacing);
    // The text begins as far from the area's corner.
    QCOMPARE(area.view.characterRect(0).topLeft(), box.cursorRect().topLeft());
}

void TestReadingView::pagesAsTheKeysDo_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("Page Down") << "PgDown";
    QTest::newRow("Space") << "Space";
    QTest::newRow("the groove below the handle") << "groove";
}

// A page on brings the first row not shown whole to the top, whichever way it is asked for; a
// page back returns to where it was.
void TestReadingView::pagesAsTheKeysDo()
{
    QFETCH(QString, how);
    Area area(QSize(200, 150));
    QByteArray text;
    for (int i = 0; i < 300; ++i)
        text += "reading " + QByteArray::number(i) + "\r\n";
    area.text.replace(text);
    QScrollBar *bar = area.view.verticalScrollBar();
    for (int i = 0; i < 3; ++i)
        QTest::keyClick(&area.view, Qt::Key_Down);
    const auto before = area.view.visibleRows();
    const int whole = wholeRows(area.view);
    QVERIFY2(int(before.size()) > whole, "choose a height that shows a row in part");
    if (how == QLatin1String("groove"))
        QTest::mouseClick(bar, Qt::LeftButton, {}, grooveBelowHandle(bar));
    else
        QTest::keyClick(&area.view, QKeySequence(how)[0].key());
    QCOMPARE(area.view.visibleRows().front(), before[size_t(whole)]);
    if (how == QLatin1String("Space"))
        QTest::keyClick(&area.view, Qt::Key_Space, Qt::ShiftModifier);
    else
        QTest::keyClick(&area.view, Qt::Key_PageUp);
    QCOMPARE(area.view.visibleRows(), before);
}

// The wheel scrolls by rows; Ctrl+wheel makes the text a point larger or smaller a notch.
void TestReadingView::wheelScrollsAndZooms()
{
    QTest::failOnWarning(QRegularExpression(QStringLiteral(".")));
    Area area(QSize(200, 150));
    QByteArray text;
    for (int i = 0; i < 100; ++i)
        text += "reading " + QByteArray::number(i) + "\r\n";
    area.text.replace(text);
    // A notch moves the rows the desktop sets, down and back up.
    const auto top = area.view.visibleRows();
    wheel(area.view, -120, Qt::NoModifier);
    QCOMPARE(area.view.visibleRows().front(), top[size_t(QApplication::wheelScrollLines())]);
    wheel(area.view, 120, Qt::NoModifier);
    QCOMPARE(area.view.visibleRows(), top);
    // With Ctrl, a point larger or smaller a notch, never down to nothing.
    QFont font = area.view.font();
    font.setPointSizeF(9);
    area.view.setFont(font);
    const int rowHeight = area.view.characterRect(0).height();
    wheel(area.view, 120, Qt::ControlModifier);
    QCOMPARE(area.view.font().pointSizeF(), 10.0);
    QVERIFY(area.view.characterRect(0).height() > rowHeight);
    wheel(area.view, -360, Qt::ControlModifier);
    QCOMPARE(area.view.font().pointSizeF(), 7.0);
    QVERIFY(area.view.characterRect(0).height() < rowHeight);
    font.setPointSizeF(2);
    area.view.setFont(font);
    wheel(area.view, -240, Qt::ControlModifier);
    QCOMPARE(area.view.font().pointSizeF(), 2.0);
    wheel(area.view, -120, Qt::ControlModifier);
    QCOMPARE(area.view.font().pointSizeF(), 1.0);
    wheel(area.view, -120, Qt::NoModifier);
    QCOMPARE(area.view.font().pointSizeF(), 1.0);
}

void TestReadingView::unseenCharacters_data()
{
    QTest::addColumn<char>("byte");
    QTest::addColumn<bool>("seen");
    QTest::newRow("a control character") << '\x01' << false;
    QTest::newRow("the last control character") << '\x1f' << false;
    QTest::newRow("the blank") << ' ' << true;
    QTest::newRow("the last of ASCII") << '~' << true;
    QTest::newRow("DEL") << '\x7f' << false;
    QTest::newRow("the last of the C1 controls") << '\x9f' << false;
    QTest::newRow("the no-break space") << '\xa0' << true;
    QTest::newRow("the soft hyphen") << '\xad' << false;
    QTest::newRow("the degree sign") << '\xb0' << true;
}

// Control characters (other than the tab) and the soft hyphen take no room and show nothing, as
// in the toolkit's text box; every other character takes its room.
void TestReadingView::unseenCharacters()
{
    QFETCH(char, byte);
    QFETCH(bool, seen);
    Area with;
    Area without;
    with.text.replace(QByteArray("12") + byte + "34");
    without.text.replace("1234");
    QCOMPARE(with.view.characterRect(3).left() != without.view.characterRect(2).left(), seen);
    const auto firstRow = [](ReadingView &view) {
        const QRect row = view.characterRect(0);
        return view.viewport()->grab().toImage().copy(row.left(), row.top(), 100, row.height());
    };
    QCOMPARE(firstRow(with.view) != firstRow(without.view), seen);
    Area empty;
    QVERIFY(firstRow(with.view) != firstRow(empty.view));
}

// The selection is drawn over the rows it covers, to the area's edge where it goes on past a
// row's end, also over an empty line.
void TestReadingView::selectionShows()
{
    Area area;
    area.text.replace("ab\r\n\r\ncd");
    const auto highlighted = [&area](qint64 offset) {
        const QRect row = area.view.characterRect(offset);
        const QColor seen = area.view.viewport()->grab().toImage().pixelColor(
            area.view.viewport()->width() - 10, row.center().y());
        return seen == area.view.palette().color(QPalette::Inactive, QPalette::Highlight) ||
               seen == area.view.palette().color(QPalette::Active, QPalette::Highlight);
    };
    QVERIFY(!highlighted(0) && !highlighted(4));
    area.view.setSelection(1, 7);
    QVERIFY(highlighted(0));
    QVERIFY(highlighted(4));  // the empty line
    QVERIFY(!highlighted(6)); // the last row, selected up to "c"
    // Ending where a row's text ends, before its line break, it stops there.
    area.view.setSelection(0, 2);
    QVERIFY(!highlighted(0));
}

void TestReadingView::mouseSelects()
{
    Area area;
    area.text.replace("first line\r\nsecond line\r\nthird");
    QWidget *surface = area.view.viewport();
    // The mouse moved over the text without a button selects nothing.
    QTest::mouseMove(surface, area.pointAt(3));
    QTest::mouseMove(surface, area.pointAt(16));
    QCOMPARE(area.view.selectedBytes(), QByteArray());
    // A click before the first character selects nothing either.
    QTest::mouseClick(surface, Qt::LeftButton, {}, area.pointAt(0));
    QCOMPARE(area.view.selectedBytes(), QByteArray());
    // Drag from "line" of the first row into the second row.
    QTest::mousePress(surface, Qt::LeftButton, {}, area.pointAt(6));
    QTest::mouseMove(surface, area.pointAt(16));
    QTest::mouseRelease(surface, Qt::LeftButton, {}, area.pointAt(16));
    QCOMPARE(area.view.selectedBytes(), QByteArray("line\r\nseco"));
    // Shift+click moves the end, the start stays.
    QTest::mouseClick(surface, Qt::LeftButton, Qt::ShiftModifier, area.pointAt(27));
    QCOMPARE(area.view.selectedBytes(), QByteArray("line\r\nsecond line\r\nth"));
    // A triple-click takes the row.
    QTest::mouseDClick(surface, Qt::LeftButton, {}, area.pointAt(15));
    QCOMPARE(area.view.selectedBytes(), QByteArray("second"));
    QTest::mouseClick(surface, Qt::LeftButton, {}, area.pointAt(15));
    QCOMPARE(area.view.selectedBytes(), QByteArray("second line"));
    // A click after that starts afresh.
    QTest::mouseClick(surface, Qt::LeftButton, {}, area.pointAt(15));
    QCOMPARE(area.view.selectedBytes(), QByteArray());
}

// Dragged below the area, the selection ends on the row under the pointer, shown or not.
void TestReadingView::dragPastTheEdge()
{
    Area area(QSize(300, 100));
    QByteArray text;
    for (int i = 10; i < 60; ++i)
        text += "line " + QByteArray::number(i) + "\r\n"; // 9 bytes a row
    area.text.replace(text);
    QWidget *surface = area.view.viewport();
    const int rowHeight = area.view.characterRect(9).top() - area.view.characterRect(0).top();
    const int top = area.view.characterRect(0).top();
    QTest::mousePress(surface, Qt::LeftButton, {}, area.pointAt(0));
    const int row = int(area.view.visibleRows().size()) + 2;
    QTest::mouseMove(surface, QPoint(2, top + row * rowHeight + rowHeight / 2));
    QCOMPARE(area.view.selectedBytes(), text.left(row * 9));
    // Held there, the text scrolls on by itself and the selection with it; back inside, it
    // stops.
    QTRY_VERIFY(area.view.visibleRows().front().first > 0);
    QTRY_VERIFY(area.view.selectedBytes().size() > row * 9);
    QTest::mouseMove(surface, QPoint(2, 20));
    const auto stopped = area.view.visibleRows();
    QTest::qWait(200);
    QCOMPARE(area.view.visibleRows(), stopped);
    QTest::mouseRelease(surface, Qt::LeftButton, {}, QPoint(2, 20));
    // Let go outside, it stops too.
    QTest::mousePress(surface, Qt::LeftButton, {}, QPoint(2, 20));
    QTest::mouseMove(surface, QPoint(2, 500));
    QTest::mouseRelease(surface, Qt::LeftButton, {}, QPoint(2, 500));
    const auto released = area.view.visibleRows();
    QTest::qWait(200);
    QCOMPARE(area.view.visibleRows(), released);
}

void TestReadingView::doubleClickTakes_data()
{
    QTest::addColumn<qint64>("at");
    QTest::addColumn<QByteArray>("taken");
    QTest::addColumn<QByteArray>("text");
    const QByteArray text = "ab_1-c d\r\ne";
    QTest::newRow("a word with a digit and an underscore")
        << qint64(1) << QByteArray("ab_1") << text;
    QTest::newRow("a punctuation mark alone") << qint64(4) << QByteArray("-") << text;
    QTest::newRow("a blank alone") << qint64(6) << QByteArray(" ") << text;
    QTest::newRow("the CR at the end of the row") << qint64(8) << QByteArray("\r") << text;
    QTest::newRow("the last word") << qint64(10) << QByteArray("e") << text;
    // A word is taken within the 64 KiB part of a long line it lies in.
    QTest::newRow("a word at the start of a long line's second part")
        << LineIndex::SegmentSize + 2 << QByteArray(9, 'x')
        << QByteArray(LineIndex::SegmentSize + 9, 'x');
}

void TestReadingView::doubleClickTakes()
{
    QFETCH(qint64, at);
    QFETCH(QByteArray, taken);
    QFETCH(QByteArray, text);
    Area area;
    area.text.replace(text);
    QTest::keyClick(&area.view, Qt::Key_End, Qt::ControlModifier);
    QPoint point = area.pointAt(at);
    if (area.text.bytes().at(at) == '\r')
        point.setX(area.view.viewport()->width() - 10); // past the end of the row
    QTest::mouseDClick(area.view.viewport(), Qt::LeftButton, {}, point);
    QCOMPARE(area.view.selectedBytes(), taken);
}

void TestReadingView::contextMenu_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<qint64>("selected");
    QTest::addColumn<QList<bool>>("enabled"); // Copy, Select All
    QTest::newRow("nothing to select") << QByteArray() << qint64(0) << QList<bool>{false, false};
    QTest::newRow("nothing selected") << QByteArray("001") << qint64(0) << QList<bool>{false, true};
    QTest::newRow("a selection") << QByteArray("001") << qint64(2) << QList<bool>{true, true};
}

// The right button offers Copy when something is selected and Select All when there is text.
void TestReadingView::contextMenu()
{
    QFETCH(QByteArray, text);
    QFETCH(qint64, selected);
    QFETCH(QList<bool>, enabled);
    Area area;
    area.text.replace(text);
    area.view.setSelection(0, selected);
    QList<bool> shown;
    QTimer::singleShot(0, &area.view, [&shown] {
        QWidget *menu = QApplication::activePopupWidget();
        for (const char *name : {"edit-copy", "select-all"})
            shown << menu->findChild<QAction *>(QLatin1String(name))->isEnabled();
        // Copy copies.
        if (shown.first())
            menu->findChild<QAction *>(QStringLiteral("edit-copy"))->trigger();
        menu->close();
    });
    QGuiApplication::clipboard()->clear();
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(10, 10), QPoint(10, 10));
    QApplication::sendEvent(area.view.viewport(), &event);
    QCOMPARE(shown, enabled);
    QCOMPARE(QGuiApplication::clipboard()->text(), QString::fromLatin1(text.left(selected)));
}

// A keyboard user sees when the reading area has the focus, however it came, also with nothing
// selected.
void TestReadingView::focusShows()
{
    QWidget window;
    auto *before = new QLineEdit(&window);
    ReadingText text;
    auto *view = new ReadingView(&window);
    view->setReadingText(&text);
    view->setGeometry(0, 30, 200, 150);
    text.replace("001  23.17\r\n");
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    // The bottom edge of the area, below the text.
    const auto edge = [view] {
        const QImage image = view->viewport()->grab().toImage();
        return image.copy(0, image.height() - 4, image.width(), 4);
    };
    before->setFocus();
    const QImage without = edge();
    // Given back by the program, as after a capture, not by Tab.
    view->setFocus();
    QCOMPARE(QApplication::focusWidget(), view);
    QTRY_VERIFY(edge() != without);
    before->setFocus();
    QTRY_COMPARE(edge(), without);
}

void TestReadingView::caretKeys_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<qint64>("anchor"); // the selection before the keys
    QTest::addColumn<qint64>("position");
    QTest::addColumn<QString>("keys");
    QTest::addColumn<qint64>("anchorAfter");
    QTest::addColumn<qint64>("positionAfter");
    // Rows [0, 7) [9, 12) [13, 15) [16, 21); the breaks CR LF, LF, CR.
    const QByteArray t = "abc def\r\nghi\njk\rlmnop";
    QTest::newRow("Right over a character") << t << 0ll << 0ll << "Right" << 1ll << 1ll;
    QTest::newRow("Right over a CR LF at once") << t << 7ll << 7ll << "Right" << 9ll << 9ll;
    QTest::newRow("Left back over it") << t << 9ll << 9ll << "Left" << 7ll << 7ll;
    QTest::newRow("Right over a lone LF") << t << 12ll << 12ll << "Right" << 13ll << 13ll;
    QTest::newRow("Left over a lone CR") << t << 16ll << 16ll << "Left" << 15ll << 15ll;
    QTest::newRow("Right at the end") << t << 21ll << 21ll << "Right" << 21ll << 21ll;
    QTest::newRow("Left at the start") << t << 0ll << 0ll << "Left" << 0ll << 0ll;
    QTest::newRow("Down to the next row's start") << t << 0ll << 0ll << "Down" << 9ll << 9ll;
    QTest::newRow("Down from the last row") << t << 17ll << 17ll << "Down" << 17ll << 17ll;
    QTest::newRow("Up from the first row") << t << 2ll << 2ll << "Up" << 2ll << 2ll;
    QTest::newRow("Up to the row above") << t << 13ll << 13ll << "Up" << 9ll << 9ll;
    // Down and Up keep the column a shorter row cut short.
    QTest::newRow("Down through a short row")
        << QByteArray("xxxxx\r\nxx\r\nxxxxx") << 4ll << 4ll << "Down, Down" << 15ll << 15ll;
    QTest::newRow("and back Up") << QByteArray("xxxxx\r\nxx\r\nxxxxx") << 15ll << 15ll << "Up, Up"
                                 << 4ll << 4ll;
    QTest::newRow("End before the line break") << t << 1ll << 1ll << "End" << 7ll << 7ll;
    QTest::newRow("Home") << t << 11ll << 11ll << "Home" << 9ll << 9ll;
    QTest::newRow("Ctrl+End") << t << 1ll << 1ll << "Ctrl+End" << 21ll << 21ll;
    QTest::newRow("Ctrl+Home") << t << 14ll << 14ll << "Ctrl+Home" << 0ll << 0ll;
    QTest::newRow("Ctrl+Right to the next word")
        << t << 0ll << 0ll << "Ctrl+Right, Ctrl+Right, Ctrl+Right" << 9ll << 9ll;
    QTest::newRow("Ctrl+Left to the word before")
        << t << 9ll << 9ll << "Ctrl+Left, Ctrl+Left" << 4ll << 4ll;
    QTest::newRow("Shift+Right selects")
        << t << 1ll << 1ll << "Shift+Right, Shift+Right" << 1ll << 3ll;
    QTest::newRow("Shift+Down selects a row on") << t << 0ll << 0ll << "Shift+Down" << 0ll << 9ll;
    QTest::newRow("Shift+End selects to the row's end")
        << t << 9ll << 9ll << "Shift+End" << 9ll << 12ll;
    QTest::newRow("Shift+Ctrl+End selects all after")
        << t << 5ll << 5ll << "Shift+Ctrl+End" << 5ll << 21ll;
    QTest::newRow("Shift+Left back over the anchor")
        << t << 3ll << 4ll << "Shift+Left, Shift+Left" << 3ll << 2ll;
    QTest::newRow("Right leaves a selection at its end")
        << t << 5ll << 2ll << "Right" << 5ll << 5ll;
    QTest::newRow("Left at its start") << t << 2ll << 5ll << "Left" << 2ll << 2ll;
    QTest::newRow("Ctrl+End ends a selection") << t << 0ll << 3ll << "Ctrl+End" << 21ll << 21ll;
    QTest::newRow("Space leaves the caret") << t << 2ll << 2ll << "Space" << 2ll << 2ll;
}

// The keys move the caret as in a read-only text box with keyboard selection; with Shift they
// move the end of the selection.
void TestReadingView::caretKeys()
{
    QFETCH(QByteArray, text);
    QFETCH(qint64, anchor);
    QFETCH(qint64, position);
    QFETCH(QString, keys);
    QFETCH(qint64, anchorAfter);
    QFETCH(qint64, positionAfter);
    Area area;
    area.text.replace(text);
    area.view.setSelection(anchor, position);
    const QKeySequence sequence(keys);
    for (int i = 0; i < sequence.count(); ++i)
        QTest::keyClick(&area.view, sequence[i].key(), sequence[i].keyboardModifiers());
    QCOMPARE(area.view.anchor(), anchorAfter);
    QCOMPARE(area.view.position(), positionAfter);
}

// The view follows the caret a row at a time, and a page with the page keys, the caret keeping
// its place on screen; End on a wrapped row leaves the caret on that row; the caret shows only
// with the focus.
void TestReadingView::caretStaysInSight()
{
    Area area(QSize(120, 150));
    QByteArray text;
    for (int i = 0; i < 100; ++i)
        text += "row " + QByteArray::number(i) + " with words\r\n";
    area.text.replace(text);
    const auto top = area.view.visibleRows();
    const int whole = wholeRows(area.view);
    QVERIFY2(top[0].second == top[1].first, "choose a width that wraps each line");
    for (int i = 0; i < whole; ++i)
        QTest::keyClick(&area.view, Qt::Key_Down);
    const auto rows = area.view.visibleRows();
    QCOMPARE(rows.front(), top[1]); // the next row came into sight
    const int caretY = area.view.characterRect(area.view.position()).top();
    QTest::keyClick(&area.view, Qt::Key_PageDown);
    QCOMPARE(area.view.visibleRows().front(), rows[size_t(whole)]);
    QCOMPARE(area.view.characterRect(area.view.position()).top(), caretY);
    QTest::keyClick(&area.view, Qt::Key_PageUp);
    QCOMPARE(area.view.visibleRows(), rows);
    QTest::keyClick(&area.view, Qt::Key_Home, Qt::ControlModifier);
    QTest::keyClick(&area.view, Qt::Key_End);
    QCOMPARE(area.view.position(), top[0].second - 1);
    QCOMPARE(area.view.characterRect(area.view.position()).top(), area.view.characterRect(0).top());

    // Drawn at the caret with the focus, and only then.
    QWidget window;
    auto *other = new QLineEdit(&window);
    auto *view = new ReadingView(&window);
    view->setReadingText(&area.text);
    view->setGeometry(0, 30, 200, 150);
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    view->setSelection(2, 2);
    const QRect box = view->characterRect(2);
    const auto column = [&] {
        return view->viewport()->grab().toImage().copy(box.left() - 1, box.top(), 3, box.height());
    };
    other->setFocus();
    const QImage without = column();
    view->setFocus();
    QTRY_VERIFY(column() != without);
    other->setFocus();
    QTRY_COMPARE(column(), without);

    // At a row's start the caret stands before the row's first character.
    view->setFocus();
    view->setSelection(40, 40);
    const QRect first = view->characterRect(0);
    const auto firstColumn = [&] {
        return view->viewport()->grab().toImage().copy(first.left(), first.top(), 2,
                                                       first.height());
    };
    QTRY_VERIFY(view->hasFocus());
    const QImage elsewhere = firstColumn();
    view->setSelection(0, 0);
    QTRY_VERIFY(firstColumn() != elsewhere);
    // And only the caret's row shows it: the next row looks the same with the caret two rows on.
    const QRect next = view->characterRect(18);
    const auto nextRow = [&] {
        return view->viewport()->grab().toImage().copy(0, next.top(), view->viewport()->width(),
                                                       next.height());
    };
    const QImage caretAbove = nextRow();
    view->setSelection(40, 40);
    QCOMPARE(nextRow(), caretAbove);
}

QTEST_MAIN(TestReadingView)
#include "tst_reading_view.moc"
