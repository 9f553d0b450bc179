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
    void capturedReadingsShowLineByLine();
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
    // A run without a line break is broken for display after 512 characters, and only there.
    const QByteArray run512(512, 'a');
    const QString shown512 = QString::fromLatin1(run512);
    QTest::newRow("512 in a row") << QByteArrayList{run512} << shown512;
    QTest::newRow("513 in a row") << QByteArrayList{run512 + 'b'}
                                  << shown512 + QStringLiteral("\nb");
    QTest::newRow("513 over two blocks") << QByteArrayList{run512.left(500), run512.mid(500) + 'b'}
                                         << shown512 + QStringLiteral("\nb");
    // Each line break starts the count afresh.
    QTest::newRow("two lines of 300 and 400")
        << QByteArrayList{QByteArray(300, 'c') + "\r\n" + QByteArray(400, 'd')}
        << QString(300, QLatin1Char('c')) + QLatin1Char('\n') + QString(400, QLatin1Char('d'));
    QTest::newRow("512 after a bare CR")
        << QByteArrayList{"x\r" + run512} << QStringLiteral("x\n") + shown512;
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

void TestReadingView::capturedReadingsShowLineByLine()
{
    // A few KB of readings as the instrument sends them, appended in the blocks of 33 to 40
    // characters a capture reads: every reading on a line of its own, none broken.
    QByteArrayList lines{"TARVIX-1M"};
    for (int i = 1; i <= 200; ++i) {
        lines.append(QByteArray(" ") + QByteArray::number(i).rightJustified(3, '0') + "     " +
                     QByteArray::number(20 + i % 7) + "." + QByteArray::number(i * 37 % 100) +
                     (i % 25 ? " mg"
                             : " \xb5g 21.5\xb0"
                               "C"));
    }
    lines.append("END OF MEMORY");
    const QByteArray sent = lines.join("\r\n") + "\r\n";
    QVERIFY(sent.size() > 3000);

    ReadingText text;
    QPlainTextEdit area;
    ReadingView view(text, area);
    for (qsizetype at = 0, size = 33; at < sent.size(); at += size, size = 33 + at % 8)
        text.append(sent.mid(at, size));
    QCOMPARE(text.bytes(), sent);
    QStringList expected;
    for (const QByteArray &line : lines)
        expected.append(QString::fromLatin1(line));
    expected.append(QString());
    QCOMPARE(area.toPlainText().split(QLatin1Char('\n')), expected);
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
