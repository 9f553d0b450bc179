// The real printer without a printing service (CUPS_SERVER points at nothing): no printer at
// all, reports written to PDF files, and the printer selection dialog.

#include "pdf_text.h"
#include "platform/printer.h"
#include "print/print_commands.h"
#include "support/modal_watcher.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using tvx::test::ModalWatcher;
using tvx::test::PdfText;

namespace {

// Answers the printer selection dialog as soon as it is open, as the user would.
class DialogAnswer : public QObject {
public:
    explicit DialogAnswer(bool accept) : m_accept(accept)
    {
        m_timer.setInterval(10);
        connect(&m_timer, &QTimer::timeout, this, [this] {
            auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
            if (!dialog || !dialog->inherits("QPrintDialog"))
                return;
            ++m_shown;
            m_timer.stop();
            m_accept ? dialog->accept() : dialog->reject();
        });
        m_timer.start();
    }
    int shown() const { return m_shown; }

private:
    QTimer m_timer;
    bool m_accept;
    int m_shown = 0;
};

const QList<QByteArray> readings{"   1    12.5 mg", "   2    13.0 mg", "", "  10   101.5 caf\xe9",
                                 "  11     7.25 \xb5g \xb0"
                                 "C \xfc"};

QList<QByteArray> reportOf(const QList<QByteArray> &textLines)
{
    return QList<QByteArray>{" ID     Reading", " "} + textLines + QList<QByteArray>{"Report Over"};
}

} // namespace

class TestSystemPrinter : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void unwritableFileFailsEveryStep();
    void printsReportToPdfFile();
    void reportRunsOnOverPages();
    void unknownPrinterKeepsChoice();
    void setupCancelledKeepsPrinter_data();
    void setupCancelledKeepsPrinter();
    void setupProposesReportPdf();

private:
    QString path(const QString &name) const { return m_dir->filePath(name); }

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_previousDir;
};

// Each test works in a folder of its own, where a report.pdf would show up.
void TestSystemPrinter::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_previousDir = QDir::currentPath();
    QVERIFY(QDir::setCurrent(m_dir->path()));
}

void TestSystemPrinter::cleanup()
{
    QDir::setCurrent(m_previousDir);
    m_dir.reset();
}

void TestSystemPrinter::unwritableFileFailsEveryStep()
{
    tvx::SystemPrinter printer;
    printer.selectFile(path(QStringLiteral("missing/report.pdf")));
    ModalWatcher watcher;
    tvx::printReport(printer, "   1    12.5", nullptr);

    QCOMPARE(watcher.boxes().size(), 5);
    QVERIFY(QDir(m_dir->path()).isEmpty());
}

void TestSystemPrinter::printsReportToPdfFile()
{
    tvx::SystemPrinter printer;
    printer.selectFile(path(QStringLiteral("out.pdf")));
    ModalWatcher watcher;
    tvx::printReport(printer, tvx::test::joinedText(readings), nullptr);

    QVERIFY(watcher.boxes().isEmpty());
    const PdfText pdf = PdfText::read(path(QStringLiteral("out.pdf")));
    QVERIFY2(pdf.error.isEmpty(), qPrintable(pdf.error));
    QCOMPARE(pdf.pageCount, 1);
    QCOMPARE(pdf.visibleLines(), tvx::test::visibleLines(reportOf(readings)));
    // Latin-1 bytes print as their characters.
    QVERIFY(pdf.pages.value(0).contains(QStringLiteral("7.25 \u00b5g \u00b0C \u00fc")));
}

void TestSystemPrinter::reportRunsOnOverPages()
{
    tvx::SystemPrinter printer;
    const QString file = path(QStringLiteral("long.pdf"));
    printer.selectFile(file);
    ModalWatcher watcher;
    tvx::test::verifyReportFillsThreePages([&](const QByteArray &text) {
        tvx::printReport(printer, text, nullptr);
        return PdfText::read(file);
    });
    QVERIFY(watcher.boxes().isEmpty());
}

void TestSystemPrinter::unknownPrinterKeepsChoice()
{
    tvx::SystemPrinter printer;
    printer.selectFile(path(QStringLiteral("chosen.pdf")));
    QVERIFY(!printer.selectPrinter(QStringLiteral("no-such-printer")));
    QVERIFY(printer.errorString().contains(QStringLiteral("no-such-printer")));

    ModalWatcher watcher;
    tvx::printReport(printer, "kept", nullptr);
    QVERIFY(watcher.boxes().isEmpty());
    QCOMPARE(PdfText::read(path(QStringLiteral("chosen.pdf"))).visibleLines(),
             tvx::test::visibleLines(reportOf({"kept"})));
}

// The dialog proposes report.pdf for "Print to File (PDF)"; cancelling it must neither turn
// that proposal into the printer nor lose the file chosen before.
void TestSystemPrinter::setupCancelledKeepsPrinter_data()
{
    QTest::addColumn<QString>("chosenFile");
    QTest::newRow("no printer") << QString();
    QTest::newRow("a PDF file") << QStringLiteral("chosen.pdf");
}

void TestSystemPrinter::setupCancelledKeepsPrinter()
{
    QFETCH(QString, chosenFile);
    tvx::SystemPrinter printer;
    if (!chosenFile.isEmpty())
        printer.selectFile(path(chosenFile));
    DialogAnswer answer(false);
    QWidget parent;
    tvx::setupPrinter(printer, &parent);
    QCOMPARE(answer.shown(), 1);

    ModalWatcher watcher;
    tvx::printReport(printer, "   1    12.5", nullptr);
    if (chosenFile.isEmpty()) {
        QCOMPARE(watcher.boxes().size(), 5);
        QVERIFY(QDir(m_dir->path()).isEmpty());
        return;
    }
    QVERIFY(watcher.boxes().isEmpty());
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files), QStringList{chosenFile});
    QCOMPARE(PdfText::read(path(chosenFile)).visibleLines(),
             tvx::test::visibleLines(reportOf({"   1    12.5"})));
}

// With no printer installed the dialog offers only "Print to File (PDF)"; taking it as it is
// sends the reports to report.pdf in the working folder.
void TestSystemPrinter::setupProposesReportPdf()
{
    tvx::SystemPrinter printer;
    DialogAnswer answer(true);
    tvx::setupPrinter(printer, nullptr);
    QCOMPARE(answer.shown(), 1);
    QCOMPARE(tvx::defaultOutputFile(),
             QDir(m_dir->path()).absoluteFilePath(QStringLiteral("report.pdf")));

    ModalWatcher watcher;
    tvx::printReport(printer, "   1    12.5", nullptr);
    QVERIFY(watcher.boxes().isEmpty());
    QCOMPARE(PdfText::read(path(QStringLiteral("report.pdf"))).visibleLines(),
             tvx::test::visibleLines(reportOf({"   1    12.5"})));
}

QTEST_MAIN(TestSystemPrinter)
#include "tst_system_printer.moc"
