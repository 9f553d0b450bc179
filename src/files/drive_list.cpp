#include "drive_list.h"

#include "platform/files/files.h"

#include <QDir>

namespace tvx {

namespace {

bool holds(const QString &root, const QString &path)
{
    if (root.endsWith(QDir::separator()))
        return path.startsWith(root, Qt::CaseInsensitive) || path + QDir::separator() == root;
    return path.compare(root, Qt::CaseInsensitive) == 0 ||
           path.startsWith(root + QDir::separator(), Qt::CaseInsensitive);
}

} // namespace

DriveList::DriveList(QWidget *parent) : QComboBox(parent)
{
    const QString workingDirectory = QDir::currentPath();
    const QList<Volume> volumes = driveVolumes(workingDirectory);
    for (const Volume &volume : volumes) {
        const QString label = volume.name.isEmpty()
                                  ? volume.rootPath
                                  : QStringLiteral("%1 [%2]").arg(volume.rootPath, volume.name);
        addItem(label, volume.rootPath);
    }
    showDriveOf(QDir::toNativeSeparators(workingDirectory));
    connect(this, &QComboBox::activated, this, &DriveList::chosen);
}

QString DriveList::drive() const
{
    return currentData().toString();
}

void DriveList::showDriveOf(const QString &path)
{
    // The innermost listed volume whose root the path lies under.
    int best = -1;
    qsizetype bestLength = -1;
    for (int i = 0; i < count(); ++i) {
        const QString root = itemData(i).toString();
        if (holds(root, path) && root.size() > bestLength) {
            best = i;
            bestLength = root.size();
        }
    }
    if (best < 0)
        return;
    m_shown = best;
    setCurrentIndex(best);
}

void DriveList::chosen(int index)
{
    if (index == m_shown)
        return;
    m_shown = index;
    Q_EMIT changed();
}

} // namespace tvx
