#include "app/reading_text.h"
#include "app/window_slot.h"
#include "files/drive_list.h"
#include "files/folder_list.h"
#include "files/save_window.h"
#include "journal/capture_journal.h"
#include "support/file_bytes.h"
#include "support/modal_watcher.h"
#include "support/system_fixtures.h"
#include "support/twips.h"
#include "widget_actions.h"

#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

using namespace tvx;
using test::fileContent;
using test::writeFile;

namespace {

// Everything in a folder, to see that a failed save leaves nothing behind.
QStringList entries(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                                  QDir::Name);
}

} // namespace

class SaveWindowTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void layout_data();
    void layout();
    void startsWithTempDatInTheWorkingDirectory();
    void displayFollowsFolderAndEveryKeystroke();
    void okWritesTheReadingAndCloses_data();
    void okWritesTheReadingAndCloses();
    void savingOverAnExistingFileReplacesIt();
    void saveTakesTheTextAsItIsAtOk();
    void freshWindowStartsOver();
    void failedSaveKeepsEverything_data();
    void failedSaveKeepsEverything();
    void readOnlyFolderKeepsTheOldFile_data();
    void readOnlyFolderKeepsTheOldFile();
    void fullDiskKeepsTheOldFile_data();
    void fullDiskKeepsTheOldFile();
    void onlyTheFileWritableIsWrittenInPlace();
    void unlistableWorkingFolder_data();
    void unlistableWorkingFolder();
    void returnOnOkSaves_data();
    void returnOnOkSaves();
    void driveChangeMovesTheFolderList();
    void unreadableDriveKeepsTheLists();

private:
    SaveWindow *showWindow();
    template <typename T> T *control(const char *name) const
    {
        return m_slot.window()->findChild<T *>(QLatin1String(name));
    }
    QLineEdit *display() const { return control<QLineEdit>("Text1"); }
    QLineEdit *nameBox() const { return control<QLineEdit>("txtfilename"); }
    FolderList *folders() const { return control<FolderList>("Dir1"); }
    DriveList *drives() const { return control<DriveList>("Drive1"); }
    void pressOk() { QTest::mouseClick(control<QPushButton>("cmdsaveok"), Qt::LeftButton); }
    bool windowGone();
    // The folder and everything in it in the system's notation.
    QString native(const QString &relative = QString()) const;
    // A failed save: one message naming the file and why, the window open as it was.
    void expectFailure(const test::ModalWatcher &watcher, const QString &target,
                       const QString &folder, const QString &name);

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_previousDirectory;
    ReadingText m_text;
    std::unique_ptr<CaptureJournal> m_journal;
    WindowSlot<SaveWindow> m_slot;
    std::unique_ptr<QSignalSpy> m_mainWanted;
};

void SaveWindowTest::initTestCase()
{
    m_previousDirectory = QDir::currentPath();
}

void SaveWindowTest::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    QVERIFY(QDir(m_dir->path()).mkpath(QStringLiteral("data")));
    QVERIFY(QDir::setCurrent(m_dir->path()));
    m_text.replace("abc");
}

void SaveWindowTest::cleanup()
{
    if (m_slot.window())
        delete m_slot.window();
    m_mainWanted.reset();
    m_journal.reset();
    QDir::setCurrent(m_previousDirectory);
    m_dir.reset();
}

SaveWindow *SaveWindowTest::showWindow()
{
    SaveWindow *window = m_slot.show([this] { return new SaveWindow(m_text, m_journal.get()); });
    m_mainWanted = std::make_unique<QSignalSpy>(window, &SaveWindow::mainWindowWanted);
    return window;
}

bool SaveWindowTest::windowGone()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return m_slot.window() == nullptr;
}

QString SaveWindowTest::native(const QString &relative) const
{
    const QString path = relative.isEmpty() ? m_dir->path() : m_dir->filePath(relative);
    return QDir::toNativeSeparators(path);
}

