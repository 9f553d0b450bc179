#pragma once

#include <QWidget>

#include <memory>

namespace Ui {
class frmabout;
}

namespace tvx {

// The about window: the picture of the instrument, who made the program and its version.
class AboutWindow : public QWidget {
    Q_OBJECT
public:
    explicit AboutWindow(QWidget *parent = nullptr);
    ~AboutWindow() override;

    void cmdclose_Click();

private:
    std::unique_ptr<Ui::frmabout> m_ui;
};

} // namespace tvx
