#include "browsing.h"

#include "drive_list.h"
#include "folder_list.h"
#include "platform/windows.h"

namespace tvx::browsing {

void startAtWorkingFolder(FolderList &folders, QWidget *window)
{
    QString reason;
    if (!folders.setPath(QString(), &reason))
        messageBox(window, QStringLiteral("The working folder cannot be listed: %1").arg(reason));
}

void followDrive(DriveList &drives, FolderList &folders, QWidget *window)
{
    const QString drive = drives.drive();
    QString reason;
    if (!folders.setDrive(drive, &reason)) {
        messageBox(window, QStringLiteral("The drive %1 cannot be read: %2").arg(drive, reason));
        drives.showDriveOf(folders.path());
    }
}

} // namespace tvx::browsing
