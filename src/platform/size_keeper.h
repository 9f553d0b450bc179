#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QRect>
#include <QTimer>

class QWidget;

namespace tvx {

// Puts a window back when its window manager maximises it, shows it full screen or gives it a
// size outside its least and greatest sizes: the layout has one size and would otherwise sit in
// a corner of a grey void, or be cut off. A maximised or full-screen window comes back where it
// was and as large as it was, title bar and all, however the window manager moved it meanwhile.
class SizeKeeper : public QObject {
public:
    explicit SizeKeeper(QWidget *window);

    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void restore();

    QWidget *m_window;
    // Where the window was, and its size, the last time it had a size its layout allows
    // and no state the program refuses, for a moment at least: a window manager that makes a
    // window full screen may move it before it tells the new state, and that place is not kept.
    QRect m_normal;
    QRect m_candidate;
    QTimer m_keep;
    // Since a refused state was undone: the window manager's own undoing may still move the
    // window for a moment, and is put right.
    QElapsedTimer m_sinceUndone;
};

} // namespace tvx