void SaveWindowTest::expectFailure(const test::ModalWatcher &watcher, const QString &target,
                                   const QString &folder, const QString &name)
{
    QCOMPARE(watcher.boxes().size(), 1);
    const test::ModalWatcher::Box &box = watcher.boxes().first();
    QCOMPARE(box.title, QStringLiteral("Tarvix"));
    QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    const QString start = QStringLiteral("The readings could not be saved as %1: ").arg(target);
    QVERIFY2(box.text.startsWith(start), qPrintable(box.text));
    QVERIFY2(box.text.size() > start.size(), "the message gives no reason");
    QVERIFY(m_slot.window());
    QVERIFY(m_slot.window()->isVisible());
    QCOMPARE(folders()->path(), folder);
    QCOMPARE(nameBox()->text(), name);
    QCOMPARE(display()->text(), target);
    QCOMPARE(m_mainWanted->count(), 0);
}

void SaveWindowTest::layout_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("twips");
    QTest::newRow("Label1") << QStringLiteral("Label1") << QRect(360, 2880, 855, 255);
    QTest::newRow("Drive1") << QStringLiteral("Drive1") << QRect(1320, 360, 2055, 360);
    QTest::newRow("Dir1") << QStringLiteral("Dir1") << QRect(1320, 720, 2055, 1920);
    QTest::newRow("txtfilename") << QStringLiteral("txtfilename") << QRect(1320, 2880, 2055, 360);
    QTest::newRow("cmdsaveok") << QStringLiteral("cmdsaveok") << QRect(3840, 2280, 975, 375);
    QTest::newRow("Text1") << QStringLiteral("Text1") << QRect(1320, 3360, 3375, 360);
}

void SaveWindowTest::layout()
{
    QFETCH(QString, name);
    QFETCH(QRect, twips);
    SaveWindow *window = showWindow();
    QCOMPARE(window->windowTitle(), QStringLiteral("File Save"));
    QCOMPARE(test::twipsSize(window), QSize(5310, 3810));
    auto *control = window->findChild<QWidget *>(name);
    QVERIFY(control);
    QCOMPARE(test::twips(control), twips);
}

void SaveWindowTest::startsWithTempDatInTheWorkingDirectory()
{
    SaveWindow *window = showWindow();
    QCOMPARE(window->windowTitle(), QStringLiteral("File Save"));
    QCOMPARE(window->parentWidget(), nullptr);
    QVERIFY(window->isWindow());
    QCOMPARE(folders()->path(), native());
    QCOMPARE(nameBox()->text(), QStringLiteral("temp.dat"));
    QCOMPARE(display()->text(), native(QStringLiteral("temp.dat")));
    // The display is shown but can be neither focused nor typed into.
    QVERIFY(!display()->isEnabled());
    QVERIFY(test::itemNamed(folders(), QStringLiteral("data")));
}

void SaveWindowTest::displayFollowsFolderAndEveryKeystroke()
{
    showWindow();
    QVERIFY(test::doubleClick(folders(), QStringLiteral("data")));
    QCOMPARE(folders()->path(), native(QStringLiteral("data")));
    QCOMPARE(display()->text(), native(QStringLiteral("data/temp.dat")));

    nameBox()->setFocus();
    nameBox()->selectAll();
    QTest::keyClick(nameBox(), Qt::Key_Backspace);
    QCOMPARE(display()->text(), native(QStringLiteral("data")) + QDir::separator());
    const QString typed = QStringLiteral("r1.dat");
    for (int i = 0; i < typed.size(); ++i) {
        QTest::keyClick(nameBox(), typed[i].toLatin1());
        QCOMPARE(display()->text(), native(QStringLiteral("data/") + typed.left(i + 1)));
    }
    // Typing into the display goes nowhere.
    QTest::keyClicks(display(), QStringLiteral("xyz"));
    QCOMPARE(display()->text(), native(QStringLiteral("data/r1.dat")));

    // The root already ends in a separator: no second one before the name.
    const QString root = QDir::toNativeSeparators(QDir::rootPath());
    QVERIFY(test::doubleClick(folders(), root));
    QCOMPARE(display()->text(), root + QStringLiteral("r1.dat"));
}

void SaveWindowTest::okWritesTheReadingAndCloses_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("proposed name") << "temp.dat";
    QTest::newRow("without an extension") << "reading";
    QTest::newRow("another extension") << "r1.txt";
}

