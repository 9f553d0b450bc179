#include "help_window.h"

#include "help_text.h"
#include "platform/windows.h"
#include "ui_help_window.h"

namespace tvx {

HelpWindow::HelpWindow(QWidget *parent)
    : QWidget(parent, Qt::Window), m_ui(std::make_unique<Ui::frmhelp>())
{
    m_ui->setupUi(this);
    // Setting the text leaves the caret, and so the view, at the top.
    m_ui->txthlp->setPlainText(helptext::forDisplay(helptext::bytes()));
    connect(m_ui->cmdclose, &QPushButton::clicked, this, &HelpWindow::cmdclose_Click);
    closeOnEscape(this);
}

HelpWindow::~HelpWindow() = default;

void HelpWindow::cmdclose_Click()
{
    close();
}

} // namespace tvx
