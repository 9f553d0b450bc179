#pragma once

#include <QWidget>

#include <memory>

namespace Ui {
class frmhelp;
}

namespace tvx {

// The help window: the fixed help text in a yellow read-only box, and a button that closes it.
class HelpWindow : public QWidget {
    Q_OBJECT
public:
    explicit HelpWindow(QWidget *parent = nullptr);
    ~HelpWindow() override;

    void cmdclose_Click();

private:
    std::unique_ptr<Ui::frmhelp> m_ui;
};

} // namespace tvx