void SaveWindowTest::okWritesTheReadingAndCloses()
{
    QFETCH(QString, name);
    showWindow();
    QVERIFY(test::doubleClick(folders(), QStringLiteral("data")));
    test::retype(nameBox(), name);
    pressOk();
    QCOMPARE(fileContent(native(QStringLiteral("data/") + name)), QByteArray("abc\r\n"));
    QCOMPARE(entries(native(QStringLiteral("data"))), QStringList(name));
    QCOMPARE(m_mainWanted->count(), 1);
    QVERIFY(windowGone());
    QCOMPARE(m_text.bytes(), QByteArray("abc"));
}

void SaveWindowTest::savingOverAnExistingFileReplacesIt()
{
    QVERIFY(writeFile(native(QStringLiteral("temp.dat")), QByteArray(1000, 'o')));
    test::ModalWatcher watcher;
    showWindow();
    pressOk();
    QCOMPARE(fileContent(native(QStringLiteral("temp.dat"))), QByteArray("abc\r\n"));
    QCOMPARE(watcher.boxes().size(), 0);
    QVERIFY(windowGone());
}

void SaveWindowTest::saveTakesTheTextAsItIsAtOk()
{
    // A capture goes on while the window is open: Ok writes what has arrived so far.
    showWindow();
    m_text.append("def\r\n");
    pressOk();
    QCOMPARE(fileContent(native(QStringLiteral("temp.dat"))), QByteArray("abcdef\r\n\r\n"));
}

void SaveWindowTest::freshWindowStartsOver()
{
    showWindow();
    QVERIFY(test::doubleClick(folders(), QStringLiteral("data")));
    test::retype(nameBox(), QStringLiteral("r7.dat"));
    pressOk();
    QVERIFY(windowGone());
    QVERIFY(QFile::exists(native(QStringLiteral("data/r7.dat"))));

    showWindow();
    QCOMPARE(folders()->path(), native());
    QCOMPARE(nameBox()->text(), QStringLiteral("temp.dat"));
    QCOMPARE(display()->text(), native(QStringLiteral("temp.dat")));

    // Closed without Ok: nothing written, and the next window starts over too.
    test::retype(nameBox(), QStringLiteral("r8.dat"));
    m_slot.window()->close();
    QVERIFY(windowGone());
    QVERIFY(!QFile::exists(native(QStringLiteral("r8.dat"))));
    showWindow();
    QCOMPARE(nameBox()->text(), QStringLiteral("temp.dat"));
}

void SaveWindowTest::failedSaveKeepsEverything_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("removeFolder");
    QTest::addColumn<QString>("reason");
#ifdef Q_OS_WIN
    // Windows's own words for a missing folder, which its writer reports as they are.
    const QTemporaryDir empty;
    QFile inMissingFolder(empty.filePath(QStringLiteral("nowhere/r1.dat")));
    QVERIFY(!inMissingFolder.open(QIODevice::WriteOnly));
    const QString noFolder = inMissingFolder.errorString();
#else
    const QString noFolder = QStringLiteral("there is no such folder");
#endif
    QTest::newRow("folder removed meanwhile") << "data"
                                              << "r1.dat" << true << noFolder;
    QTest::newRow("name is a folder") << ""
                                      << "data" << false << "not a regular file";
    QTest::newRow("empty name") << "data"
                                << "" << false << "no file name was given";
    QTest::newRow("name in a missing folder") << ""
                                              << "nowhere/r1.dat" << false << noFolder;
}

void SaveWindowTest::failedSaveKeepsEverything()
{
    QFETCH(QString, folder);
    QFETCH(QString, name);
    QFETCH(bool, removeFolder);
    QFETCH(QString, reason);
    QVERIFY(writeFile(native(QStringLiteral("data/old.dat")), "old\r\n"));
    showWindow();
    if (!folder.isEmpty())
        QVERIFY(test::doubleClick(folders(), folder));
    test::retype(nameBox(), name);
    if (removeFolder)
        QVERIFY(QDir(native(folder)).removeRecursively());
    const QStringList before = entries(native());

    test::ModalWatcher watcher;
    pressOk();
    // As the joining rule makes it: the folder in the system's notation, the name as typed.
    const QString target = native(folder) + QDir::separator() + name;
    expectFailure(watcher, target, native(folder), name);
    QCOMPARE(watcher.boxes().first().text,
             QStringLiteral("The readings could not be saved as %1: %2").arg(target, reason));
    QCOMPARE(m_text.bytes(), QByteArray("abc"));
    QCOMPARE(entries(native()), before);
    if (!removeFolder)
        QCOMPARE(fileContent(native(QStringLiteral("data/old.dat"))), QByteArray("old\r\n"));
}

