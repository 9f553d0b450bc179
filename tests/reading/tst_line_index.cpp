// The line index of the reading text and the cutting of rows: every kind of line break, taken
// in at once and block by block, and rows cut at the edge of the area.

#include "reading/line_breaks.h"
#include "reading/line_index.h"
#include "reading/row_layout.h"

#include <QRandomGenerator>
#include <QTest>

using namespace tvx;

namespace {

using Lines = QList<QByteArray>;

// The lines the index gives, as the bytes of their content.
Lines linesOf(const LineIndex &index, const QByteArray &text)
{
    Lines lines;
    for (qint64 line = 0; line < index.lineCount(); ++line) {
        const qint64 start = index.lineStart(text, line);
        lines.append(text.mid(start, index.lineEnd(text, line) - start));
    }
    return lines;
}

LineIndex built(const QByteArray &text, const QList<qint64> &cuts)
{
    LineIndex index;
    QByteArray sofar;
    qint64 from = 0;
    for (qint64 cut : cuts + QList<qint64>{text.size()}) {
        sofar.append(text.mid(from, cut - from));
        index.extend(sofar, from);
        from = cut;
    }
    return index;
}

// The lines of text as a byte at a time finds them.
Lines plainLines(const QByteArray &text)
{
    Lines lines{QByteArray()};
    for (qsizetype at = 0; at < text.size(); ++at) {
        const char c = text.at(at);
        if (c != '\r' && c != '\n') {
            lines.last().append(c);
            continue;
        }
        if (c == '\r' && at + 1 < text.size() && text.at(at + 1) == '\n')
            ++at;
        lines.append(QByteArray());
    }
    return lines;
}

// Checks the vector search against the plain one from every offset of text, and the index built
// in blocks of blockSize bytes against plainLines().
void compareWithPlainLoop(const QByteArray &text, qint64 blockSize)
{
    const char *bytes = text.constData();
    for (qint64 from = 0; from <= text.size(); ++from) {
        const qint64 plain = linebreaks::plain(bytes, from, text.size());
        QCOMPARE(linebreaks::vector(bytes, from, text.size()), plain);
        QCOMPARE(linebreaks::next(bytes, from, text.size()), plain);
        // A search that must stop short of the break it would find.
        if (plain > from)
            QCOMPARE(linebreaks::vector(bytes, from, plain), plain);
    }
    QList<qint64> cuts;
    for (qint64 cut = blockSize; cut < text.size(); cut += blockSize)
        cuts.append(cut);
    const LineIndex index = built(text, cuts);
    QCOMPARE(linesOf(index, text), plainLines(text));
}

RowLayout tenPixels()
{
    std::array<qreal, 256> advances;
    advances.fill(10);
    return RowLayout(advances, 80);
}

} // namespace

class TestLineIndex : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void lines_data();
    void lines();
    void manyLinesFoundFromMarks();
    void vectorSearch_data();
    void vectorSearch();
    void vectorSearchOnRandomText();
    void longLinesInSegments_data();
    void longLinesInSegments();
    void wrap_data();
    void wrap();
    void hit_data();
    void hit();
};

void TestLineIndex::lines_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<Lines>("expected");
    QTest::newRow("empty") << QByteArray() << Lines{""};
    QTest::newRow("no break") << QByteArray("abc") << Lines{"abc"};
    QTest::newRow("CR LF") << QByteArray("a\r\nb") << Lines{"a", "b"};
    QTest::newRow("LF") << QByteArray("a\nb") << Lines{"a", "b"};
    QTest::newRow("CR") << QByteArray("a\rb") << Lines{"a", "b"};
    QTest::newRow("LF CR is two") << QByteArray("a\n\rb") << Lines{"a", "", "b"};
    QTest::newRow("CR CR LF") << QByteArray("a\r\r\nb") << Lines{"a", "", "b"};
    QTest::newRow("CR LF LF") << QByteArray("a\r\n\nb") << Lines{"a", "", "b"};
    QTest::newRow("ends with CR LF") << QByteArray("a\r\n") << Lines{"a", ""};
    QTest::newRow("ends with CR") << QByteArray("a\r") << Lines{"a", ""};
    QTest::newRow("ends with LF") << QByteArray("a\n") << Lines{"a", ""};
    QTest::newRow("only breaks") << QByteArray("\r\n\r\r\n\n") << Lines{"", "", "", "", ""};
    QTest::newRow("tabs and Latin-1 kept")
        << QByteArray("\t\xb5g\r\n\xff") << Lines{"\t\xb5g", "\xff"};
}

