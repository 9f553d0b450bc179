#pragma once

#include <QWidget>

#include <memory>

class QRadioButton;

namespace Ui {
class frmoption;
}

namespace tvx {

class PortLink;

// The port selection window: an option marks the port number at once; Ok stores it in tvx.cfg
// and reopens the port, Cancel puts back the number the window opened with and reopens.
class PortSelectionWindow : public QWidget {
    Q_OBJECT
public:
    explicit PortSelectionWindow(PortLink &link, QWidget *parent = nullptr);
    ~PortSelectionWindow() override;

    void cmdok_Click();
    void cmdcancel_Click();

Q_SIGNALS:
    // The port opened: the main window comes (back) to the front.
    void mainWindowWanted();
    // The window closed, by a button or through its frame.
    void closed();

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void Form_Load();
    // Each option's tooltip names the device behind its number and why its last opening
    // failed; captions stay as they are.
    void showPortHints();
    void optionClicked(qint16 port, bool marked);
    QRadioButton *option(qint16 port) const;

    std::unique_ptr<Ui::frmoption> m_ui;
    PortLink &m_link;
};

} // namespace tvx
