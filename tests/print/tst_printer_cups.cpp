// Reports through the real printing service: CUPS with the queue "tarvix-pdf", whose device
// cups-pdf turns every job into a PDF file that is read back here, and "tarvix-refusing",
// which refuses every job. The queues are always named; no job goes to the machine's default
// printer. tests/print/cups-setup.sh starts the scheduler and creates the queues (make test
// runs it). Other test runs may print to the same queue at the same time: each job here has a
// title of its own, and cups-pdf names its file after it.

#include "pdf_text.h"
#include "platform/printer.h"
#include "print/print_commands.h"
#include "support/modal_watcher.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <pwd.h>
#include <unistd.h>

using tvx::test::ModalWatcher;
using tvx::test::PdfText;

namespace {

const QString queue = QStringLiteral("tarvix-pdf");
const QString refusingQueue = QStringLiteral("tarvix-refusing");

struct Command {
    bool ok = false;
    QString output;
};

Command run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    const bool finished = process.waitForFinished(120000);
    return {finished && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0,
            QString::fromLocal8Bit(process.readAll()) + process.errorString()};
}

bool inCi()
{
    return !qEnvironmentVariableIsEmpty("CI");
}

// Where cups-pdf writes a job of this user: the Out setting of its configuration, with
// ${HOME} and ${USER} those of the user.
QString cupsPdfFolder()
{
    const passwd *user = getpwuid(getuid());
    const QString name = user ? QString::fromLocal8Bit(user->pw_name) : QString();
    const QString home = user ? QString::fromLocal8Bit(user->pw_dir) : QDir::homePath();
    QString out = QStringLiteral("/var/spool/cups-pdf/${USER}");
    for (const QString &config : {QStringLiteral("/etc/cups/cups-pdf-%1.conf").arg(queue),
                                  QStringLiteral("/etc/cups/cups-pdf.conf")}) {
        QFile file(config);
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QStringList lines = QString::fromLocal8Bit(file.readAll()).split(QLatin1Char('\n'));
        for (const QString &line : lines) {
            const auto match =
                QRegularExpression(QStringLiteral("^\\s*Out\\s+(\\S.*?)\\s*$")).match(line);
            if (match.hasMatch())
                out = match.captured(1);
        }
        break;
    }
    out.replace(QStringLiteral("${HOME}"), home);
    out.replace(QStringLiteral("${USER}"), name);
    return out;
}

} // namespace

class TestPrinterCups : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();

    void printsReportThroughQueue();
    void reportRunsOnOverPages();
    void twoPrintsAreTwoJobs();
    void setupCancelledKeepsQueue();
    void refusedJobFailsLastStep();

private:
    // A job title no other job has: this process's id and a count.
    QString newTitle();
    // Waits until cups-pdf has written the job of that title, reads the PDF and removes it.
    PdfText readOutput(const QString &title);
    // Prints the report on the queue as a job of its own and reads back the PDF it made.
    PdfText printAndRead(tvx::SystemPrinter &printer, const QByteArray &text);

    QString m_outFolder;
    int m_titles = 0;
};

void TestPrinterCups::initTestCase()
{
    QVERIFY2(qgetenv("CUPS_SERVER") != "/nonexistent",
             "this suite needs the printing service; its CTest environment unsets CUPS_SERVER");
    const auto queuesThere = [] {
        return run(QStringLiteral("lpstat"), {QStringLiteral("-v"), queue, refusingQueue});
    };
    Command queueThere = queuesThere();
    if (!queueThere.ok && getuid() == 0) {
        // Run alone (not through make test): start CUPS and make the queues here.
        const Command setup = run(QStringLiteral("bash"), {QString::fromLocal8Bit(TVX_CUPS_SETUP)});
        qInfo("%s", qPrintable(setup.output.trimmed()));
        queueThere = queuesThere();
    }
    if (!queueThere.ok) {
        const QString why =
            QStringLiteral("No CUPS scheduler with the queues %1 and %2 (%3). Run %4 as root to "
                           "start CUPS and create them.")
                .arg(queue, refusingQueue, queueThere.output.trimmed(),
                     QString::fromLocal8Bit(TVX_CUPS_SETUP));
        if (inCi())
            QFAIL(qPrintable(why));
        QSKIP(qPrintable(why));
    }
    m_outFolder = cupsPdfFolder();
    qInfo("cups-pdf writes to %s", qPrintable(m_outFolder));
}

QString TestPrinterCups::newTitle()
{
    // Ended by a word, so that the title of job 1 is no part of the title of job 10.
    return QStringLiteral("tvx%1-%2-report")
        .arg(QCoreApplication::applicationPid())
        .arg(++m_titles);
}

