#pragma once

#include "platform/windows.h"

#include <QPointer>
#include <QWidget>

namespace tvx {

// The one place a window of the program lives: at most one instance, shown not modal, brought
// to the front when shown again, discarded when it closes and made afresh the next time.
template <typename Window> class WindowSlot {
public:
    // make() builds a new window when none is open.
    template <typename Make> Window *show(Make make)
    {
        // A closed window is already on its way out (deleted later); it is never shown again.
        if (m_window && !m_window->isVisible())
            m_window.clear();
        if (!m_window) {
            m_window = make();
            m_window->setAttribute(Qt::WA_DeleteOnClose);
            // Each of these windows has one size, the one its layout gives.
            withoutMaximise(m_window);
        }
        showInFront(m_window);
        return m_window;
    }

    Window *window() const { return m_window.data(); }

private:
    QPointer<Window> m_window;
};

} // namespace tvx
