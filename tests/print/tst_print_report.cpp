// The reading report and its five printing steps, on a printer that records what it gets.

#include "platform/windows.h"
#include "print/print_commands.h"
#include "support/fake_printer.h"
#include "support/modal_watcher.h"

#include <QTest>

using tvx::test::FakePrinter;
using tvx::test::ModalWatcher;
using Lines = QList<QByteArray>;

namespace {

const QByteArray heading = " ID     Reading";
const QByteArray separator = " ";
const QByteArray closing = "Report Over";

Lines report(const Lines &textLines)
{
    return Lines{heading, separator} + textLines + Lines{closing};
}

QByteArray allHighBytes()
{
    QByteArray bytes;
    for (int byte = 0x80; byte <= 0xFF; ++byte)
        bytes.append(char(byte));
    return bytes;
}

void verifyFailureBoxes(const ModalWatcher &watcher, int count)
{
    QCOMPARE(watcher.boxes().size(), count);
    for (const ModalWatcher::Box &box : watcher.boxes()) {
        QCOMPARE(box.text, QStringLiteral("The form can't be printed."));
        QCOMPARE(box.title, QStringLiteral("Tarvix"));
        QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        QCOMPARE(box.icon, QMessageBox::NoIcon);
    }
}

} // namespace

class TestPrintReport : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void printsReportLines_data();
    void printsReportLines();
    void failingStepShowsOneMessage_data();
    void failingStepShowsOneMessage();
    void everyStepFailing();
    void twoPrintsAreTwoJobs();
    void textIsReadWhenItsStepComes();
};

void TestPrintReport::printsReportLines_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<Lines>("printed");

    QTest::newRow("empty text") << QByteArray() << report({""});
    QTest::newRow("no line break") << QByteArray("   1    12.5") << report({"   1    12.5"});
    QTest::newRow("CR LF lines") << QByteArray("   1    12.5\r\n   2    13.0")
                                 << report({"   1    12.5", "   2    13.0"});
    QTest::newRow("ends with CR LF")
        << QByteArray("   1    12.5\r\n") << report({"   1    12.5", ""});
    QTest::newRow("LF only") << QByteArray("a\nb\n") << report({"a", "b", ""});
    QTest::newRow("CR only") << QByteArray("a\rb") << report({"a", "b"});
    QTest::newRow("LF CR is two breaks") << QByteArray("a\n\rb") << report({"a", "", "b"});
    QTest::newRow("empty lines in a row")
        << QByteArray("a\r\n\r\n\r\nb") << report({"a", "", "", "b"});
    QTest::newRow("blanks kept") << QByteArray("  \r\n x \r\n\t") << report({"  ", " x ", "\t"});
    QTest::newRow("bytes 0x80 to 0xFF") << allHighBytes() << report({allHighBytes()});
    QTest::newRow("control bytes kept")
        << QByteArray("a\0b\x1a\x7f", 5) << report({QByteArray("a\0b\x1a\x7f", 5)});
}

void TestPrintReport::printsReportLines()
{
    QFETCH(QByteArray, text);
    QFETCH(Lines, printed);

    FakePrinter printer;
    ModalWatcher watcher;
    tvx::printReport(printer, text, nullptr);

    QCOMPARE(printer.jobs(), QList<Lines>{printed});
    QVERIFY(printer.openDocument().isEmpty());
    QVERIFY(watcher.boxes().isEmpty());
}

void TestPrintReport::failingStepShowsOneMessage_data()
{
    QTest::addColumn<int>("failingCall");
    QTest::addColumn<Lines>("printed");

    // Calls: 0 heading, 1 separator, 2 to 4 the text lines, 5 closing line, 6 end of document.
    const Lines text{"1 A", "2 B", "3 C"};
    QTest::newRow("heading") << 0 << Lines{separator, "1 A", "2 B", "3 C", closing};
    QTest::newRow("separator") << 1 << Lines{heading, "1 A", "2 B", "3 C", closing};
    // The text is one step: its first failing line ends it.
    QTest::newRow("first text line") << 2 << Lines{heading, separator, closing};
    QTest::newRow("middle text line") << 3 << Lines{heading, separator, "1 A", closing};
    QTest::newRow("last text line") << 4 << Lines{heading, separator, "1 A", "2 B", closing};
    QTest::newRow("closing line") << 5 << Lines{heading, separator, "1 A", "2 B", "3 C"};
}

void TestPrintReport::failingStepShowsOneMessage()
{
    QFETCH(int, failingCall);
    QFETCH(Lines, printed);

    FakePrinter printer;
    printer.failCalls({failingCall});
    ModalWatcher watcher;
    tvx::printReport(printer, "1 A\r\n2 B\r\n3 C", nullptr);

    verifyFailureBoxes(watcher, 1);
    // The steps after the failing one still ran, down to the end of the document.
    QCOMPARE(printer.jobs(), QList<Lines>{printed});
}

void TestPrintReport::everyStepFailing()
{
    FakePrinter printer;
    printer.failEveryCall();
    ModalWatcher watcher;
    const QByteArray text = "   1    12.5\r\n   2    13.0\r\n";
    const QByteArray before = text;

    tvx::printReport(printer, text, nullptr);

    verifyFailureBoxes(watcher, 5);
    QVERIFY(printer.jobs().isEmpty());
    QCOMPARE(text, before);
}

void TestPrintReport::twoPrintsAreTwoJobs()
{
    FakePrinter printer;
    ModalWatcher watcher;
    tvx::printReport(printer, "first", nullptr);
    tvx::printReport(printer, "second", nullptr);

    QCOMPARE(printer.jobs(), (QList<Lines>{report({"first"}), report({"second"})}));
    QVERIFY(watcher.boxes().isEmpty());
}

// A capture that is running goes on while the message of an earlier step waits for OK: the
// report holds the text as it is when the text's turn comes.
void TestPrintReport::textIsReadWhenItsStepComes()
{
    FakePrinter printer;
    printer.failCalls({0});
    QByteArray text = "   1    12.5\r\n";
    ModalWatcher watcher;
    watcher.onBox([&text](QMessageBox *) { text.append("   2    13.0"); });

    tvx::printReport(printer, text, nullptr);

    QCOMPARE(watcher.boxes().size(), 1);
    QCOMPARE(printer.jobs(),
             QList<Lines>{(Lines{separator, "   1    12.5", "   2    13.0", closing})});
}

QTEST_MAIN(TestPrintReport)
#include "tst_print_report.moc"
