#pragma once

#include <QWidget>

namespace tvx {

// A notice for assistive technology alone: never shown, and so changing nothing on screen. Each
// say() makes a screen reader present its text once, as it presents a desktop notification
// (Orca: "notification" and the text), whichever window or control has the keyboard focus.
class SpokenNotice : public QWidget {
    Q_OBJECT
public:
    explicit SpokenNotice(QWidget *parent = nullptr);

    void say(const QString &text);
};

} // namespace tvx
