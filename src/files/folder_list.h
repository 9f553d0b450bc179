#pragma once

#include "framed_list.h"

namespace tvx {

// The folder list: the chain of folders from the volume root down to the current folder, then
// the current folder's own subfolders (hidden ones left out). Opening an entry (double-click or
// Enter) makes it the current folder.
class FolderList : public FramedList {
    Q_OBJECT
public:
    explicit FolderList(QWidget *parent = nullptr);

    // The current folder in the system's notation; empty until a path is set.
    QString path() const { return m_path; }

    // Moves to folder (an empty path: the working directory) and raises changed() when the
    // folder differs. A folder that cannot be listed leaves the list where it was, except the
    // working directory: the list goes there all the same, without subfolders, and the result
    // is false with the reason.
    bool setPath(const QString &folder, QString *reason = nullptr);

    // Moves to the root of a drive, after making sure the drive can be read.
    bool setDrive(const QString &root, QString *reason = nullptr);

Q_SIGNALS:
    void changed();

private:
    void open(QListWidgetItem *item);
    void fill();

    QString m_path;
};

} // namespace tvx
