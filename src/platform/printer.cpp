#include "printer.h"

#include "platform/windows.h"

#include <QDir>
#include <QFontMetricsF>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QPrinterInfo>

#include <utility>

#if defined(Q_OS_UNIX) && __has_include(<dlfcn.h>)
#include <dlfcn.h>
#define TVX_HAVE_DLFCN 1
#endif

namespace tvx {

namespace {

// A fixed-pitch font keeps the ID and Reading columns of the instrument's text under each
// other; a proportional one would shift them (and join letters into ligatures).
QFont reportFont()
{
    QFont font;
    font.setFamilies({QStringLiteral("Liberation Mono"), QStringLiteral("DejaVu Sans Mono"),
                      QStringLiteral("Monospace")});
    font.setStyleHint(QFont::TypeWriter);
    font.setFixedPitch(true);
    font.setKerning(false);
    font.setPointSize(10);
    return font;
}

// Qt hands a finished document to CUPS and drops CUPS's answer, so a queue that refuses the
// job (gone, not accepting jobs, scheduler down) would look like success. The answer is still
// there in libcups's last error, in the library Qt's print plugin has loaded already.
bool spoolerRefused(QString *reason)
{
#ifdef TVX_HAVE_DLFCN
    void *cups = dlopen("libcups.so.2", RTLD_LAZY | RTLD_NOLOAD);
    if (!cups)
        return false;
    using LastError = int (*)();
    using LastErrorString = const char *(*)();
    const auto lastError = reinterpret_cast<LastError>(dlsym(cups, "cupsLastError"));
    const auto lastErrorString =
        reinterpret_cast<LastErrorString>(dlsym(cups, "cupsLastErrorString"));
    bool refused = false;
    if (lastError && lastErrorString) {
        // IPP status codes from 0x0400 on are client and server errors.
        refused = lastError() >= 0x0400;
        if (refused)
            *reason = QStringLiteral("The printing service refused the job: %1")
                          .arg(QString::fromLocal8Bit(lastErrorString()));
    }
    dlclose(cups);
    return refused;
#else
    Q_UNUSED(reason);
    return false;
#endif
}

// Where the printer sends documents: a queue of the printing service or a PDF file.
struct Choice {
    QString printerName;
    QPrinter::OutputFormat format;
    QString outputFile;
};

Choice choiceOf(const QPrinter &printer)
{
    return {printer.printerName(), printer.outputFormat(), printer.outputFileName()};
}

void restoreChoice(QPrinter &printer, const Choice &choice)
{
    printer.setOutputFileName(choice.outputFile);
    if (!choice.printerName.isEmpty())
        printer.setPrinterName(choice.printerName);
    printer.setOutputFormat(choice.format);
}

} // namespace

QString defaultOutputFile()
{
    return QDir::current().absoluteFilePath(QStringLiteral("report.pdf"));
}

struct SystemPrinter::Device {
    QPrinter printer{QPrinter::HighResolution};
    QPainter painter;
    // Distance of the print position from the top of the page's printable area.
    qreal top = 0;
};

SystemPrinter::SystemPrinter() : m_documentName(applicationTitle()) {}

SystemPrinter::~SystemPrinter() = default;

// The printer is looked up only when first needed: asking the printing service can take a
// while, and a program that never prints should not wait for it.
SystemPrinter::Device &SystemPrinter::device()
{
    if (!m_device)
        m_device = std::make_unique<Device>();
    return *m_device;
}

bool SystemPrinter::fail(const QString &reason)
{
    m_error = reason;
    return false;
}

bool SystemPrinter::failToBegin(const QString &reason)
{
    m_beginFailure = reason;
    return fail(reason);
}

bool SystemPrinter::selectPrinter(const QString &name)
{
    Device &d = device();
    if (d.painter.isActive())
        return fail(QStringLiteral("A document is being printed."));
    if (QPrinterInfo::printerInfo(name).isNull())
        return fail(QStringLiteral("The printing service has no printer \"%1\".").arg(name));
    const Choice before = choiceOf(d.printer);
    d.printer.setOutputFileName(QString());
    d.printer.setPrinterName(name);
    d.printer.setOutputFormat(QPrinter::NativeFormat);
    if (d.printer.printerName() != name) {
        restoreChoice(d.printer, before);
        return fail(QStringLiteral("The printer \"%1\" cannot be used.").arg(name));
    }
    return true;
}

void SystemPrinter::selectFile(const QString &path)
{
    Device &d = device();
    if (d.painter.isActive())
        return;
    d.printer.setOutputFileName(path);
    d.printer.setOutputFormat(QPrinter::PdfFormat);
}

bool SystemPrinter::beginDocument()
{
    Device &d = device();
    // With no printer at all Qt still offers a PDF printer, one without a file to write.
    if (d.printer.outputFormat() == QPrinter::PdfFormat && d.printer.outputFileName().isEmpty())
        return failToBegin(QStringLiteral("No printer is installed."));
    d.printer.setDocName(m_documentName);
    if (!d.painter.begin(&d.printer)) {
        if (!d.printer.outputFileName().isEmpty())
            return failToBegin(QStringLiteral("Cannot write %1.").arg(d.printer.outputFileName()));
        return failToBegin(
            QStringLiteral("The printer \"%1\" cannot be used.").arg(d.printer.printerName()));
    }
    m_beginFailure.clear();
    d.painter.setFont(reportFont());
    d.top = 0;
    return true;
}

bool SystemPrinter::printLine(const QByteArray &line)
{
    Device &d = device();
    if (!d.painter.isActive() && !beginDocument())
        return false;
    const QFontMetricsF metrics(d.painter.font(), &d.printer);
    if (d.top > 0 && d.top + metrics.height() > d.printer.height()) {
        if (!d.printer.newPage())
            return fail(QStringLiteral("The printer cannot start a new page."));
        d.top = 0;
    }
    d.painter.drawText(QPointF(0, d.top + metrics.ascent()), QString::fromLatin1(line));
    d.top += metrics.lineSpacing();
    return true;
}

bool SystemPrinter::endDocument()
{
    Device &d = device();
    // A document that could not be begun cannot be ended, for the same reason.
    if (!d.painter.isActive())
        return fail(m_beginFailure.isEmpty() ? QStringLiteral("No document is open.")
                                             : std::exchange(m_beginFailure, QString()));
    const bool toSpooler =
        d.printer.outputFormat() == QPrinter::NativeFormat && d.printer.outputFileName().isEmpty();
    if (!d.painter.end() || d.printer.printerState() == QPrinter::Error)
        return fail(QStringLiteral("The document could not be finished."));
    QString reason;
    if (toSpooler && spoolerRefused(&reason))
        return fail(reason);
    return true;
}

bool SystemPrinter::showPrinter(QWidget *parent)
{
    Device &d = device();
    if (d.painter.isActive())
        return fail(QStringLiteral("A document is being printed."));
    const Choice before = choiceOf(d.printer);
#ifndef Q_OS_WIN
    // The dialog offers "Print to File (PDF)" with the printer's file name, which is empty
    // until a file has been chosen; propose one without leaving the current printer. Windows's
    // dialog ticks its "Print to file" box for a printer with a file name instead, and an Ok
    // there would send every later report to a file: it is proposed none.
    if (before.outputFile.isEmpty()) {
        d.printer.setOutputFileName(defaultOutputFile());
        if (!before.printerName.isEmpty())
            d.printer.setPrinterName(before.printerName);
        d.printer.setOutputFormat(before.format);
    }
#endif
    const auto toolkitDialog = [](QPrinter &printer, QWidget *parent) {
        QPrintDialog dialog(&printer, parent);
        dialog.setObjectName(QStringLiteral("dlgprn"));
        return dialog.exec() == QDialog::Accepted;
    };
    if (m_dialog ? m_dialog(d.printer, parent) : toolkitDialog(d.printer, parent))
        return true;
    // Cancel: the proposed file name must not turn into a choice (with no printer it would
    // make every report a file).
    restoreChoice(d.printer, before);
    return fail(QStringLiteral("No printer was chosen."));
}

} // namespace tvx
