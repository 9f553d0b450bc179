#pragma once

#include <QComboBox>

namespace tvx {

// The drive list: the volumes a user keeps files on, each shown by its root (and label). It
// starts at the volume that holds the working directory.
class DriveList : public QComboBox {
    Q_OBJECT
public:
    explicit DriveList(QWidget *parent = nullptr);

    // The chosen drive's root path, the designation the folder list moves to.
    QString drive() const;

    // Shows the drive that holds path without raising changed(): the folder list went there.
    void showDriveOf(const QString &path);

Q_SIGNALS:
    // The user chose another drive.
    void changed();

private:
    void chosen(int index);

    int m_shown = -1;
};

} // namespace tvx
