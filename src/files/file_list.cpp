#include "file_list.h"

#include <QDir>
#include <QKeyEvent>
#include <QSignalBlocker>

#include <algorithm>

namespace tvx {

FileList::FileList(QWidget *parent) : FramedList(parent)
{
    setSelectionMode(QAbstractItemView::SingleSelection);
    // Selection, not the current item: a list that merely takes the focus selects nothing.
    connect(this, &QListWidget::itemSelectionChanged, this, [this] {
        if (!fileName().isEmpty())
            Q_EMIT fileClicked();
    });
    connect(this, &QListWidget::itemClicked, this, [this] { Q_EMIT fileClicked(); });
    connect(this, &QListWidget::itemDoubleClicked, this, [this] { Q_EMIT fileDoubleClicked(); });
}

void FileList::keyPressEvent(QKeyEvent *event)
{
    // Return on the selected file opens it, as a double-click does.
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
        !fileName().isEmpty()) {
        Q_EMIT fileDoubleClicked();
        return;
    }
    FramedList::keyPressEvent(event);
}

void FileList::setPath(const QString &folder)
{
    if (folder == m_path)
        return;
    m_path = folder;
    fill();
    Q_EMIT pathChanged();
}

void FileList::setPattern(const QString &pattern)
{
    m_patternText = pattern;
    m_pattern = FilePattern(pattern);
    fill();
}

QString FileList::fileName() const
{
    const QList<QListWidgetItem *> selected = selectedItems();
    return selected.isEmpty() ? QString() : selected.first()->text();
}

void FileList::fill()
{
    // A new listing selects nothing, so it raises no click either.
    const QSignalBlocker blocker(this);
    clear();
    if (m_path.isEmpty())
        return;
    QStringList names;
    const QStringList files =
        QDir(QDir::fromNativeSeparators(m_path)).entryList(QDir::Files, QDir::Unsorted);
    for (const QString &name : files) {
        if (m_pattern.matches(name))
            names.append(name);
    }
    std::sort(names.begin(), names.end(), [](const QString &a, const QString &b) {
        const int order = a.compare(b, Qt::CaseInsensitive);
        return order != 0 ? order < 0 : a < b;
    });
    addItems(names);
}

} // namespace tvx
