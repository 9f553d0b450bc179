#pragma once

class QWidget;

namespace tvx {

class DriveList;
class FolderList;

// What the save and open windows do alike with their drive and folder lists.
namespace browsing {

// The folder list starts at the working directory, even one that cannot be listed; that is
// reported.
void startAtWorkingFolder(FolderList &folders, QWidget *window);

// The folder list moves to the drive chosen in the drive list. A drive that cannot be read is
// reported, and the drive list goes back to the folder list's drive.
void followDrive(DriveList &drives, FolderList &folders, QWidget *window);

} // namespace browsing
} // namespace tvx