void SaveWindowTest::readOnlyFolderKeepsTheOldFile_data()
{
    QTest::addColumn<bool>("readOnlyVolume");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("reason");
    // The reason for an existing file depends on who owns it; any reason will do there.
    QTest::newRow("no write permission, existing file") << false << "old.dat" << QString();
    QTest::newRow("no write permission, new file")
        << false << "new.dat" << QStringLiteral("the folder is not writable");
    QTest::newRow("read-only volume, existing file") << true << "old.dat" << QString();
    QTest::newRow("read-only volume, new file")
        << true << "new.dat" << QStringLiteral("Read-only file system");
}

void SaveWindowTest::readOnlyFolderKeepsTheOldFile()
{
    QFETCH(bool, readOnlyVolume);
    QFETCH(QString, name);
    QFETCH(QString, reason);
    const QString folder = native(QStringLiteral("data"));
    test::ScratchVolume volume;
    QString failure;
    if (readOnlyVolume && !volume.mount(folder, 256, &failure))
        QSKIP(qPrintable(QStringLiteral("cannot mount a scratch volume here: ") + failure));
    QVERIFY(writeFile(folder + QStringLiteral("/old.dat"), "old\r\n"));
    const auto readOnly = QFileDevice::ReadOwner | QFileDevice::ExeOwner | QFileDevice::ReadOther |
                          QFileDevice::ExeOther;
    QVERIFY(QFile::setPermissions(native(), readOnly | QFileDevice::WriteOwner));
    if (readOnlyVolume)
        QVERIFY2(volume.makeReadOnly(&failure), qPrintable(failure));
    else
        QVERIFY(QFile::setPermissions(folder, readOnly));

    std::unique_ptr<test::OrdinaryUser> user;
    if (!readOnlyVolume) {
        user = std::make_unique<test::OrdinaryUser>();
        if (!user->active())
            QSKIP("cannot run as an ordinary user here, and root writes into any folder");
    }
    showWindow();
    QVERIFY(test::doubleClick(folders(), QStringLiteral("data")));
    test::retype(nameBox(), name);
    test::ModalWatcher watcher;
    pressOk();
    user.reset();
    QFile::setPermissions(folder, readOnly | QFileDevice::WriteOwner);

    expectFailure(watcher, folder + QLatin1Char('/') + name, folder, name);
    QVERIFY2(watcher.boxes().first().text.contains(reason),
             qPrintable(watcher.boxes().first().text));
    QCOMPARE(fileContent(folder + QStringLiteral("/old.dat")), QByteArray("old\r\n"));
    QCOMPARE(entries(folder), QStringList(QStringLiteral("old.dat")));
    QCOMPARE(m_text.bytes(), QByteArray("abc"));
}

// A full disk keeps the reading in the window and the old file whole; when the reading shown
// is a capture the journal holds, the message says where it is.
void SaveWindowTest::fullDiskKeepsTheOldFile_data()
{
    QTest::addColumn<bool>("captured");
    QTest::newRow("a capture in the journal") << true;
    QTest::newRow("a file loaded") << false;
}