PdfText TestPrinterCups::readOutput(const QString &title)
{
    // The job goes through the PDF filters and cups-pdf; that takes a second or two.
    QDeadlineTimer deadline(120000);
    PdfText pdf;
    pdf.error = QStringLiteral("no PDF named after %1 in %2").arg(title, m_outFolder);
    while (!deadline.hasExpired()) {
        const QFileInfoList files =
            QDir(m_outFolder)
                .entryInfoList({QLatin1Char('*') + title + QStringLiteral("*.pdf")}, QDir::Files);
        if (!files.isEmpty()) {
            // A file cups-pdf is still writing does not read as a PDF yet.
            pdf = PdfText::read(files.first().absoluteFilePath());
            if (pdf.error.isEmpty()) {
                QFile::remove(files.first().absoluteFilePath());
                return pdf;
            }
        }
        QTest::qWait(200);
    }
    return pdf;
}

PdfText TestPrinterCups::printAndRead(tvx::SystemPrinter &printer, const QByteArray &text)
{
    const QString title = newTitle();
    printer.setDocumentName(title);
    tvx::printReport(printer, text, nullptr);
    return readOutput(title);
}

void TestPrinterCups::printsReportThroughQueue()
{
    tvx::SystemPrinter printer;
    QVERIFY2(printer.selectPrinter(queue), qPrintable(printer.errorString()));
    const QList<QByteArray> readings{"   1    12.5 mg", "   2    13.0 mg", "",
                                     "  10   101.5 caf\xe9", "  11     7.25 \xb5g"};
    ModalWatcher watcher;
    const PdfText pdf = printAndRead(printer, tvx::test::joinedText(readings));

    QVERIFY(watcher.boxes().isEmpty());
    QVERIFY2(pdf.error.isEmpty(), qPrintable(pdf.error));
    QCOMPARE(pdf.pageCount, 1);
    QCOMPARE(pdf.visibleLines(),
             tvx::test::visibleLines(QList<QByteArray>{" ID     Reading", " "} + readings +
                                     QList<QByteArray>{"Report Over"}));
}

void TestPrinterCups::reportRunsOnOverPages()
{
    tvx::SystemPrinter printer;
    QVERIFY2(printer.selectPrinter(queue), qPrintable(printer.errorString()));
    ModalWatcher watcher;
    tvx::test::verifyReportFillsThreePages(
        [&](const QByteArray &text) { return printAndRead(printer, text); });
    QVERIFY(watcher.boxes().isEmpty());
}

void TestPrinterCups::twoPrintsAreTwoJobs()
{
    tvx::SystemPrinter printer;
    QVERIFY2(printer.selectPrinter(queue), qPrintable(printer.errorString()));
    ModalWatcher watcher;
    const QString first = newTitle();
    printer.setDocumentName(first);
    tvx::printReport(printer, "first", nullptr);
    const QString second = newTitle();
    printer.setDocumentName(second);
    tvx::printReport(printer, "second", nullptr);

    QVERIFY(watcher.boxes().isEmpty());
    // Each job is a PDF of its own, with its own heading and closing line.
    const auto report = [](const char *text) {
        return QStringList{QStringLiteral("ID Reading"), QString::fromLatin1(text),
                           QStringLiteral("Report Over")};
    };
    QCOMPARE(readOutput(first).visibleLines(), report("first"));
    QCOMPARE(readOutput(second).visibleLines(), report("second"));
}

void TestPrinterCups::setupCancelledKeepsQueue()
{
    QTemporaryDir dir;
    const QString previous = QDir::currentPath();
    QVERIFY(QDir::setCurrent(dir.path()));
    tvx::SystemPrinter printer;
    QVERIFY2(printer.selectPrinter(queue), qPrintable(printer.errorString()));

    int shown = 0;
    QTimer answer;
    connect(&answer, &QTimer::timeout, this, [&] {
        auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
        if (dialog && dialog->inherits("QPrintDialog")) {
            ++shown;
            answer.stop();
            dialog->reject();
        }
    });
    answer.start(10);
    tvx::setupPrinter(printer, nullptr);
    QCOMPARE(shown, 1);

    ModalWatcher watcher;
    const PdfText pdf = printAndRead(printer, "kept");
    QDir::setCurrent(previous);
    QVERIFY(watcher.boxes().isEmpty());
    QVERIFY2(pdf.error.isEmpty(), qPrintable(pdf.error));
    QCOMPARE(pdf.visibleLines().value(1), QStringLiteral("kept"));
    // The file name the dialog proposed did not become the printer.
    QVERIFY(QDir(dir.path()).isEmpty());
}

// A queue that refuses jobs is found when the document is handed over: the last step fails.
void TestPrinterCups::refusedJobFailsLastStep()
{
    tvx::SystemPrinter printer;
    QVERIFY2(printer.selectPrinter(refusingQueue), qPrintable(printer.errorString()));
    ModalWatcher watcher;
    tvx::printReport(printer, "   1    12.5", nullptr);

    QCOMPARE(watcher.boxes().size(), 1);
    QCOMPARE(watcher.boxes().first().text, QStringLiteral("The form can't be printed."));
    QVERIFY2(printer.errorString().contains(QStringLiteral("refused")),
             qPrintable(printer.errorString()));
}

QTEST_MAIN(TestPrinterCups)
#include "tst_printer_cups.moc"
