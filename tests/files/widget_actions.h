#pragma once

#include "support/modal_watcher.h"
#include "support/system_fixtures.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QTest>

#include <functional>
#include <optional>

// What a user does to the lists and boxes of the file windows, by mouse and keyboard.
namespace tvx::test {

inline QStringList texts(const QListWidget *list)
{
    QStringList result;
    for (int i = 0; i < list->count(); ++i)
        result.append(list->item(i)->text());
    return result;
}

inline QListWidgetItem *itemNamed(const QListWidget *list, const QString &text)
{
    for (int i = 0; i < list->count(); ++i) {
        if (list->item(i)->text() == text)
            return list->item(i);
    }
    return nullptr;
}

inline bool click(QListWidget *list, const QString &text)
{
    QListWidgetItem *item = itemNamed(list, text);
    if (!item)
        return false;
    list->scrollToItem(item);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(item).center());
    return true;
}

// A double-click is a press, a release, then the second press that is the double-click.
inline bool doubleClick(QListWidget *list, const QString &text)
{
    QListWidgetItem *item = itemNamed(list, text);
    if (!item)
        return false;
    list->scrollToItem(item);
    const QPoint at = list->visualItemRect(item).center();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
    return true;
}

// Chooses an entry from the box's drop-down list with the mouse.
inline void choose(QComboBox *box, int index)
{
    box->showPopup();
    QAbstractItemView *view = box->view();
    const QRect entry = view->visualRect(box->model()->index(index, 0));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, entry.center());
}

// Replaces the box's text by typing, one keystroke at a time.
inline void retype(QLineEdit *box, const QString &text)
{
    box->setFocus();
    box->selectAll();
    QTest::keyClick(box, Qt::Key_Backspace);
    QTest::keyClicks(box, text);
}

// Works the windows as an ordinary user (for whom permissions apply) and returns the texts of
// the message boxes they showed meanwhile; nothing when the test cannot become one.
inline std::optional<QStringList> messagesAsOrdinaryUser(const std::function<void()> &steps)
{
    ModalWatcher watcher;
    {
        OrdinaryUser user;
        if (!user.active())
            return std::nullopt;
        steps();
    }
    QStringList messages;
    for (const ModalWatcher::Box &box : watcher.boxes())
        messages.append(box.text);
    return messages;
}

// What the save and open windows say when the working folder cannot be listed.
inline QString unlistableWorkingFolderMessage()
{
    return QStringLiteral("The working folder cannot be listed: access is denied");
}

} // namespace tvx::test
