#include "windows.h"

#include <QApplication>
#include <QMessageBox>

namespace tvx {

void messageBox(QWidget *parent, const QString &text, const QString &title)
{
    QMessageBox box(QMessageBox::NoIcon, title, text, QMessageBox::Ok, parent);
    box.exec();
}

void beep()
{
    QApplication::beep();
}

void showInFront(QWidget *window)
{
    window->show();
    window->raise();
    window->activateWindow();
}

} // namespace tvx

#include <QFont>

namespace tvx {

void installFontStandIns()
{
    QFont::insertSubstitutions(QStringLiteral("Fixedsys"),
                               {QStringLiteral("Liberation Mono"), QStringLiteral("DejaVu Sans Mono"),
                                QStringLiteral("Monospace")});
    QFont::insertSubstitutions(QStringLiteral("MS Sans Serif"),
                               {QStringLiteral("Liberation Sans"), QStringLiteral("Arial")});
    QFont::insertSubstitution(QStringLiteral("Arial"), QStringLiteral("Liberation Sans"));
    QFont::insertSubstitution(QStringLiteral("Times New Roman"),
                              QStringLiteral("Liberation Serif"));
}

} // namespace tvx
