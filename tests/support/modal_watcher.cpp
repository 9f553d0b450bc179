#include "modal_watcher.h"

#include <QAbstractButton>
#include <QApplication>

namespace tvx::test {

ModalWatcher::ModalWatcher(int holdMs, QObject *parent) : QObject(parent), m_holdMs(holdMs)
{
    m_timer.setInterval(5);
    connect(&m_timer, &QTimer::timeout, this, &ModalWatcher::poll);
    m_timer.start();
}

void ModalWatcher::poll()
{
    auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
    if (!box || box == m_current)
        return;
    m_current = box;
    m_boxes.append({box->windowTitle(), box->text(), box->standardButtons(), box->icon()});
    if (m_action)
        m_action(box);
    QTimer::singleShot(m_holdMs, box, [box] { box->buttons().first()->click(); });
}

} // namespace tvx::test
