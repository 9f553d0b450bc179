#pragma once

#include <QString>

class QAbstractButton;
class QPainter;
class QRect;
class QWidget;

namespace tvx {

// The title a message box shows when it gives none of its own.
inline const QString &applicationTitle()
{
    static const QString title = QStringLiteral("Tarvix");
    return title;
}

// A modal message box with an OK button only and no icon; returns when the user closes it.
void messageBox(QWidget *parent, const QString &text, const QString &title = applicationTitle());

// The short system beep.
void beep();

// Shows a top-level window without blocking its owner, restores it when it is minimised and
// brings it to the front with the keyboard focus.
void showInFront(QWidget *window);

// A frame with a title, a system menu, minimise and close buttons and no maximise button: the
// windows' layouts have one width, and a window that cannot fill the screen is not maximised
// (window managers such as xfwm4 ignore the button then). The window keeps the size its least
// and greatest sizes allow: a window manager that maximises it, shows it full screen or gives
// it another size all the same (fluxbox's Alt+F10, icewm, an EWMH full-screen request) gets it
// back as it was, its layout whole; from full screen or maximised, also where it was, its title
// bar on the screen (SizeKeeper).
void withoutMaximise(QWidget *window);

// Draws the style's focus frame inside rect of widget, which has the keyboard focus: shown
// whichever way the focus came (Tab, a click, the program), as a text box's caret would be.
void drawFocusFrame(QWidget *widget, QPainter *painter, const QRect &rect);

// Every window the calling thread makes from now on is drawn at the system's DPI, as
// tarvix.exe's manifest declares for the process. Where the process has that awareness
// (Windows, from the manifest) nothing changes; Wine gives every process the per-monitor kind
// whatever its manifest says, and the toolkit then asks for each window's non-client scaling,
// which Wine lacks, with a warning each time. Nothing on other systems.
void useSystemDpiAwareness();

// Escape closes the window, as its close box does.
void closeOnEscape(QWidget *window);

// Options that are one group, as in the system's own dialogs: Tab stops only at the marked one
// (the first where none is), and the arrow keys move the mark.
void asOneGroup(const QList<QAbstractButton *> &options);

} // namespace tvx

namespace tvx {

// Where the fonts the windows name (Fixedsys, MS Sans Serif, Arial, Times New Roman) are not
// installed, their nearest metric-compatible stand-ins take their place; the windows' default
// font becomes MS Sans Serif 8 pt, the size their layout was made for (named by its stand-in
// where it is missing).
void installFontStandIns();

} // namespace tvx
