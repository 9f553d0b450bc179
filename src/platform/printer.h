#pragma once

#include <QByteArray>
#include <QString>

#include <functional>
#include <memory>

class QPrinter;
class QWidget;

namespace tvx {

// The current printer. Every operation reports its failure by returning false; errorString()
// then says why.
class Printer {
public:
    virtual ~Printer() = default;

    // Prints one line at the print position and moves the position to the start of the next
    // line. The line holds no line break; its bytes are shown one character each (Latin-1).
    // The first line opens a document; when a page is full the line goes on a new page.
    virtual bool printLine(const QByteArray &line) = 0;

    // Ends the open document and hands it to the printer as one job.
    virtual bool endDocument() = 0;

    // The modal printer selection dialog. The printer chosen there receives every later
    // document; Cancel changes nothing. Returns false when nothing was chosen.
    virtual bool showPrinter(QWidget *parent) = 0;

    virtual QString errorString() const = 0;
};

// The printing service's printer through Qt: the service's default printer until the user
// chooses another, a queue or "Print to File (PDF)".
class SystemPrinter final : public Printer {
public:
    SystemPrinter();
    ~SystemPrinter() override;

    // Chooses the printing service's printer of that name; when there is none, returns false
    // and keeps the current one.
    bool selectPrinter(const QString &name);
    // Chooses output to a PDF file, replaced by every document.
    void selectFile(const QString &path);
    // The title of the jobs as the printing service lists them; the application's by default.
    void setDocumentName(const QString &name) { m_documentName = name; }
    // Shows the selection dialog on the printer and tells whether the user chose Ok: the
    // toolkit's print dialog (Windows's own on Windows) unless another is set (a test's).
    using SelectionDialog = std::function<bool(QPrinter &printer, QWidget *parent)>;
    void setSelectionDialog(SelectionDialog dialog) { m_dialog = std::move(dialog); }

    bool printLine(const QByteArray &line) override;
    bool endDocument() override;
    bool showPrinter(QWidget *parent) override;
    QString errorString() const override { return m_error; }

private:
    struct Device;

    Device &device();
    bool beginDocument();
    bool fail(const QString &reason);
    bool failToBegin(const QString &reason);

    std::unique_ptr<Device> m_device;
    QString m_error;
    // Why the document of the print command under way could not be begun.
    QString m_beginFailure;
    QString m_documentName;
    SelectionDialog m_dialog;
};

// What the toolkit's selection dialog proposes for "Print to File (PDF)" while no file has been
// chosen: report.pdf in the working directory. Windows's dialog is proposed no file.
QString defaultOutputFile();

} // namespace tvx
