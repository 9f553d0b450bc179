#include "files/file_list.h"
#include "files/folder_list.h"
#include "support/modal_watcher.h"
#include "support/system_fixtures.h"
#include "widget_actions.h"

#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

using namespace tvx;

namespace {

using test::itemNamed;

QStringList texts(const QListWidget &list)
{
    return test::texts(&list);
}

void doubleClick(QListWidget &list, QListWidgetItem *item)
{
    QVERIFY(item);
    test::doubleClick(&list, item->text());
}

QStringList names(std::initializer_list<const char *> list)
{
    QStringList result;
    for (const char *name : list)
        result.append(QString::fromUtf8(name));
    return result;
}

bool touch(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly);
}

} // namespace

class FileListsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();

    void folderListShowsChainThenVisibleSubfolders();
    void folderOpensByDoubleClick();
    void folderOpensByEnter();
    void unreadableFolderIsReported();

    void fileListShowsMatchingPlainFilesByName_data();
    void fileListShowsMatchingPlainFilesByName();
    void newListingSelectsNothing();
    void focusShows_data();
    void focusShows();

private:
    QString path(const QString &name) const { return m_dir->filePath(name); }
    QString native(const QString &name) const { return QDir::toNativeSeparators(path(name)); }

    std::unique_ptr<QTemporaryDir> m_dir;
};

void FileListsTest::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    QDir dir(m_dir->path());
    for (const char *folder : {"data", "Beta", "alpha", ".hidden", "data/2024"})
        QVERIFY(dir.mkpath(QLatin1String(folder)));
    for (const char *file :
         {"b.dat", "A.DAT", "c.txt", "d.log", "noext", ".secret.dat", "r10.dat", "r2.dat"})
        QVERIFY(touch(path(QLatin1String(file))));
    QVERIFY(dir.mkpath(QStringLiteral("folder.dat")));
    QVERIFY(QFile::link(path(QStringLiteral("b.dat")), path(QStringLiteral("link.dat"))));
    QVERIFY(QFile::link(path(QStringLiteral("gone")), path(QStringLiteral("broken.dat"))));
    QCOMPARE(mkfifo(QFile::encodeName(path(QStringLiteral("pipe.dat"))).constData(), 0600), 0);
}

void FileListsTest::folderListShowsChainThenVisibleSubfolders()
{
    FolderList list;
    QVERIFY(list.setPath(native(QStringLiteral("data"))));
    QCOMPARE(list.path(), native(QStringLiteral("data")));

    QStringList chain =
        QDir::fromNativeSeparators(list.path()).split(QLatin1Char('/'), Qt::SkipEmptyParts);
    chain.prepend(QStringLiteral("/"));
    chain.append(QStringLiteral("2024"));
    QCOMPARE(texts(list), chain);
    // The current folder is the marked entry.
    QCOMPARE(list.currentItem()->text(), QStringLiteral("data"));

    QVERIFY(list.setPath(m_dir->path()));
    const QStringList all = texts(list);
    // Subfolders by name whatever their case; hidden folders and files are not listed.
    const QStringList subfolders = all.mid(all.size() - 4);
    QCOMPARE(subfolders, (QStringList{QStringLiteral("alpha"), QStringLiteral("Beta"),
                                      QStringLiteral("data"), QStringLiteral("folder.dat")}));
    QVERIFY(!all.contains(QStringLiteral(".hidden")));
    QVERIFY(!all.contains(QStringLiteral("b.dat")));
}

void FileListsTest::folderOpensByDoubleClick()
{
    FolderList list;
    list.resize(300, 400);
    list.show();
    QVERIFY(list.setPath(m_dir->path()));
    QSignalSpy changed(&list, &FolderList::changed);

    doubleClick(list, itemNamed(&list, QStringLiteral("data")));
    QCOMPARE(list.path(), native(QStringLiteral("data")));
    QCOMPARE(changed.count(), 1);

    // Up the chain: the temporary folder's own entry.
    doubleClick(list, itemNamed(&list, QFileInfo(m_dir->path()).fileName()));
    QCOMPARE(list.path(), QDir::toNativeSeparators(m_dir->path()));
    QCOMPARE(changed.count(), 2);

    // The current folder opened again changes nothing.
    doubleClick(list, list.currentItem());
    QCOMPARE(changed.count(), 2);
}

void FileListsTest::folderOpensByEnter()
{
    FolderList list;
    list.show();
    QVERIFY(list.setPath(m_dir->path()));
    QSignalSpy changed(&list, &FolderList::changed);

    // Moving through the list opens nothing; Enter opens the entry.
    list.setFocus();
    list.setCurrentItem(itemNamed(&list, QStringLiteral("alpha")));
    QTest::keyClick(&list, Qt::Key_Down);
    QCOMPARE(changed.count(), 0);
    QCOMPARE(list.currentItem()->text(), QStringLiteral("Beta"));
    QTest::keyClick(&list, Qt::Key_Return);
    QCOMPARE(list.path(), native(QStringLiteral("Beta")));
    QCOMPARE(changed.count(), 1);
}

