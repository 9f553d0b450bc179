#include "folder_list.h"

#include "platform/files/files.h"
#include "platform/windows.h"

#include <QDir>
#include <QFileInfo>
#include <QStyle>
#include <QStyledItemDelegate>

namespace tvx {

namespace {

constexpr int PathRole = Qt::UserRole;
constexpr int LevelRole = Qt::UserRole + 1;
constexpr int IndentPixels = 8;

// Indents each entry by its depth, so the chain reads as a path and the subfolders sit below
// the folder that holds them.
class IndentDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override
    {
        QStyleOptionViewItem indented(option);
        indented.rect.setLeft(indented.rect.left() + indent(index));
        QStyledItemDelegate::paint(painter, indented, index);
    }

    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        QSize size = QStyledItemDelegate::sizeHint(option, index);
        size.rwidth() += indent(index);
        return size;
    }

private:
    static int indent(const QModelIndex &index)
    {
        return index.data(LevelRole).toInt() * IndentPixels;
    }
};

QString nativeClean(const QString &path)
{
    return QDir::toNativeSeparators(QDir::cleanPath(QFileInfo(path).absoluteFilePath()));
}

} // namespace

FolderList::FolderList(QWidget *parent) : FramedList(parent)
{
    setItemDelegate(new IndentDelegate(this));
    setSelectionMode(QAbstractItemView::SingleSelection);
    connect(this, &QListWidget::itemActivated, this, &FolderList::open);
}

bool FolderList::setPath(const QString &folder, QString *reason)
{
    const bool working = folder.isEmpty();
    const QString target = working ? QDir::currentPath() : folder;
    const bool readable = isFolderReadable(target, reason);
    // The program works in its working folder whether or not it may list it: a file can
    // still be saved there and named in it.
    if (!readable && !(working && QFileInfo(target).isDir()))
        return false;
    const QString clean = nativeClean(target);
    const bool moved = clean != m_path;
    m_path = clean;
    fill();
    if (moved)
        Q_EMIT changed();
    return readable;
}

bool FolderList::setDrive(const QString &root, QString *reason)
{
    return isDriveReady(root, reason) && setPath(root, reason);
}

void FolderList::open(QListWidgetItem *item)
{
    const QString folder = item->data(PathRole).toString();
    QString reason;
    if (!setPath(folder, &reason)) {
        messageBox(window(),
                   QStringLiteral("The folder %1 cannot be opened: %2").arg(folder, reason));
    }
}

void FolderList::fill()
{
    QStringList chain;
    QDir dir(QDir::fromNativeSeparators(m_path));
    do {
        chain.prepend(QDir::toNativeSeparators(dir.absolutePath()));
    } while (dir.cdUp());

    clear();
    const QIcon openIcon = style()->standardIcon(QStyle::SP_DirOpenIcon);
    const QIcon closedIcon = style()->standardIcon(QStyle::SP_DirClosedIcon);
    for (int level = 0; level < chain.size(); ++level) {
        // The root is named by its path ("/", "C:\"), every other folder by its own name.
        const QString name = level == 0 ? chain[level] : QFileInfo(chain[level]).fileName();
        auto *item = new QListWidgetItem(openIcon, name, this);
        item->setData(PathRole, chain[level]);
        item->setData(LevelRole, level);
    }
    QListWidgetItem *current = item(count() - 1);

    const QFileInfoList subfolders =
        QDir(QDir::fromNativeSeparators(m_path))
            .entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase);
    for (const QFileInfo &subfolder : subfolders) {
        auto *item = new QListWidgetItem(closedIcon, subfolder.fileName(), this);
        item->setData(PathRole, QDir::toNativeSeparators(subfolder.absoluteFilePath()));
        item->setData(LevelRole, chain.size());
    }
    setCurrentItem(current);
    scrollToItem(current);
}

} // namespace tvx
