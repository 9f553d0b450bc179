#include "info/help_text.h"

#include <QFile>
#include <QList>
#include <QTest>

using namespace tvx;

namespace {

// The help text split at its CR LF line ends; the part after the last one is returned apart.
QList<QByteArray> storedLines(QByteArray *rest)
{
    QList<QByteArray> lines = helptext::bytes().split('\n');
    *rest = lines.takeLast();
    return lines;
}

} // namespace

class TestHelpText : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void everyLineEndsInCrLf();
    void tableLines_data();
    void tableLines();
    void contactBlock_data();
    void contactBlock();
    void forDisplay_data();
    void forDisplay();
    void displayedTextHasOneBreakPerLine();
};

void TestHelpText::everyLineEndsInCrLf()
{
    QByteArray rest;
    const QList<QByteArray> lines = storedLines(&rest);
    QCOMPARE(lines.size(), 76);
    QVERIFY2(rest.isEmpty(), "text after the last CR LF");
    for (int i = 0; i < lines.size(); ++i) {
        const QByteArray &line = lines.at(i);
        QVERIFY2(line.endsWith('\r'), qPrintable(QStringLiteral("line %1 lacks CR").arg(i + 1)));
        QVERIFY2(!line.chopped(1).contains('\r'),
                 qPrintable(QStringLiteral("stray CR in line %1").arg(i + 1)));
    }
}

void TestHelpText::tableLines_data()
{
    QTest::addColumn<int>("number");
    QTest::addColumn<QByteArray>("expected");

    QFile file(QStringLiteral(TVX_HELP_LINES));
    QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(file.errorString()));
    int number = 0;
    while (!file.atEnd()) {
        QByteArray line = file.readLine();
        if (line.startsWith('#'))
            continue;
        while (line.endsWith('\n') || line.endsWith('\r'))
            line.chop(1);
        QVERIFY2(line.size() >= 2 && line.startsWith('"') && line.endsWith('"'), line.constData());
        ++number;
        QTest::addRow("line %d", number) << number << line.mid(1, line.size() - 2);
    }
    QCOMPARE(number, 64);
}

void TestHelpText::tableLines()
{
    QFETCH(int, number);
    QFETCH(QByteArray, expected);
    QByteArray rest;
    const QList<QByteArray> lines = storedLines(&rest);
    QVERIFY(lines.size() >= number);
    QCOMPARE(lines.at(number - 1).chopped(1), expected);
}

void TestHelpText::contactBlock_data()
{
    QTest::addColumn<int>("number");
    QTest::addColumn<QByteArray>("expected");

    // Line 65 parts the contact block from the last topic. The company's name, then its
    // address (three lines), two telephone numbers, a fax number and an e-mail address in
    // groups parted by empty lines; the details are left empty but for their indent, so that
    // no placeholder reads as a mistake.
    const QByteArray indent(8, ' ');
    QTest::addRow("line 65 empty") << 65 << QByteArray();
    QTest::addRow("line 66 the company") << 66 << indent + "Quorvane";
    for (int number : {67, 68, 69, 71, 72, 74, 76})
        QTest::addRow("line %d indent only", number) << number << indent;
    for (int number : {70, 73, 75})
        QTest::addRow("line %d empty", number) << number << QByteArray();
}

void TestHelpText::contactBlock()
{
    QFETCH(int, number);
    QFETCH(QByteArray, expected);
    QByteArray rest;
    const QList<QByteArray> lines = storedLines(&rest);
    QCOMPARE(lines.size(), 76);
    QCOMPARE(lines.at(number - 1).chopped(1), expected);
}

void TestHelpText::forDisplay_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("shown");

    QTest::newRow("CR LF is one break") << QByteArray("a\r\nb\r\n") << QStringLiteral("a\nb\n");
    QTest::newRow("empty lines kept") << QByteArray("a\r\n\r\n\r\nb") << QStringLiteral("a\n\n\nb");
    QTest::newRow("blanks kept") << QByteArray("  x  \r\n") << QStringLiteral("  x  \n");
    QTest::newRow("one byte one character")
        << QByteArray("\xb0\xe9\xff") << QStringLiteral(u"\u00b0\u00e9\u00ff");
}

void TestHelpText::forDisplay()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, shown);
    QCOMPARE(helptext::forDisplay(bytes), shown);
}

void TestHelpText::displayedTextHasOneBreakPerLine()
{
    const QString shown = helptext::forDisplay(helptext::bytes());
    QCOMPARE(shown.count(QLatin1Char('\n')), 76);
    QVERIFY(!shown.contains(QLatin1Char('\r')));
    QVERIFY(shown.startsWith(QStringLiteral("1> How To Install Tarvix Conectivity programe\n")));
}

QTEST_GUILESS_MAIN(TestHelpText)
#include "tst_help_text.moc"