void FileListsTest::unreadableFolderIsReported()
{
    const auto everyone = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
                          QFileDevice::ReadOther | QFileDevice::ExeOther;
    QVERIFY(QFile::setPermissions(m_dir->path(), everyone));
    QVERIFY(QFile::setPermissions(path(QStringLiteral("alpha")), QFileDevice::WriteOwner));
    QStringList before;
    QString after;
    QList<test::ModalWatcher::Box> boxes;
    {
        test::OrdinaryUser user;
        if (!user.active())
            QSKIP("cannot run as an ordinary user here, and root reads every folder");
        FolderList list;
        list.resize(300, 400);
        list.show();
        QVERIFY(list.setPath(m_dir->path()));
        before = texts(list);
        test::ModalWatcher watcher;
        doubleClick(list, itemNamed(&list, QStringLiteral("alpha")));
        boxes = watcher.boxes();
        after = list.path();
        QCOMPARE(texts(list), before);
    }
    QFile::setPermissions(path(QStringLiteral("alpha")), everyone);
    QCOMPARE(boxes.size(), 1);
    QCOMPARE(boxes[0].text, QStringLiteral("The folder %1 cannot be opened: access is denied")
                                .arg(native(QStringLiteral("alpha"))));
    QCOMPARE(after, QDir::toNativeSeparators(m_dir->path()));
}

void FileListsTest::fileListShowsMatchingPlainFilesByName_data()
{
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QStringList>("files");
    QTest::newRow("dat") << "*.dat" << names({"A.DAT", "b.dat", "link.dat", "r10.dat", "r2.dat"});
    QTest::newRow("txt") << "*.txt" << names({"c.txt"});
    QTest::newRow("log") << "*.log" << names({"d.log"});
    QTest::newRow("all") << "*.*"
                         << names({"A.DAT", "b.dat", "c.txt", "d.log", "link.dat", "noext",
                                   "r10.dat", "r2.dat"});
    QTest::newRow("several") << "*.txt;*.LOG" << names({"c.txt", "d.log"});
    QTest::newRow("none") << "*.xyz" << QStringList();
}

void FileListsTest::fileListShowsMatchingPlainFilesByName()
{
    QFETCH(QString, pattern);
    QFETCH(QStringList, files);
    FileList list;
    list.setPattern(pattern);
    list.setPath(QDir::toNativeSeparators(m_dir->path()));
    QCOMPARE(texts(list), files);
}

void FileListsTest::newListingSelectsNothing()
{
    FileList list;
    list.show();
    list.setPattern(QStringLiteral("*.*"));
    list.setPath(QDir::toNativeSeparators(m_dir->path()));
    list.setCurrentRow(1);
    QCOMPARE(list.fileName(), QStringLiteral("b.dat"));
    QSignalSpy clicked(&list, &FileList::fileClicked);
    list.setPattern(QStringLiteral("*.dat"));
    QCOMPARE(list.fileName(), QString());
    // Taking the focus afterwards selects nothing either.
    list.setFocus();
    QCOMPARE(list.fileName(), QString());
    QCOMPARE(clicked.count(), 0);
}

// A keyboard user sees which list has the focus: a frame inside the list's edge, whatever is
// selected and however the focus came, and nothing there while the keys go anywhere else,
// another control of the window or another window.
void FileListsTest::focusShows_data()
{
    QTest::addColumn<bool>("folders");
    QTest::addColumn<bool>("toAnotherWindow"); // where the focus goes afterwards
    QTest::newRow("folder list, then a box") << true << false;
    QTest::newRow("folder list, then another window") << true << true;
    QTest::newRow("file list, then a box") << false << false;
    QTest::newRow("file list, then another window") << false << true;
}

void FileListsTest::focusShows()
{
    QFETCH(bool, folders);
    QFETCH(bool, toAnotherWindow);
    QWidget window;
    auto *other = new QLineEdit(&window);
    QListWidget *list = nullptr;
    if (folders) {
        auto *folderList = new FolderList(&window);
        QVERIFY(folderList->setPath(QDir::toNativeSeparators(m_dir->path())));
        list = folderList;
    } else {
        auto *fileList = new FileList(&window);
        fileList->setPattern(QStringLiteral("*.dat"));
        fileList->setPath(QDir::toNativeSeparators(m_dir->path()));
        list = fileList;
    }
    list->setGeometry(0, 30, 200, 150);
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    // The bottom edge of the list below its entries, as the screen shows it (a mark on the
    // current entry alone does not count, it looks much like the selection): only the list's
    // background, or something drawn over it.
    const auto framed = [&window, list] {
        const QRect viewport(list->viewport()->mapTo(&window, QPoint()), list->viewport()->size());
        const QImage edge = window.screen()
                                ->grabWindow(window.winId(), viewport.x(), viewport.bottom() - 3,
                                             viewport.width(), 4)
                                .toImage();
        QImage background(edge.size(), edge.format());
        background.fill(list->palette().color(QPalette::Base));
        return edge != background;
    };
    other->setFocus();
    QTRY_VERIFY(!framed());
    // Given by the program, not by Tab: the style alone would show nothing then.
    list->setFocus();
    QCOMPARE(QApplication::focusWidget(), list);
    QTRY_VERIFY(framed());
    QWidget elsewhere;
    if (toAnotherWindow) {
        elsewhere.show();
        elsewhere.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&elsewhere));
        QCOMPARE(window.focusWidget(), list); // where the focus goes back to
    } else {
        other->setFocus();
    }
    QTRY_VERIFY(!framed());
}

QTEST_MAIN(FileListsTest)
#include "tst_file_lists.moc"
