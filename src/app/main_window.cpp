#include "main_window.h"

#include "app/capture_notice.h"
#include "app/spoken_notice.h"
#include "files/reading_file.h"
#include "files/reading_file_load.h"
#include "journal/capture_journal.h"
#include "journal/journal_folder.h"
#include "platform/console.h"
#include "platform/files/file_mapping.h"
#include "platform/files/mapping_watch.h"
#include "platform/printer.h"
#include "platform/serial/serial_port.h"
#include "platform/windows.h"
#include "port/port_link.h"
#include "port/port_recovery.h"
#include "port/port_selection_window.h"
#include "print/print_commands.h"
#include "reading/reading_view.h"
#include "ui_main_window.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QMouseEvent>

namespace tvx {

MainWindow::MainWindow(std::unique_ptr<SerialControl> comm, QWidget *parent)
    : QMainWindow(parent), m_ui(std::make_unique<Ui::main>()), m_comm(std::move(comm)),
      m_portLink(std::make_unique<PortLink>(*m_comm)),
      m_portRecovery(std::make_unique<PortRecovery>(*m_portLink)),
      m_printer(std::make_unique<SystemPrinter>())
{
    m_ui->setupUi(this);
    m_comm->setObjectName(QStringLiteral("Comm1"));
    m_ui->txtreading->setReadingText(&m_text);
    m_capture = std::make_unique<Capture>(*m_comm, m_text, static_cast<CaptureView &>(*this));
    connect(m_comm.get(), &SerialControl::onComm, m_capture.get(), &Capture::Comm1_OnComm);
    m_journal = std::make_unique<CaptureJournal>(journalFolder());
    m_journal->follow(*m_capture, m_text);
    // What the flashing notice shows is told to a screen reader user too.
    m_spokenNotice = new SpokenNotice(m_ui->surface);
    capturenotice::follow(*m_capture, m_text, *m_spokenNotice);
    resize(sizeHint());
    // The frame fits the layout: exactly as wide, and at least as tall (the layout sees to
    // that). A taller window gives the reading area more lines; every other control keeps its
    // place.
    setMaximumWidth(width());
    withoutMaximise(this);
    m_readingMargin = m_ui->surface->minimumHeight() - m_ui->txtreading->geometry().bottom() - 1;

    // A reading file dropped anywhere on the window is opened.
    setAcceptDrops(true);

    // Right clicks on the window's own surface (the controls keep their own), and its height.
    m_ui->surface->installEventFilter(this);

    connect(m_ui->Command1, &QPushButton::clicked, this, &MainWindow::Command1_Click);
    connect(m_ui->mnuexit, &QAction::triggered, this, &MainWindow::mnuexit_Click);
    connect(m_ui->mnuport, &QAction::triggered, this, &MainWindow::mnuport_Click);
    connect(m_ui->mnuopen, &QAction::triggered, this, &MainWindow::mnuopen_Click);
    connect(m_ui->mnusave, &QAction::triggered, this, &MainWindow::mnusave_Click);
    connect(m_ui->mnuhelp, &QAction::triggered, this, &MainWindow::mnuhelp_Click);
    connect(m_ui->mnuabout, &QAction::triggered, this, &MainWindow::mnuabout_Click);
    connect(m_ui->mnuprint, &QAction::triggered, this, &MainWindow::mnuprint_Click);
    connect(m_ui->mnusetup, &QAction::triggered, this, &MainWindow::mnusetup_Click);
    // A desktop user sees the port's fate in the window (the reading area, the port hints);
    // standard error tells it in words for a terminal.
    const auto tell = [](const QString &line) { writeErrorLine(line); };
    connect(m_comm.get(), &SerialControl::deviceLost, this, tell);
    connect(m_portRecovery.get(), &PortRecovery::reopened, this, tell);
    connect(m_portRecovery.get(), &PortRecovery::notReopened, this, tell);
    // A long reading file is shown from the file itself; another program cutting it short
    // takes away what it held, and what shows in its place would be no readings.
    connect(&MappingWatch::instance(), &MappingWatch::cut, this, &MainWindow::readingFileCut);
}

void MainWindow::readingFileCut()
{
    QString path;
    if (!FileMapping::cutShort(m_text.bytes(), &path))
        return;
    m_text.clear();
    messageBox(this, readingfile::loadFailure(path, QStringLiteral("another program made the file "
                                                                   "shorter while it was shown")));
}

MainWindow::~MainWindow()
{
    // Exit in the middle of a capture ends it at once, as always; what arrived is in the
    // journal all the same. Nothing is said of it any more.
    disconnect(m_capture.get(), nullptr, m_spokenNotice, nullptr);
    m_capture->abandon();
}

SerialControl &MainWindow::comm() const
{
    return *m_comm;
}

PortLink &MainWindow::portLink() const
{
    return *m_portLink;
}

void MainWindow::start()
{
    Form_Load();
    if (!m_startupFailed)
        show();
}

void MainWindow::Form_Load()
{
    if (m_portLink->loadAtStartup())
        return;
    writeErrorLine(m_portLink->failure());
    messageBox(nullptr,
               QStringLiteral("Port configuratin file is lost so select apropriate serial port "
                              "which is necessary "),
               QStringLiteral("File Error"));
    m_portLink->setPortNumber(1);
    m_startupFailed = true;
    mnuport_Click();
    hide();
}

void MainWindow::setReadingAreaVisible(bool visible)
{
    QWidget *reading = m_ui->txtreading;
    if (visible) {
        reading->show();
        // Back in the reading area, where Page Down scrolls, whichever control the capture
        // left it on; in a window that is not active this only marks where it goes back to.
        reading->setFocus();
        return;
    }
    // Hidden with the focus, the reading area would pass it on to the next control in the tab
    // order, Exit, where one press of Space ends the program in the middle of the capture. The
    // window's surface holds it meanwhile: keys do nothing there, and Tab still leads on.
    if (focusWidget() == reading)
        m_ui->surface->setFocus();
    reading->hide();
}

void MainWindow::setNoticeVisible(bool visible)
{
    m_ui->cmdcap->setVisible(visible);
}

bool MainWindow::noticeVisible() const
{
    return !m_ui->cmdcap->isHidden();
}

void MainWindow::beep()
{
    tvx::beep();
}

void MainWindow::showMain()
{
    m_startupFailed = false;
    showInFront(this);
}

void MainWindow::Command1_Click()
{
    QCoreApplication::exit(0);
}

void MainWindow::mnuexit_Click()
{
    QCoreApplication::exit(0);
}

void MainWindow::mnuport_Click()
{
    m_portWindow.show([this] {
        auto *window = new PortSelectionWindow(*m_portLink, this);
        connect(window, &PortSelectionWindow::mainWindowWanted, this, &MainWindow::showMain);
        // Closed through its frame while nothing else is on screen: never leave the program
        // running without a window.
        connect(window, &PortSelectionWindow::closed, this, [this] {
            if (isHidden())
                showMain();
        });
        return window;
    });
}

void MainWindow::mnuopen_Click()
{
    m_openWindow.show([this] {
        auto *window = new OpenWindow(m_text, this);
        connect(window, &OpenWindow::mainWindowWanted, this, &MainWindow::showMain);
        return window;
    });
}

void MainWindow::mnusave_Click()
{
    m_saveWindow.show([this] {
        auto *window = new SaveWindow(m_text, m_journal.get(), this);
        connect(window, &SaveWindow::mainWindowWanted, this, &MainWindow::showMain);
        return window;
    });
}

void MainWindow::mnuhelp_Click()
{
    m_helpWindow.show([this] { return new HelpWindow(this); });
}

void MainWindow::mnuabout_Click()
{
    m_aboutWindow.show([this] { return new AboutWindow(this); });
}

void MainWindow::mnuprint_Click()
{
    printReport(*m_printer, m_text.bytes(), this);
}

void MainWindow::mnusetup_Click()
{
    setupPrinter(*m_printer, this);
}

void MainWindow::setPrinter(std::unique_ptr<Printer> printer)
{
    m_printer = std::move(printer);
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    // Closing the window through its frame is Exit.
    event->accept();
    QCoreApplication::exit(0);
}

void MainWindow::openReadingFile(const QString &path)
{
    // A file asked for while another is still being read takes its place.
    delete m_load;
    auto *load = new ReadingFileLoad(m_text, this);
    m_load = load;
    connect(load, &ReadingFileLoad::finished, this,
            [this, load, path](bool loaded, const QString &reason) {
                load->deleteLater();
                if (m_load == load)
                    m_load = nullptr; // done: a later file must not delete it
                if (!loaded)
                    messageBox(this, readingfile::loadFailure(path, reason));
            });
    load->start(path);
}

namespace {
// The first local file among what is dragged, if any.
QString droppedFile(const QMimeData *data)
{
    const QList<QUrl> urls = data->urls();
    for (const QUrl &url : urls) {
        if (url.isLocalFile())
            return url.toLocalFile();
    }
    return QString();
}
} // namespace

void MainWindow::dragEnterEvent(QDragEnterEvent *event)
{
    if (!droppedFile(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent *event)
{
    const QString path = droppedFile(event->mimeData());
    if (path.isEmpty())
        return;
    event->acceptProposedAction();
    // After the drop has ended: a message box inside it would hold the dragging program.
    QMetaObject::invokeMethod(
        this, [this, path] { openReadingFile(QDir::toNativeSeparators(path)); },
        Qt::QueuedConnection);
}

bool MainWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_ui->surface && event->type() == QEvent::Resize) {
        QWidget *reading = m_ui->txtreading;
        reading->resize(reading->width(), m_ui->surface->height() - reading->y() - m_readingMargin);
    }
    if (watched == m_ui->surface && event->type() == QEvent::MouseButtonPress) {
        auto *mouse = static_cast<QMouseEvent *>(event);
        // A press that a label passed on still counts as a press on that label.
        if (!m_ui->surface->childAt(mouse->position().toPoint()))
            Form_MouseDown(mouse->button(), mouse->globalPosition().toPoint());
    }
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::Form_MouseDown(Qt::MouseButton button, const QPoint &globalPos)
{
    if (button == Qt::RightButton)
        m_ui->mnufile->popup(globalPos);
}

} // namespace tvx
