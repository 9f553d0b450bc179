#include "open_window.h"

#include "app/reading_text.h"
#include "browsing.h"
#include "join_path.h"
#include "platform/windows.h"
#include "reading_file.h"
#include "reading_file_load.h"
#include "ui_open_window.h"

namespace tvx {

namespace {
QString proposedName()
{
    return QStringLiteral("temp.dat");
}
} // namespace

OpenWindow::OpenWindow(ReadingText &text, QWidget *parent)
    : QWidget(parent, Qt::Window), m_ui(std::make_unique<Ui::frmopen>()), m_text(text)
{
    m_ui->setupUi(this);
    // The box shows exactly what is typed: an editable combo box would otherwise complete
    // the text inline from its entries (and in their case) while the list filters by the keys.
    m_ui->cmbext->setCompleter(nullptr);
    connect(m_ui->Drive1, &DriveList::changed, this, &OpenWindow::Drive1_Change);
    connect(m_ui->Dir1, &FolderList::changed, this, &OpenWindow::Dir1_Change);
    connect(m_ui->File1, &FileList::pathChanged, this, &OpenWindow::File1_PathChange);
    connect(m_ui->File1, &FileList::fileClicked, this, &OpenWindow::File1_Click);
    connect(m_ui->File1, &FileList::fileDoubleClicked, this, &OpenWindow::File1_DblClick);
    // Typing and choosing an entry are told apart: textEdited comes from the keyboard only.
    connect(m_ui->cmbext->lineEdit(), &QLineEdit::textEdited, this, &OpenWindow::cmbext_Change);
    connect(m_ui->cmbext, &QComboBox::activated, this, &OpenWindow::cmbext_Click);
    connect(m_ui->cmdok, &QPushButton::clicked, this, &OpenWindow::cmdok_Click);
    // Return after typing a path opens it; Escape closes the window, the reading text as it was.
    connect(m_ui->Text1, &QLineEdit::returnPressed, m_ui->cmdok, &QPushButton::click);
    closeOnEscape(this);
    Form_Load();
}

OpenWindow::~OpenWindow() = default;

void OpenWindow::Form_Load()
{
    m_ui->cmbext->addItems(
        {QStringLiteral("*.txt"), QStringLiteral("*.dat"), QStringLiteral("*.*")});
    m_ui->cmbext->setCurrentIndex(1);
    browsing::startAtWorkingFolder(*m_ui->Dir1, this);
    m_ui->Text1->setText(joinPath(m_ui->Dir1->path(), proposedName()));
}

void OpenWindow::Drive1_Change()
{
    browsing::followDrive(*m_ui->Drive1, *m_ui->Dir1, this);
}

void OpenWindow::Dir1_Change()
{
    m_ui->Drive1->showDriveOf(m_ui->Dir1->path());
    m_ui->File1->setPath(m_ui->Dir1->path());
    // A file chosen in the folder left behind is forgotten.
    m_ui->Text1->setText(joinPath(m_ui->Dir1->path(), proposedName()));
}

void OpenWindow::File1_PathChange()
{
    m_ui->File1->setPath(m_ui->Dir1->path());
}

void OpenWindow::cmbext_Change()
{
    m_ui->File1->setPattern(m_ui->cmbext->currentText());
}

void OpenWindow::cmbext_Click()
{
    m_ui->File1->setPattern(m_ui->cmbext->currentText());
}

void OpenWindow::File1_Click()
{
    const QString name = m_ui->File1->fileName();
    if (!name.isEmpty())
        m_ui->Text1->setText(joinPath(m_ui->File1->path(), name));
}

void OpenWindow::File1_DblClick()
{
    direct();
}

void OpenWindow::cmdok_Click()
{
    direct();
}

void OpenWindow::direct()
{
    // A second Ok while the file is being read changes nothing.
    if (m_load && m_load->running())
        return;
    const QString path = m_ui->Text1->text();
    auto *load = new ReadingFileLoad(m_text, this);
    m_load = load;
    // The capture that stopped the load fills the main window: shown as after a load, not left
    // on the task bar. This window stays for the box that comes once the capture has ended.
    connect(load, &ReadingFileLoad::gaveWay, this, &OpenWindow::mainWindowWanted);
    // The reading text is replaced only by a file read whole; a failure leaves it as it was.
    connect(load, &ReadingFileLoad::finished, this,
            [this, load, path](bool loaded, const QString &reason) {
                load->deleteLater();
                if (loaded) {
                    close();
                    Q_EMIT mainWindowWanted();
                } else {
                    messageBox(this, readingfile::loadFailure(path, reason));
                }
            });
    load->start(path);
}

} // namespace tvx
