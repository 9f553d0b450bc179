#pragma once

#include <QList>
#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <functional>

namespace tvx::test {

// Watches for modal message boxes while a test drives the program, records what each showed
// and answers it with its first button, so that code which opens one runs on.
class ModalWatcher : public QObject {
    Q_OBJECT
public:
    struct Box {
        QString title;
        QString text;
        QMessageBox::StandardButtons buttons;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
    };

    // holdMs: how long each box stays open before it is answered.
    explicit ModalWatcher(int holdMs = 0, QObject *parent = nullptr);

    const QList<Box> &boxes() const { return m_boxes; }
    // Called once with each box while it is open, before it is answered.
    void onBox(std::function<void(QMessageBox *)> action) { m_action = std::move(action); }

private:
    void poll();

    QTimer m_timer;
    int m_holdMs;
    QList<Box> m_boxes;
    QPointer<QMessageBox> m_current;
    std::function<void(QMessageBox *)> m_action;
};

} // namespace tvx::test
