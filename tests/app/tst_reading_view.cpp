#include "app/reading_text.h"
#include "app/reading_view.h"

#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTest>

using namespace tvx;

class TestReadingView : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void display_data();
    void display();
    void replaceStartsAfresh();
    void longRunsBreakForDisplayOnly();
    void appendKeepsUsersView();
};

void TestReadingView::display_data()
{
    QTest::addColumn<QByteArrayList>("blocks");
    QTest::addColumn<QString>("shown");
    QTest::newRow("CR LF") << QByteArrayList{"001 1.5\r\n002 1.6\r\n"} << "001 1.5\n002 1.6\n";
    QTest::newRow("LF alone") << QByteArrayList{"a\nb"} << "a\nb";
    QTest::newRow("CR alone") << QByteArrayList{"a\rb"} << "a\nb";
    QTest::newRow("LF CR is two breaks") << QByteArrayList{"a\n\rb"} << "a\n\nb";
    QTest::newRow("CR CR LF") << QByteArrayList{"a\r\r\nb"} << "a\n\nb";
    QTest::newRow("CR LF split over blocks") << QByteArrayList{"a\r", "\nb"} << "a\nb";
    QTest::newRow("CR then LF later") << QByteArrayList{"a\r", "b\n"} << "a\nb\n";
    QTest::newRow("Latin-1 bytes") << QByteArrayList{"\xb0"
                                                     "C \xe9\xff"}
                                   << QStringLiteral("\u00b0C \u00e9\u00ff");
    QTest::newRow("tab kept") << QByteArrayList{"ID\t1"} << "ID\t1";
    QTest::newRow("many small blocks") << QByteArrayList{"1", "2", "\r", "\n", "3"} << "12\n3";
}

void TestReadingView::display()
{
    QFETCH(QByteArrayList, blocks);
    QFETCH(QString, shown);
    ReadingText text;
    QPlainTextEdit area;
    ReadingView view(text, area);
    for (const QByteArray &block : blocks)
        text.append(block);
    QCOMPARE(area.toPlainText(), shown);
    QCOMPARE(text.bytes(), blocks.join()); // the model keeps the bytes as they came

    // Showing the whole text at once looks the same as showing it block by block.
    ReadingText whole;
    QPlainTextEdit other;
    ReadingView otherView(whole, other);
    whole.replace(blocks.join());
    QCOMPARE(other.toPlainText(), shown);
}

void TestReadingView::replaceStartsAfresh()
{
    ReadingText text;
    QPlainTextEdit area;
    ReadingView view(text, area);
    text.append("old\r");
    text.clear();
    QCOMPARE(area.toPlainText(), QString());
    text.append("\nnew"); // the LF no longer belongs to a CR LF
    QCOMPARE(area.toPlainText(), QStringLiteral("\nnew"));
}

void TestReadingView::longRunsBreakForDisplayOnly()
{
    ReadingText text;
    QPlainTextEdit area;
    ReadingView view(text, area);
    const QByteArray run(ReadingView::MaxRun * 3 + 10, 'z');
    for (int i = 0; i < run.size(); i += 100)
        text.append(run.mid(i, 100));
    QCOMPARE(text.bytes(), run);
    const QStringList lines = area.toPlainText().split(QLatin1Char('\n'));
    QCOMPARE(lines.size(), 4);
    QCOMPARE(lines.join(QString()), QString::fromLatin1(run));
    QVERIFY(area.document()->blockCount() >= 4);
}

void TestReadingView::appendKeepsUsersView()
{
    ReadingText text;
    QPlainTextEdit area;
    area.resize(200, 100);
    ReadingView view(text, area);
    for (int i = 0; i < 50; ++i)
        text.append("line " + QByteArray::number(i) + "\r\n");
    area.show();
    area.verticalScrollBar()->setValue(10);
    text.append("more\r\n");
    QCOMPARE(area.verticalScrollBar()->value(), 10);
    QCOMPARE(area.document()->isUndoAvailable(), false);
}

QTEST_MAIN(TestReadingView)
#include "tst_reading_view.moc"
