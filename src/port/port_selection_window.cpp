#include "port_selection_window.h"

#include "config_file.h"
#include "platform/console.h"
#include "platform/windows.h"
#include "port_description.h"
#include "port_link.h"
#include "ui_port_selection_window.h"

#include <QCloseEvent>
#include <QEvent>

namespace tvx {

PortSelectionWindow::PortSelectionWindow(PortLink &link, QWidget *parent)
    : QWidget(parent, Qt::Window), m_ui(std::make_unique<Ui::frmoption>()), m_link(link)
{
    m_ui->setupUi(this);
    for (qint16 port = 1; port <= 4; ++port) {
        connect(option(port), &QRadioButton::clicked, this,
                [this, port](bool marked) { optionClicked(port, marked); });
        // The hint is made afresh when it is about to show: adapters come and go.
        option(port)->installEventFilter(this);
    }
    // Tab reaches the marked port, the arrow keys mark another.
    asOneGroup({m_ui->Option1, m_ui->Option2, m_ui->Option3, m_ui->Option4});
    connect(m_ui->cmdok, &QPushButton::clicked, this, &PortSelectionWindow::cmdok_Click);
    connect(m_ui->cmdcancel, &QPushButton::clicked, this, &PortSelectionWindow::cmdcancel_Click);
    Form_Load();
}

PortSelectionWindow::~PortSelectionWindow() = default;

QRadioButton *PortSelectionWindow::option(qint16 port) const
{
    QRadioButton *const options[] = {m_ui->Option1, m_ui->Option2, m_ui->Option3, m_ui->Option4};
    return options[port - 1];
}

void PortSelectionWindow::Form_Load()
{
    m_link.setSavedPortNumber(m_link.portNumber());
    const qint16 port = m_link.portNumber();
    const bool listed = port >= 1 && port <= 4;
    option(listed ? port : 1)->setChecked(true);
    // A number from tvx.cfg outside the four options shows as "Comport 1", and Ok then stores
    // what the window shows; Cancel still goes back to the saved number.
    if (!listed)
        m_link.setPortNumber(1);
    m_ui->cmdok->setFocus();
    showPortHints();
}

void PortSelectionWindow::showPortHints()
{
    const PortMap map = m_link.comm().portMap();
    const QString lockNote = m_link.comm().lockFolderNote();
    for (qint16 port = 1; port <= 4; ++port) {
        option(port)->setToolTip(
            portdescription::hint(map.entry(port), m_link.lastFailure(port), lockNote));
    }
}

bool PortSelectionWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::ToolTip)
        showPortHints();
    return QWidget::eventFilter(watched, event);
}

void PortSelectionWindow::optionClicked(qint16 port, bool marked)
{
    if (marked)
        m_link.setPortNumber(port);
}

void PortSelectionWindow::cmdok_Click()
{
    QString reason;
    if (!configfile::write(m_link.portNumber(), &reason)) {
        messageBox(this, QStringLiteral("The port setting could not be saved in %1: %2")
                             .arg(configfile::fileName(), reason));
    }
    if (!m_link.openPort()) {
        writeErrorLine(m_link.failure());
        showPortHints();
        messageBox(this,
                   QStringLiteral("Selected Port is used by another device or it might be not "
                                  "available "),
                   QStringLiteral("Port Selection Error"));
        return;
    }
    close();
    Q_EMIT mainWindowWanted();
}

void PortSelectionWindow::cmdcancel_Click()
{
    m_link.setPortNumber(m_link.savedPortNumber());
    if (!m_link.openPort(PortLink::Choice::Cancel)) {
        writeErrorLine(m_link.failure());
        showPortHints();
        return;
    }
    close();
    Q_EMIT mainWindowWanted();
}

void PortSelectionWindow::closeEvent(QCloseEvent *event)
{
    event->accept();
    Q_EMIT closed();
}

} // namespace tvx
