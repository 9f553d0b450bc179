#pragma once

#include <QListWidget>

namespace tvx {

// A list that shows when it has the keyboard focus by a frame inside its edge, as the reading
// area does: the style alone marks only the current entry, which looks the same as the selected
// one, so a keyboard user could not tell which list the keys go to.
class FramedList : public QListWidget {
public:
    using QListWidget::QListWidget;

protected:
    void paintEvent(QPaintEvent *event) override;
};

} // namespace tvx
