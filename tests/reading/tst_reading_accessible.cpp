// The reading area as assistive technology sees it: its text, lines, selection and character
// boxes, and the events that tell a screen reader of new readings.

#include "reading_area.h"

#include "reading/reading_view_accessible.h"

#include <QAccessible>
#include <QTest>

using namespace tvx;

namespace {

// The events a screen reader is told of: "insert P text", "remove P N" (N blanks), "update P N
// text", "caret P", "select START END caret P".
QStringList heard;

void listen(QAccessibleEvent *event)
{
    const auto blanks = [](const QString &text) {
        return text.count(QLatin1Char(' ')) == text.size() ? QString::number(text.size()) : text;
    };
    const auto at = [](int position) { return QString::number(position) + QLatin1Char(' '); };
    if (event->type() == QAccessible::TextInserted) {
        const auto *e = static_cast<QAccessibleTextInsertEvent *>(event);
        heard << QStringLiteral("insert ") + at(e->changePosition()) + e->textInserted();
    } else if (event->type() == QAccessible::TextRemoved) {
        const auto *e = static_cast<QAccessibleTextRemoveEvent *>(event);
        heard << QStringLiteral("remove ") + at(e->changePosition()) + blanks(e->textRemoved());
    } else if (event->type() == QAccessible::TextUpdated) {
        const auto *e = static_cast<QAccessibleTextUpdateEvent *>(event);
        heard << QStringLiteral("update ") + at(e->changePosition()) + at(e->textRemoved().size()) +
                     e->textInserted();
    } else if (event->type() == QAccessible::TextCaretMoved) {
        const auto *e = static_cast<QAccessibleTextCursorEvent *>(event);
        heard << QStringLiteral("caret ") + QString::number(e->cursorPosition());
    } else if (event->type() == QAccessible::TextSelectionChanged) {
        const auto *e = static_cast<QAccessibleTextSelectionEvent *>(event);
        heard << QStringLiteral("select ") + at(e->selectionStart()) + at(e->selectionEnd()) +
                     QStringLiteral("caret ") + QString::number(e->cursorPosition());
    }
}

} // namespace

class TestReadingAccessible : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void accessibleText();
    void textEvents_data();
    void textEvents();
    void requestsAreLimited_data();
    void requestsAreLimited();
    void caretMoves_data();
    void caretMoves();
};

void TestReadingAccessible::initTestCase()
{
    // Accessibility comes on once the session's accessibility bus answers; from then on the
    // toolkit hands every event to this handler instead of the bus.
    QTRY_VERIFY_WITH_TIMEOUT(QAccessible::isActive(), 15000);
    QAccessible::installUpdateHandler(listen);
}

void TestReadingAccessible::accessibleText()
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

    // Nothing selected: no selection.
    QCOMPARE(textInterface->selectionCount(), 0);
    heard.clear();
    textInterface->setSelection(0, 3, 8);
    QCOMPARE(area.view.selectedBytes(), QByteArray("1\r\nRe"));
    // Selected backwards, the caret is where the selection was drawn to.
    area.view.setSelection(8, 2);
    QCOMPARE(heard, (QStringList{QStringLiteral("caret 8"), QStringLiteral("select 3 8 caret 8"),
                                 QStringLiteral("caret 2"), QStringLiteral("select 2 8 caret 2")}));
    textInterface->setSelection(0, 3, 8);
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

void TestReadingAccessible::textEvents_data()
{
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QByteArrayList>("blocks"); // received after before is shown
    QTest::addColumn<QByteArray>("replacement");
    QTest::addColumn<QStringList>("events");
    const QByteArray none;
    const int limit = 1024 * 1024; // 1 MiB
    const QString x(limit, QLatin1Char('x'));
    QTest::newRow("a file loaded into an empty area")
        << none << QByteArrayList()
        << QByteArray("001 \xb0"
                      "C\r\n")
        << QStringList{QStringLiteral("insert 0 001 \u00b0C\r\n")};
    QTest::newRow("a file replacing readings")
        << QByteArray("old\r\n") << QByteArrayList() << QByteArray("new")
        << QStringList{QStringLiteral("update 0 5 new")};
    QTest::newRow("a capture clearing the area")
        << QByteArray("old\r\n") << QByteArrayList() << none
        << QStringList{QStringLiteral("remove 0 5")};
    QTest::newRow("an empty area cleared") << none << QByteArrayList() << none << QStringList();
    QTest::newRow("blocks received")
        << none << QByteArrayList{"ID 1\r", "\n\xb5", "g"} << QByteArray("-")
        << QStringList{QStringLiteral("insert 0 ID 1\r"), QStringLiteral("insert 5 \n\u00b5"),
                       QStringLiteral("insert 7 g"), QStringLiteral("update 0 8 -")};
    QTest::newRow("a load at the limit") << none << QByteArrayList() << QByteArray(limit, 'x')
                                         << QStringList{QStringLiteral("insert 0 ") + x};
    QTest::newRow("a clear over the limit")
        << QByteArray(limit + 1, 'x') << QByteArrayList() << none
        << QStringList{QStringLiteral("remove 0 %1").arg(limit)};
    QTest::newRow("a block over the limit")
        << QByteArray("a") << QByteArrayList{QByteArray(limit, 'x') + 'y'} << QByteArray("b")
        << QStringList{QStringLiteral("insert 1 ") + x, QStringLiteral("update 0 %1 b").arg(limit)};
}

