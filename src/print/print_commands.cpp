#include "print_commands.h"

#include "platform/console.h"
#include "platform/printer.h"
#include "platform/windows.h"
#include "print/reading_report.h"

namespace tvx {

namespace {

// A step that fails stops there; the user is told and printing goes on with the next step.
void step(bool done, const Printer &printer, QWidget *parent)
{
    if (done)
        return;
    writeErrorLine(printer.errorString());
    messageBox(parent, printFailureMessage());
}

// The reading text is one step: its first line that fails ends it.
bool printText(Printer &printer, const QByteArray &text)
{
    const QList<QByteArray> lines = report::textLines(text);
    for (const QByteArray &line : lines) {
        if (!printer.printLine(line))
            return false;
    }
    return true;
}

} // namespace

void printReport(Printer &printer, const QByteArray &text, QWidget *parent)
{
    step(printer.printLine(report::heading()), printer, parent);
    step(printer.printLine(report::separator()), printer, parent);
    step(printText(printer, text), printer, parent);
    step(printer.printLine(report::closing()), printer, parent);
    step(printer.endDocument(), printer, parent);
}

void setupPrinter(Printer &printer, QWidget *parent)
{
    printer.showPrinter(parent);
}

} // namespace tvx
