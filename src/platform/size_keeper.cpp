#include "size_keeper.h"

#include <QEvent>
#include <QTimer>
#include <QWidget>

namespace tvx {

namespace {

constexpr Qt::WindowStates Refused = Qt::WindowMaximized | Qt::WindowFullScreen;
// How long after undoing a refused state the window manager's own moves are put right.
constexpr qint64 SettleMs = 1000;
// How long a place and size must last to be the one a refused state is undone to.
constexpr int KeepMs = 300;

} // namespace

SizeKeeper::SizeKeeper(QWidget *window) : QObject(window), m_window(window)
{
    window->installEventFilter(this);
    m_keep.setSingleShot(true);
    m_keep.setInterval(KeepMs);
    connect(&m_keep, &QTimer::timeout, this, [this] { m_normal = m_candidate; });
}

bool SizeKeeper::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_window && (event->type() == QEvent::WindowStateChange ||
                                event->type() == QEvent::Resize || event->type() == QEvent::Move))
        // After the window manager's change has been taken in, not in the middle of it.
        QTimer::singleShot(0, this, &SizeKeeper::restore);
    return false;
}

void SizeKeeper::restore()
{
    const Qt::WindowStates state = m_window->windowState();
    if (state & Qt::WindowMinimized)
        return;
    const bool settling = m_sinceUndone.isValid() && m_sinceUndone.elapsed() < SettleMs;
    if (state & Refused) {
        m_keep.stop();
        m_window->setWindowState(state & ~Refused);
        m_sinceUndone.start();
    } else if (!settling) {
        const QSize allowed =
            m_window->size().expandedTo(m_window->minimumSize()).boundedTo(m_window->maximumSize());
        if (allowed != m_window->size()) {
            m_window->resize(allowed);
        } else {
            m_candidate = m_window->geometry();
            m_keep.start();
        }
        return;
    }
    // The window's own place, not its frame's: right also while the window manager has not
    // yet told the frame it gives the window back.
    if (m_normal.isValid() && m_window->geometry() != m_normal)
        m_window->setGeometry(m_normal);
}

} // namespace tvx