void SaveWindowTest::fullDiskKeepsTheOldFile()
{
    const QString folder = native(QStringLiteral("data"));
    test::ScratchVolume volume;
    std::unique_ptr<test::FileSizeLimit> limit;
    QString reason;
    // A real small volume where this test may mount one; otherwise a file size limit makes
    // the write fail the same way, part of the way through.
    const bool mounted = volume.mount(folder, 64, &reason);
    if (!mounted && !test::FileSizeLimit::available())
        QSKIP(qPrintable(
            QStringLiteral("no small volume (%1) and no file size limit here").arg(reason)));
    QVERIFY(writeFile(folder + QStringLiteral("/old.dat"), "old\r\n"));
    QByteArray large;
    for (int i = 0; large.size() < 200 * 1024; ++i)
        large += QByteArray::number(i) + " 20.5\r\n";
    m_text.replace(large);
    QFETCH(bool, captured);
    m_journal = std::make_unique<CaptureJournal>(
        m_dir->filePath(QStringLiteral("journal")), [] { return qint64(0); },
        [](const QString &) {});
    if (captured)
        m_journal->began(QDateTime(QDate(2026, 3, 7), QTime(15, 4, 9)));

    showWindow();
    QVERIFY(test::doubleClick(folders(), QStringLiteral("data")));
    test::retype(nameBox(), QStringLiteral("old.dat"));
    test::ModalWatcher watcher;
    if (!mounted)
        limit = std::make_unique<test::FileSizeLimit>(16 * 1024);
    pressOk();
    limit.reset();

    expectFailure(watcher, folder + QStringLiteral("/old.dat"), folder, QStringLiteral("old.dat"));
    const QString message = watcher.boxes().first().text;
    QVERIFY2(message.contains(mounted ? QStringLiteral("No space left on device")
                                      : QStringLiteral("File too large")),
             qPrintable(message));
    // Only a full disk names the journal: a file too large for the user's limit is no lack of
    // room that the journal's own folder would share.
    const QString journalLine =
        QStringLiteral("\nThe capture is also kept in the journal: %1")
            .arg(native(QStringLiteral("journal/readings-20260307-150409.dat")));
    QCOMPARE(message.endsWith(journalLine), mounted && captured);
    QCOMPARE(fileContent(folder + QStringLiteral("/old.dat")), QByteArray("old\r\n"));
    QCOMPARE(entries(folder), QStringList(QStringLiteral("old.dat")));
    QCOMPARE(m_text.bytes(), large);
}

void SaveWindowTest::onlyTheFileWritableIsWrittenInPlace()
{
    // A shared folder the user may not add to, holding a file prepared for the user.
    const QString folder = native(QStringLiteral("data"));
    const QString file = folder + QStringLiteral("/old.dat");
    QVERIFY(writeFile(file, "old readings\r\n"));
    const auto everyone = QFileDevice::ReadOwner | QFileDevice::ReadOther;
    QVERIFY(
        QFile::setPermissions(file, everyone | QFileDevice::WriteOwner | QFileDevice::WriteOther));
    const auto enter = everyone | QFileDevice::ExeOwner | QFileDevice::ExeOther;
    QVERIFY(QFile::setPermissions(native(), enter | QFileDevice::WriteOwner));
    QVERIFY(QFile::setPermissions(folder, enter));
    const uint owner = QFileInfo(file).ownerId();
    const quint64 inode = test::inodeOf(file);

    test::ModalWatcher watcher;
    {
        test::OrdinaryUser user;
        if (!user.active())
            QSKIP("cannot run as an ordinary user here, and root writes into any folder");
#ifndef Q_OS_WIN // reached only where the test could become another user
        QVERIFY(QFileInfo(file).ownerId() != ::getuid());
#endif
        showWindow();
        QVERIFY(test::doubleClick(folders(), QStringLiteral("data")));
        test::retype(nameBox(), QStringLiteral("old.dat"));
        pressOk();
    }
    QFile::setPermissions(folder, enter | QFileDevice::WriteOwner);
    QCOMPARE(watcher.boxes().size(), 0);
    QVERIFY(windowGone());
    QCOMPARE(fileContent(file), QByteArray("abc\r\n"));
    QCOMPARE(QFileInfo(file).ownerId(), owner);
    QCOMPARE(test::inodeOf(file), inode);
    QCOMPARE(entries(folder), QStringList(QStringLiteral("old.dat")));
}

void SaveWindowTest::unlistableWorkingFolder_data()
{
    QTest::addColumn<bool>("writable");
    QTest::addColumn<QString>("failure");
    QTest::newRow("others may write") << true << QString();
    QTest::newRow("others may only enter") << false << QStringLiteral("the folder is not writable");
}

void SaveWindowTest::unlistableWorkingFolder()
{
    QFETCH(bool, writable);
    QFETCH(QString, failure);
    const QString folder = native(QStringLiteral("data"));
    QVERIFY(test::workInUnlistableFolder(folder, writable));
    const QString target = folder + QStringLiteral("/temp.dat");
    const auto messages = test::messagesAsOrdinaryUser([this] {
        showWindow();
        pressOk();
    });
    if (!messages)
        QSKIP("cannot run as an ordinary user here, and root lists every folder");

    QStringList expected(test::unlistableWorkingFolderMessage());
    if (failure.isEmpty()) {
        QCOMPARE(*messages, expected);
        QCOMPARE(fileContent(target), QByteArray("abc\r\n"));
        QVERIFY(windowGone());
    } else {
        expected.append(
            QStringLiteral("The readings could not be saved as %1: %2").arg(target, failure));
        QCOMPARE(*messages, expected);
        QVERIFY(!QFile::exists(target));
        QCOMPARE(folders()->path(), folder);
        QCOMPARE(display()->text(), target);
    }
}

