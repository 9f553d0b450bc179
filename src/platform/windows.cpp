#include "windows.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>

namespace tvx {

void messageBox(QWidget *parent, const QString &text, const QString &title)
{
    QMessageBox box(QMessageBox::NoIcon, title, text, QMessageBox::Ok, parent);
    box.button(QMessageBox::Ok)->setIcon(QIcon()); // a plain OK, whatever the style's habit
    box.exec();
}

void beep()
{
    QApplication::beep();
}

void showInFront(QWidget *window)
{
    // A window left on the task bar comes back as it was before; raising and activating a
    // minimised window would leave it on the task bar.
    window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
    window->show();
    window->raise();
    window->activateWindow();
}

void withoutMaximise(QWidget *window)
{
    window->setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                           Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
}

} // namespace tvx

#include <QFont>

namespace tvx {

void installFontStandIns()
{
    QFont::insertSubstitutions(QStringLiteral("Fixedsys"),
                               {QStringLiteral("Liberation Mono"),
                                QStringLiteral("DejaVu Sans Mono"), QStringLiteral("Monospace")});
    QFont::insertSubstitutions(QStringLiteral("MS Sans Serif"),
                               {QStringLiteral("Liberation Sans"), QStringLiteral("Arial")});
    QFont::insertSubstitution(QStringLiteral("Arial"), QStringLiteral("Liberation Sans"));
    QFont::insertSubstitution(QStringLiteral("Times New Roman"),
                              QStringLiteral("Liberation Serif"));
    // The windows' geometry is laid out for this font; a desktop's larger default would cut
    // captions such as "Comport 1" short.
    QApplication::setFont(QFont(QStringLiteral("MS Sans Serif"), 8));
}

} // namespace tvx
