#pragma once

#include <QPushButton>

namespace tvx {

// A button used only as a notice. Its caption wraps at blanks inside the button, so a caption
// such as "  DATA CAPTURING           WAIT" shows its last word on a line of its own.
class NoticeButton : public QPushButton {
    Q_OBJECT
public:
    using QPushButton::QPushButton;

protected:
    void paintEvent(QPaintEvent *event) override;
};

} // namespace tvx
