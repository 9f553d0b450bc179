#include "save_window.h"

#include "app/reading_text.h"
#include "browsing.h"
#include "join_path.h"
#include "journal/capture_journal.h"
#include "platform/windows.h"
#include "reading_file.h"
#include "ui_save_window.h"

namespace tvx {

SaveWindow::SaveWindow(ReadingText &text, const CaptureJournal *journal, QWidget *parent)
    : QWidget(parent, Qt::Window), m_ui(std::make_unique<Ui::frmsave>()), m_text(text),
      m_journal(journal)
{
    m_ui->setupUi(this);
    connect(m_ui->Drive1, &DriveList::changed, this, &SaveWindow::Drive1_Change);
    connect(m_ui->Dir1, &FolderList::changed, this, &SaveWindow::Dir1_Change);
    connect(m_ui->txtfilename, &QLineEdit::textChanged, this, &SaveWindow::txtfilename_Change);
    connect(m_ui->cmdsaveok, &QPushButton::clicked, this, &SaveWindow::cmdsaveok_Click);
    // Return after typing the name saves; Escape closes without saving, the reading kept.
    connect(m_ui->txtfilename, &QLineEdit::returnPressed, m_ui->cmdsaveok, &QPushButton::click);
    closeOnEscape(this);
    Form_Load();
}

SaveWindow::~SaveWindow() = default;

QString SaveWindow::targetPath() const
{
    return joinPath(m_ui->Dir1->path(), m_ui->txtfilename->text());
}

void SaveWindow::showTargetPath()
{
    m_ui->Text1->setText(targetPath());
}

void SaveWindow::Form_Load()
{
    browsing::startAtWorkingFolder(*m_ui->Dir1, this);
    showTargetPath();
}

void SaveWindow::Drive1_Change()
{
    browsing::followDrive(*m_ui->Drive1, *m_ui->Dir1, this);
}

void SaveWindow::Dir1_Change()
{
    m_ui->Drive1->showDriveOf(m_ui->Dir1->path());
    showTargetPath();
}

void SaveWindow::txtfilename_Change()
{
    showTargetPath();
}

void SaveWindow::cmdsaveok_Click()
{
    // Computed afresh: the display is only a view of the same string.
    const QString path = targetPath();
    QString reason;
    bool saved = false;
    bool noRoom = false;
    if (m_ui->txtfilename->text().isEmpty())
        reason = QStringLiteral("no file name was given");
    else
        saved = readingfile::save(path, m_text.bytes(), &reason, &noRoom);
    if (!saved) {
        QString message =
            QStringLiteral("The readings could not be saved as %1: %2").arg(path, reason);
        const QString journalFile = m_journal ? m_journal->readingTextFile() : QString();
        if (noRoom && !journalFile.isEmpty())
            message +=
                QStringLiteral("\nThe capture is also kept in the journal: %1").arg(journalFile);
        messageBox(this, message);
        return;
    }
    close();
    Q_EMIT mainWindowWanted();
}

} // namespace tvx
