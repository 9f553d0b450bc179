#include "about_window.h"

#include "info_resources.h"
#include "platform/windows.h"
#include "ui_about_window.h"

namespace tvx {

AboutWindow::AboutWindow(QWidget *parent)
    : QWidget(parent, Qt::Window), m_ui(std::make_unique<Ui::frmabout>())
{
    // The picture comes from the resources, which must be there before the controls are made.
    loadInfoResources();
    m_ui->setupUi(this);
    // A screen reader reads the window's description when the window opens; its words are the
    // label's, without the runs of blanks that lay them out.
    setAccessibleDescription(m_ui->Label1->text().simplified());
    connect(m_ui->cmdclose, &QPushButton::clicked, this, &AboutWindow::cmdclose_Click);
    closeOnEscape(this);
}

AboutWindow::~AboutWindow() = default;

void AboutWindow::cmdclose_Click()
{
    close();
}

} // namespace tvx