void SaveWindowTest::returnOnOkSaves_data()
{
    QTest::addColumn<QString>("control"); // where the focus is
    QTest::addColumn<int>("key");
    QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
    // Keypad Enter is pressed in the port selection window's test.
    QTest::newRow("Return on Ok") << "cmdsaveok" << int(Qt::Key_Return) << Qt::KeyboardModifiers();
    QTest::newRow("Return in the name box")
        << "txtfilename" << int(Qt::Key_Return) << Qt::KeyboardModifiers();
}

void SaveWindowTest::returnOnOkSaves()
{
    QFETCH(QString, control);
    QFETCH(int, key);
    QFETCH(Qt::KeyboardModifiers, modifiers);
    SaveWindow *window = showWindow();
    QVERIFY(QTest::qWaitForWindowActive(window));
    auto *focused = window->findChild<QWidget *>(control);
    focused->setFocus();
    QCOMPARE(window->focusWidget(), focused);
    QTest::keyClick(window->windowHandle(), Qt::Key(key), modifiers);
    QCOMPARE(fileContent(native(QStringLiteral("temp.dat"))), QByteArray("abc\r\n"));
    QCOMPARE(m_mainWanted->count(), 1);
    QVERIFY(windowGone());
}

void SaveWindowTest::driveChangeMovesTheFolderList()
{
    // Two drives: the root, and a scratch volume that holds the working directory.
    const QString volumeRoot = native(QStringLiteral("vol"));
    QVERIFY(QDir().mkpath(volumeRoot));
    test::ScratchVolume volume;
    QString reason;
    if (!volume.mount(volumeRoot, 256, &reason))
        QSKIP(qPrintable(QStringLiteral("cannot mount a scratch volume here: ") + reason));
    QVERIFY(QDir().mkpath(volumeRoot + QStringLiteral("/sub")));
    QVERIFY(QDir::setCurrent(volumeRoot + QStringLiteral("/sub")));

    showWindow();
    QCOMPARE(drives()->drive(), volumeRoot);
    QCOMPARE(display()->text(), volumeRoot + QStringLiteral("/sub/temp.dat"));

    const QString root = QDir::toNativeSeparators(QDir::rootPath());
    QCOMPARE(drives()->itemData(0).toString(), root);
    test::choose(drives(), 0);
    QCOMPARE(drives()->drive(), root);
    QCOMPARE(folders()->path(), root);
    QCOMPARE(display()->text(), root + QStringLiteral("temp.dat"));

    test::choose(drives(), drives()->findData(volumeRoot));
    QCOMPARE(folders()->path(), volumeRoot);
    QCOMPARE(display()->text(), volumeRoot + QStringLiteral("/temp.dat"));

    pressOk();
    QCOMPARE(fileContent(volumeRoot + QStringLiteral("/temp.dat")), QByteArray("abc\r\n"));
}

void SaveWindowTest::unreadableDriveKeepsTheLists()
{
    showWindow();
    QVERIFY(test::doubleClick(folders(), QStringLiteral("data")));
    const QString drive = drives()->drive();
    // A volume that went away after the list was made.
    const QString gone = native(QStringLiteral("unplugged"));
    drives()->addItem(gone, gone);

    test::ModalWatcher watcher;
    test::choose(drives(), drives()->count() - 1);
    QCOMPARE(watcher.boxes().size(), 1);
    QVERIFY2(watcher.boxes()[0].text.startsWith(
                 QStringLiteral("The drive %1 cannot be read: ").arg(gone)),
             qPrintable(watcher.boxes()[0].text));
    QCOMPARE(drives()->drive(), drive);
    QCOMPARE(folders()->path(), native(QStringLiteral("data")));
    QCOMPARE(display()->text(), native(QStringLiteral("data/temp.dat")));
}

QTEST_MAIN(SaveWindowTest)
#include "tst_save_window.moc"
