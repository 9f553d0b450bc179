// The reading area: what it shows of the reading text, where a click lands, what it copies and
// what assistive technology reads.

#include "app/reading_text.h"
#include "reading/reading_view.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>

using namespace tvx;

namespace {

// The rows on screen, as the bytes each shows.
QByteArrayList shownRows(ReadingView &view)
{
    QByteArrayList rows;
    for (const auto &[start, end] : view.visibleRows())
        rows.append(view.bytes().mid(start, end - start));
    return rows;
}

// A view of a given size on a text of its own.
struct Area {
    explicit Area(QSize size = QSize(300, 200))
    {
        view.setReadingText(&text);
        view.resize(size);
        view.show();
    }
    ReadingText text;
    ReadingView view;
};

// A point in the left half of the character at offset, in the view's viewport: a click there
// lands before that character.
QPoint pointAt(ReadingView &view, qint64 offset)
{
    const QRect box = view.characterRect(offset);
    return QPoint(box.left() + box.width() / 4, box.center().y());
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
    void copyIsExact_data();
    void copyIsExact();
    void mouseSelects();
    void accessibleText();
    void focusShows();
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
    QCOMPARE(shownRows(area.view), shown);
    QCOMPARE(area.text.bytes(), blocks.join()); // the model keeps the bytes as they came

    // Showing the whole text at once looks the same as showing it block by block.
    Area whole;
    whole.text.replace(blocks.join());
    QCOMPARE(shownRows(whole.view), shown);
}

void TestReadingView::replaceStartsAfresh()
{
    Area area;
    area.text.append("old\r");
    area.view.selectAll();
    area.text.clear();
    QCOMPARE(shownRows(area.view), QByteArrayList{""});
    QCOMPARE(area.view.selectedBytes(), QByteArray());
    area.text.append("\nnew"); // the LF no longer belongs to a CR LF
    QCOMPARE(shownRows(area.view), (QByteArrayList{"", "new"}));
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
    const QByteArrayList rows = shownRows(area.view);
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
// byte on the last row, and every key moves by the rows it should.
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
    QScrollBar *bar = area.view.verticalScrollBar();
    QCOMPARE(bar->value(), bar->maximum());
    const auto endRows = area.view.visibleRows();
    QTest::keyClick(&area.view, Qt::Key_Up);
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
    QTest::keyClick(&area.view, Qt::Key_Down);
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
}

void TestReadingView::copyIsExact_data()
{
    QTest::addColumn<qint64>("anchor");
    QTest::addColumn<qint64>("position");
    QTest::addColumn<QString>("copied");
    // "ab\r\ncd\ref\n\xb5g"
    QTest::newRow("over CR LF") << qint64(1) << qint64(5) << "b\r\nc";
    QTest::newRow("backwards") << qint64(5) << qint64(1) << "b\r\nc";
    QTest::newRow("ending inside CR LF") << qint64(0) << qint64(3) << "ab\r";
    QTest::newRow("CR alone and LF alone") << qint64(5) << qint64(10) << "d\ref\n";
    QTest::newRow("Latin-1 at the end") << qint64(10) << qint64(99) << QStringLiteral("\u00b5g");
    QTest::newRow("everything") << qint64(0) << qint64(12)
                                << QStringLiteral("ab\r\ncd\ref\n\u00b5g");
}

void TestReadingView::copyIsExact()
{
    QFETCH(qint64, anchor);
    QFETCH(qint64, position);
    QFETCH(QString, copied);
    Area area;
    area.text.replace("ab\r\ncd\ref\n\xb5g");
    QGuiApplication::clipboard()->clear();
    area.view.setSelection(anchor, position);
    QTest::keyClick(&area.view, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QGuiApplication::clipboard()->text(), copied);
    // What was copied stays as it was when blocks arrive, and when the text is replaced.
    area.text.append("\r\nmore");
    QCOMPARE(QGuiApplication::clipboard()->text(), copied);
    area.text.replace("other");
    QCOMPARE(QGuiApplication::clipboard()->text(), copied);
    area.text.replace("ab\r\ncd\ref\n\xb5g");
    // Ctrl+A takes all of it.
    QTest::keyClick(&area.view, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(&area.view, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("ab\r\ncd\ref\n\u00b5g"));
}

void TestReadingView::mouseSelects()
{
    Area area;
    area.text.replace("first line\r\nsecond line\r\nthird");
    QWidget *surface = area.view.viewport();
    // The mouse moved over the text without a button selects nothing.
    QTest::mouseMove(surface, pointAt(area.view, 3));
    QTest::mouseMove(surface, pointAt(area.view, 16));
    QCOMPARE(area.view.selectedBytes(), QByteArray());
    // Drag from "line" of the first row into the second row.
    QTest::mousePress(surface, Qt::LeftButton, {}, pointAt(area.view, 6));
    QTest::mouseMove(surface, pointAt(area.view, 16));
    QTest::mouseRelease(surface, Qt::LeftButton, {}, pointAt(area.view, 16));
    QCOMPARE(area.view.selectedBytes(), QByteArray("line\r\nseco"));
    // Shift+click moves the end, the start stays.
    QTest::mouseClick(surface, Qt::LeftButton, Qt::ShiftModifier, pointAt(area.view, 27));
    QCOMPARE(area.view.selectedBytes(), QByteArray("line\r\nsecond line\r\nth"));
    // A double-click takes the word.
    QTest::mouseDClick(surface, Qt::LeftButton, {}, pointAt(area.view, 15));
    QCOMPARE(area.view.selectedBytes(), QByteArray("second"));
}

void TestReadingView::accessibleText()
{
    Area area(QSize(200, 200));
    const QByteArray text = "ID 1\r\nReading \xb5g\rlast";
    area.text.replace(text);
    QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(&area.view);
    QVERIFY(accessible);
    QVERIFY(accessible->state().readOnly);
    QVERIFY(accessible->state().multiLine);
    QAccessibleTextInterface *textInterface = accessible->textInterface();
    QVERIFY(textInterface);
    QCOMPARE(textInterface->characterCount(), text.size());
    QCOMPARE(textInterface->text(0, int(text.size())), QString::fromLatin1(text));
    QCOMPARE(accessible->text(QAccessible::Value), QString::fromLatin1(text));

    int start = -1;
    int end = -1;
    QCOMPARE(textInterface->textAtOffset(8, QAccessible::LineBoundary, &start, &end),
             QStringLiteral("Reading \u00b5g\r"));
    QCOMPARE(std::pair(start, end), std::pair(6, 17));
    QCOMPARE(textInterface->textAfterOffset(2, QAccessible::LineBoundary, &start, &end),
             QStringLiteral("Reading \u00b5g\r"));
    QCOMPARE(textInterface->textBeforeOffset(18, QAccessible::LineBoundary, &start, &end),
             QStringLiteral("Reading \u00b5g\r"));
    QCOMPARE(textInterface->textAtOffset(10, QAccessible::WordBoundary, &start, &end),
             QStringLiteral("Reading"));
    QCOMPARE(textInterface->textAtOffset(20, QAccessible::LineBoundary, &start, &end),
             QStringLiteral("last"));

    textInterface->setSelection(0, 3, 8);
    QCOMPARE(area.view.selectedBytes(), QByteArray("1\r\nRe"));
    QCOMPARE(textInterface->selectionCount(), 1);
    textInterface->selection(0, &start, &end);
    QCOMPARE(std::pair(start, end), std::pair(3, 8));

    // The character at a point and the box of a character agree.
    for (int offset : {0, 7, 15, 20}) {
        const QRect box = textInterface->characterRect(offset);
        QVERIFY(!box.isEmpty());
        QCOMPARE(textInterface->offsetAtPoint(box.center() - QPoint(box.width() / 4, 0)), offset);
    }
    QCOMPARE(textInterface->offsetAtPoint(area.view.viewport()->mapToGlobal(QPoint(-5, 5))), -1);
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

QTEST_MAIN(TestReadingView)
#include "tst_reading_view.moc"
