#pragma once

#include <QByteArray>
#include <QString>

class QWidget;

namespace tvx {

class Printer;

// What each printing step that fails shows.
inline QString printFailureMessage()
{
    return QStringLiteral("The form can't be printed.");
}

// File > Print: the reading report as one job on the current printer, in five steps: the
// heading, the separator line, the reading text, the closing line, the end of the document.
// A step that fails shows the failure message and the next step still runs, so with no
// printer at all the message comes five times. The text is referred to, not copied: it is
// read when its step comes, and a capture that is running may have added to it by then.
void printReport(Printer &printer, const QByteArray &text, QWidget *parent);

// File > Print Setup: the printer selection dialog. Cancel keeps the printer and says nothing.
void setupPrinter(Printer &printer, QWidget *parent);

} // namespace tvx