void TestLineIndex::lines()
{
    QFETCH(QByteArray, text);
    QFETCH(Lines, expected);
    // At once, in two blocks cut at every place, and byte by byte.
    QList<QList<qint64>> cutsList{{}};
    QList<qint64> everyByte;
    for (qint64 cut = 1; cut < text.size(); ++cut) {
        cutsList.append(QList<qint64>{cut});
        everyByte.append(cut);
    }
    cutsList.append(everyByte);
    for (const QList<qint64> &cuts : cutsList) {
        const LineIndex index = built(text, cuts);
        QCOMPARE(linesOf(index, text), expected);
        QCOMPARE(index.segmentCount(), expected.size());
        // Every offset belongs to the line whose content or break holds it.
        for (qint64 line = 0; line < index.lineCount(); ++line) {
            const qint64 end =
                line + 1 < index.lineCount() ? index.lineStart(text, line + 1) : text.size() + 1;
            for (qint64 at = index.lineStart(text, line); at < end; ++at) {
                QCOMPARE(index.lineOf(text, at), line);
                QCOMPARE(index.segmentOf(text, at), line);
            }
        }
    }
}

void TestLineIndex::manyLinesFoundFromMarks()
{
    // Lines of every length from 0 to 299 bytes with every kind of break, taken in in blocks of
    // 33 bytes as a capture reads them: far more lines and bytes than lie between two marks.
    QByteArray text;
    Lines expected;
    const QByteArray breaks[] = {"\r\n", "\n", "\r"};
    for (int i = 0; i < 3000; ++i) {
        expected.append(QByteArray(i % 300, char('a' + i % 26)));
        text += expected.last() + breaks[i % 3];
    }
    expected.append(QByteArray());
    QList<qint64> cuts;
    for (qint64 cut = 33; cut < text.size(); cut += 33)
        cuts.append(cut);
    const LineIndex index = built(text, cuts);
    QCOMPARE(index.lineCount(), expected.size());
    QCOMPARE(linesOf(index, text), expected);
    for (qint64 line = 0; line < index.lineCount(); line += 7) {
        const qint64 start = index.lineStart(text, line);
        QCOMPARE(index.lineOf(text, start), line);
        QCOMPARE(index.lineOf(text, index.lineEnd(text, line)), line);
    }
}

// The search looks at 16 bytes at once where the processor can: breaks just before, on and after
// the edges of those blocks, and of the slices a file is indexed in, are found as a byte at a
// time finds them.
void TestLineIndex::vectorSearch_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<qint64>("blockSize");
    QTest::newRow("no break, 47 bytes") << QByteArray(47, 'x') << qint64(47);
    for (const int at : {0, 1, 14, 15, 16, 17, 31, 32, 33}) {
        for (const char *brk : {"\r", "\n", "\r\n"}) {
            QByteArray text(48, 'a');
            text.replace(at, qstrlen(brk), brk);
            const QByteArray name = QByteArray(brk).replace("\r", "CR").replace("\n", "LF");
            QTest::newRow(
                qPrintable(QStringLiteral("%1 at %2").arg(QString::fromLatin1(name)).arg(at)))
                << text << qint64(16);
        }
    }
    // A CR LF cut between two blocks, and between two slices.
    QTest::newRow("CR LF across blocks")
        << QByteArray(15, 'a') + "\r\n" + QByteArray(20, 'b') << qint64(16);
    QTest::newRow("CR LF across slices")
        << QByteArray(31, 'a') + "\r\n" + QByteArray(3, 'b') << qint64(32);
    QTest::newRow("Latin-1 bytes beside breaks")
        << QByteArray("\x8d\x8a\xff\r\x0d\x0a\x0b\x0c\x0e\xe0\n\xad\xb5\xb0\x00\x7f\r")
        << qint64(5);
}

void TestLineIndex::vectorSearch()
{
    QFETCH(QByteArray, text);
    QFETCH(qint64, blockSize);
    compareWithPlainLoop(text, blockSize);
}

void TestLineIndex::vectorSearchOnRandomText()
{
    // Lines of 0 to 40 bytes of every value, ended by CR, LF or CR LF, taken in in blocks of
    // sizes that are no multiple of 16.
    QRandomGenerator random(37);
    for (int round = 0; round < 20; ++round) {
        QByteArray text;
        while (text.size() < 2000) {
            for (int n = random.bounded(41); n > 0; --n) {
                const char c = char(random.bounded(256));
                text.append(c == '\r' || c == '\n' ? 'x' : c);
            }
            const char *breaks[] = {"\r", "\n", "\r\n", ""};
            text.append(breaks[random.bounded(4)]);
        }
        compareWithPlainLoop(text, 1 + random.bounded(100));
    }
}