// Each change of the text is told as the toolkit's text box told it: an insert for each block
// received, at its place; a remove, an insert or an update for a text replaced, the removed text
// as blanks. No event carries more than the limit.
void TestReadingAccessible::textEvents()
{
    QFETCH(QByteArray, before);
    QFETCH(QByteArrayList, blocks);
    QFETCH(QByteArray, replacement);
    QFETCH(QStringList, events);
    heard.clear();
    Area area; // an empty text given to the view changes nothing a screen reader has heard
    QCOMPARE(heard, QStringList());
    area.text.replace(before);
    heard.clear();
    for (const QByteArray &block : blocks)
        area.text.append(block);
    area.text.replace(replacement);
    QCOMPARE(heard, events);
}

void TestReadingAccessible::requestsAreLimited_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("given");
    const int limit = 1024 * 1024;
    QTest::newRow("at the limit") << limit << limit;
    QTest::newRow("over it") << limit + 1 << limit;
}

// One request never gets more than the limit, however much it asks for; the count of characters
// stays true.
void TestReadingAccessible::requestsAreLimited()
{
    QFETCH(int, size);
    QFETCH(int, given);
    Area area;
    QByteArray text(size, 'z');
    text[0] = '\xb5';
    area.text.replace(text);
    QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(&area.view);
    QAccessibleTextInterface *textInterface = accessible->textInterface();
    QCOMPARE(textInterface->characterCount(), size);
    for (const int end : {-1, size}) {
        const QString got = textInterface->text(0, end);
        QCOMPARE(got.size(), given);
        QCOMPARE(got.at(0), QChar(0xb5));
    }
    QCOMPARE(accessible->text(QAccessible::Value).size(), given);
    QCOMPARE(textInterface->text(size - 1, -1), QStringLiteral("z"));
    QCOMPARE(textInterface->text(1, 0), QString());
}

void TestReadingAccessible::caretMoves_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<qint64>("anchor"); // the selection before the keys
    QTest::addColumn<qint64>("position");
    QTest::addColumn<QString>("keys");
    QTest::addColumn<QStringList>("events");
    QTest::addColumn<QStringList>("atCaret"); // the line, word and character there
    // "a|b": the strings a and b.
    const auto list = [](const char *joined) {
        return QString::fromLatin1(joined).split(QLatin1Char('|'));
    };
    const QByteArray t = "ID 1\r\n 002     23.22\r\nend";
    QTest::newRow("Down") << t << 0ll << 0ll << "Down" << list("caret 6")
                          << list(" 002     23.22\r\n| | ");
    QTest::newRow("Right") << t << 0ll << 0ll << "Right" << list("caret 1")
                           << list("ID 1\r\n|ID|D");
    QTest::newRow("Ctrl+Right") << t << 7ll << 7ll << "Ctrl+Right" << list("caret 15")
                                << list(" 002     23.22\r\n|23|2");
    QTest::newRow("Ctrl+End") << t << 0ll << 0ll << "Ctrl+End" << list("caret 25") << list("end||");
    QTest::newRow("Shift+Down") << t << 0ll << 0ll << "Shift+Down"
                                << list("caret 6|select 0 6 caret 6")
                                << list(" 002     23.22\r\n| | ");
    QTest::newRow("Right ends a selection")
        << t << 0ll << 6ll << "Right" << list("select 6 6 caret 6")
        << list(" 002     23.22\r\n| | ");
    QTest::newRow("Ctrl+A") << t << 3ll << 3ll << "Ctrl+A" << list("caret 25|select 0 25 caret 25")
                            << list("end||");
    QTest::newRow("nowhere to go")
        << t << 0ll << 0ll << "Left" << QStringList() << list("ID 1\r\n|ID|I");
    QTest::newRow("Space pages the text only")
        << t << 2ll << 2ll << "Space" << QStringList() << list("ID 1\r\n| | ");
    // A word is read within the 64 KiB part of a long line it lies in.
    const qint64 part = LineIndex::SegmentSize;
    QTest::newRow("in a long line")
        << QByteArray(part * 2 + 5, 'x') << part + 3 << part + 3 << "Right"
        << QStringList{QStringLiteral("caret %1").arg(part + 4)}
        << QStringList{QString(), QString(part, QLatin1Char('x')), QStringLiteral("x")};
}

// Each move of the caret is told as a caret move, and each change of the selection after it; the
// line, word and character at the new caret are what a screen reader reads out.
void TestReadingAccessible::caretMoves()
{
    QFETCH(QByteArray, text);
    QFETCH(qint64, anchor);
    QFETCH(qint64, position);
    QFETCH(QString, keys);
    QFETCH(QStringList, events);
    QFETCH(QStringList, atCaret);
    Area area;
    area.text.replace(text);
    area.view.setSelection(anchor, position);
    heard.clear();
    QTest::keyClick(&area.view, QKeySequence(keys)[0].key(),
                    QKeySequence(keys)[0].keyboardModifiers());
    QCOMPARE(heard, events);
    QAccessibleTextInterface *textInterface =
        QAccessible::queryAccessibleInterface(&area.view)->textInterface();
    const int caret = textInterface->cursorPosition();
    QCOMPARE(caret, area.view.position());
    int start = 0;
    int end = 0;
    const QAccessible::TextBoundaryType kinds[] = {
        QAccessible::LineBoundary, QAccessible::WordBoundary, QAccessible::CharBoundary};
    for (int i = 0; i < 3; ++i) {
        const QString got = textInterface->textAtOffset(caret, kinds[i], &start, &end);
        if (atCaret[i].isNull()) // too long to compare: its size only
            QVERIFY(got.size() <= LineIndex::SegmentSize);
        else
            QCOMPARE(got, atCaret[i]);
    }
}

QTEST_MAIN(TestReadingAccessible)
#include "tst_reading_accessible.moc"
