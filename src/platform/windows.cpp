#include "windows.h"

#include "platform/size_keeper.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QFontDatabase>
#include <QMessageBox>
#include <QStyle>
#include <QStyleOption>
#include <QVariant>

#include <algorithm>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace tvx {

void useSystemDpiAwareness()
{
#ifdef Q_OS_WIN
    SetThreadDpiAwarenessContext(DPI_AWARENESS_CONTEXT_SYSTEM_AWARE);
#endif
}

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
    // Once for each window, however often its frame is set.
    static const char kept[] = "tvxSizeKept";
    if (!window->property(kept).toBool()) {
        window->setProperty(kept, true);
        new SizeKeeper(window);
    }
}

void drawFocusFrame(QWidget *widget, QPainter *painter, const QRect &rect)
{
    QStyleOptionFocusRect focus;
    focus.initFrom(widget);
    // Some styles (Fusion) draw it only after a key moved the focus.
    focus.state |= QStyle::State_KeyboardFocusChange;
    focus.rect = rect.adjusted(1, 1, -1, -1);
    focus.backgroundColor = widget->palette().color(QPalette::Base);
    widget->style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, painter, widget);
}

void closeOnEscape(QWidget *window)
{
    auto *close = new QAction(window);
    close->setShortcut(Qt::Key_Escape);
    close->setShortcutContext(Qt::WindowShortcut);
    QObject::connect(close, &QAction::triggered, window, &QWidget::close);
    window->addAction(close);
}

void asOneGroup(const QList<QAbstractButton *> &options)
{
    const auto markTheStop = [options] {
        const bool anyMarked = std::any_of(options.cbegin(), options.cend(),
                                           [](QAbstractButton *o) { return o->isChecked(); });
        for (QAbstractButton *option : options) {
            const bool stop = anyMarked ? option->isChecked() : option == options.constFirst();
            option->setFocusPolicy(stop ? Qt::StrongFocus : Qt::ClickFocus);
        }
    };
    for (QAbstractButton *option : options)
        QObject::connect(option, &QAbstractButton::toggled, option, markTheStop);
    markTheStop();
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
    // captions such as "Comport 1" short. Named by the stand-in where the font itself is
    // missing: a family that is not installed has the toolkit ask fontconfig for the nearest
    // fonts of all (before it takes the stand-in all the same), an eighth of a start-up's work.
    const QString windowsFont = QStringLiteral("MS Sans Serif");
    QString family = windowsFont;
    if (!QFontDatabase::hasFamily(family)) {
        const QStringList standIns = QFont::substitutes(family);
        const auto installed =
            std::find_if(standIns.cbegin(), standIns.cend(),
                         [](const QString &f) { return QFontDatabase::hasFamily(f); });
        if (installed != standIns.cend())
            family = *installed;
    }
    QApplication::setFont(QFont(family, 8));
}

} // namespace tvx