void TestLineIndex::longLinesInSegments_data()
{
    QTest::addColumn<QList<qint64>>("lengths"); // of the lines, each ended by CR LF but the last
    QTest::addColumn<QList<qint64>>("segmentsPerLine");
    const qint64 s = LineIndex::SegmentSize;
    QTest::newRow("one segment exactly") << QList<qint64>{s} << QList<qint64>{1};
    QTest::newRow("one byte more") << QList<qint64>{s + 1} << QList<qint64>{2};
    QTest::newRow("between short lines")
        << QList<qint64>{3, 2 * s + 1, 0, s - 1, 5} << QList<qint64>{1, 3, 1, 1, 1};
    QTest::newRow("two long in a row") << QList<qint64>{s + 1, s * 3} << QList<qint64>{2, 3};
}

void TestLineIndex::longLinesInSegments()
{
    QFETCH(QList<qint64>, lengths);
    QFETCH(QList<qint64>, segmentsPerLine);
    QByteArray text;
    QList<qint64> starts;
    for (qint64 length : lengths) {
        starts.append(text.size());
        text += QByteArray(length, 'x') + "\r\n";
    }
    text.chop(2);
    // Built at once, and in blocks of 1000 bytes (the last line grows long block by block).
    QList<qint64> cuts;
    for (qint64 cut = 1000; cut < text.size(); cut += 1000)
        cuts.append(cut);
    for (const LineIndex &index : {built(text, {}), built(text, cuts)}) {
        qint64 segment = 0;
        for (qsizetype line = 0; line < lengths.size(); ++line) {
            for (qint64 part = 0; part < segmentsPerLine[line]; ++part, ++segment) {
                const LineIndex::Segment got = index.segment(text, segment);
                const qint64 start = starts[line] + part * LineIndex::SegmentSize;
                QCOMPARE(got.line, line);
                QCOMPARE(got.start, start);
                QCOMPARE(got.end,
                         std::min(start + LineIndex::SegmentSize, starts[line] + lengths[line]));
                QCOMPARE(index.segmentOf(text, start), segment);
                QCOMPARE(index.segmentOf(text, got.end - 1 > start ? got.end - 1 : start), segment);
            }
            QCOMPARE(index.lineOf(text, starts[line] + lengths[line]), line);
        }
        QCOMPARE(index.segmentCount(), segment);
    }
}

void TestLineIndex::wrap_data()
{
    // Every character 10 pixels wide, tab stops every 80.
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<qreal>("width");
    QTest::addColumn<QList<int>>("rows");
    QTest::newRow("fits exactly") << QByteArray("aaaaa") << 50.0 << QList<int>{0};
    QTest::newRow("one too many") << QByteArray("aaaaaa") << 50.0 << QList<int>{0, 5};
    QTest::newRow("cut after the blank") << QByteArray("aaa bbb") << 50.0 << QList<int>{0, 4};
    QTest::newRow("blank hangs at the edge") << QByteArray("aaaaa bb") << 50.0 << QList<int>{0, 6};
    QTest::newRow("word wider than a row")
        << QByteArray("ab cdefghij") << 50.0 << QList<int>{0, 3, 8};
    QTest::newRow("tab reaches its stop") << QByteArray("a\tb") << 90.0 << QList<int>{0};
    QTest::newRow("after a tab") << QByteArray("a\tb") << 89.0 << QList<int>{0, 2};
    QTest::newRow("narrower than a character") << QByteArray("abc") << 5.0 << QList<int>{0, 1, 2};
    QTest::newRow("nothing") << QByteArray() << 50.0 << QList<int>{0};
}

void TestLineIndex::wrap()
{
    QFETCH(QByteArray, bytes);
    QFETCH(qreal, width);
    QFETCH(QList<int>, rows);
    const std::vector<int> got = tenPixels().wrap(bytes.constData(), int(bytes.size()), width);
    QCOMPARE(QList<int>(got.cbegin(), got.cend()), rows);
}

void TestLineIndex::hit_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<qreal>("x");
    QTest::addColumn<int>("offset");
    QTest::newRow("left half of the first") << QByteArray("abc") << 4.9 << 0;
    QTest::newRow("right half of the first") << QByteArray("abc") << 5.0 << 1;
    QTest::newRow("left of the row") << QByteArray("abc") << -3.0 << 0;
    QTest::newRow("past the end") << QByteArray("abc") << 500.0 << 3;
    QTest::newRow("right half of a tab") << QByteArray("a\tb") << 46.0 << 2;
    QTest::newRow("left half of a tab") << QByteArray("a\tb") << 44.0 << 1;
}

void TestLineIndex::hit()
{
    QFETCH(QByteArray, bytes);
    QFETCH(qreal, x);
    QFETCH(int, offset);
    QCOMPARE(tenPixels().hit(bytes.constData(), int(bytes.size()), x), offset);
}

QTEST_GUILESS_MAIN(TestLineIndex)
#include "tst_line_index.moc"
