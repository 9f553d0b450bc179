#include "spoken_notice.h"

#include <QAccessible>
#include <QAccessibleWidget>

namespace tvx {

namespace {

// Screen readers present an object of the notification role when it comes to show, and take
// no notice of a change of another object's name or description unless it has the focus; the
// toolkit's bridge does not pass those changes on in a form Orca reads in any case.
QAccessibleInterface *makeInterface(const QString &className, QObject *object)
{
    if (className == QLatin1String("tvx::SpokenNotice") && object && object->isWidgetType())
        return new QAccessibleWidget(static_cast<QWidget *>(object), QAccessible::Notification);
    return nullptr;
}

} // namespace

SpokenNotice::SpokenNotice(QWidget *parent) : QWidget(parent)
{
    static const bool installed = [] {
        QAccessible::installFactory(makeInterface);
        return true;
    }();
    Q_UNUSED(installed)
    setVisible(false);
}

void SpokenNotice::say(const QString &text)
{
    setAccessibleName(text);
    // Shown anew, as a notification that comes again, so that the same text is said again.
    QAccessibleEvent hidden(this, QAccessible::ObjectHide);
    QAccessible::updateAccessibility(&hidden);
    QAccessibleEvent shown(this, QAccessible::ObjectShow);
    QAccessible::updateAccessibility(&shown);
}

} // namespace tvx
