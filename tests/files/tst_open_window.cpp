#include "app/reading_text.h"
#include "app/window_slot.h"
#include "files/file_list.h"
#include "files/folder_list.h"
#include "files/open_window.h"
#include "files/reading_file.h"
#include "support/file_bytes.h"
#include "support/modal_watcher.h"
#include "support/twips.h"
#include "widget_actions.h"

#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace tvx;
using test::fileContent;
using test::writeFile;

namespace {

QStringList names(std::initializer_list<const char *> list)
{
    QStringList result;
    for (const char *name : list)
        result.append(QString::fromUtf8(name));
    return result;
}

} // namespace

class OpenWindowTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void layout_data();
    void layout();
    void startsWithDatFilesAndTempDat();
    void patternFilters_data();
    void patternFilters();
    void patternBoxShowsWhatIsTyped_data();
    void patternBoxShowsWhatIsTyped();
    void pathBoxFollowsClickAndFolderChange();
    void okRightAwayLoadsTempDatOfTheWorkingDirectory();
    void typedPathLoadsAsTyped();
    void returnLoads_data();
    void returnLoads();
    void doubleClickLoadsTheFile();
    void closingWithoutOkChangesNothing();
    void freshWindowStartsOver();
    void failedLoadKeepsEverything_data();
    void failedLoadKeepsEverything();
    void okBringsTheMainWindow_data();
    void okBringsTheMainWindow();
    void unlistableWorkingFolder();

private:
    OpenWindow *showWindow();
    template <typename T> T *control(const char *name) const
    {
        return m_slot.window()->findChild<T *>(QLatin1String(name));
    }
    QLineEdit *pathBox() const { return control<QLineEdit>("Text1"); }
    QComboBox *patternBox() const { return control<QComboBox>("cmbext"); }
    FolderList *folders() const { return control<FolderList>("Dir1"); }
    FileList *files() const { return control<FileList>("File1"); }
    void pressOk() { QTest::mouseClick(control<QPushButton>("cmdok"), Qt::LeftButton); }
    bool windowGone();
    QString native(const QString &relative = QString()) const;

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_previousDirectory;
    ReadingText m_text;
    WindowSlot<OpenWindow> m_slot;
};

void OpenWindowTest::initTestCase()
{
    m_previousDirectory = QDir::currentPath();
}

void OpenWindowTest::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    QVERIFY(QDir(m_dir->path()).mkpath(QStringLiteral("data")));
    QVERIFY(writeFile(native(QStringLiteral("r1.dat")), "1 20.5\r\n2 21.0\r\n\r\n"));
    QVERIFY(writeFile(native(QStringLiteral("R2.DAT")), "3 19.9\r\n\r\n"));
    QVERIFY(writeFile(native(QStringLiteral("notes.txt")), "notes"));
    QVERIFY(writeFile(native(QStringLiteral("port.log")), "log"));
    QVERIFY(writeFile(native(QStringLiteral("README")), "readme"));
    QVERIFY(writeFile(native(QStringLiteral("data/d1.dat")), "d1\r\n"));
    QVERIFY(QDir::setCurrent(m_dir->path()));
    m_text.setReceiving(false);
    m_text.replace("before");
}

void OpenWindowTest::cleanup()
{
    if (m_slot.window())
        delete m_slot.window();
    QDir::setCurrent(m_previousDirectory);
    m_dir.reset();
}

OpenWindow *OpenWindowTest::showWindow()
{
    return m_slot.show([this] { return new OpenWindow(m_text); });
}

bool OpenWindowTest::windowGone()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return m_slot.window() == nullptr;
}

QString OpenWindowTest::native(const QString &relative) const
{
    const QString path = relative.isEmpty() ? m_dir->path() : m_dir->filePath(relative);
    return QDir::toNativeSeparators(path);
}

void OpenWindowTest::layout_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("twips");
    QTest::newRow("Drive1") << QStringLiteral("Drive1") << QRect(360, 480, 1935, 360);
    QTest::newRow("Dir1") << QStringLiteral("Dir1") << QRect(360, 840, 1935, 1920);
    QTest::newRow("File1") << QStringLiteral("File1") << QRect(2520, 840, 1695, 1770);
    QTest::newRow("cmbext") << QStringLiteral("cmbext") << QRect(360, 3000, 1935, 360);
    QTest::newRow("Text1") << QStringLiteral("Text1") << QRect(360, 3360, 3975, 360);
    QTest::newRow("cmdok") << QStringLiteral("cmdok") << QRect(1560, 4080, 1335, 375);
}

void OpenWindowTest::layout()
{
    QFETCH(QString, name);
    QFETCH(QRect, twips);
    OpenWindow *window = showWindow();
    QCOMPARE(window->windowTitle(), QStringLiteral("File Open"));
    QCOMPARE(test::twipsSize(window), QSize(4725, 4755));
    auto *control = window->findChild<QWidget *>(name);
    QVERIFY(control);
    QCOMPARE(test::twips(control), twips);
}

void OpenWindowTest::startsWithDatFilesAndTempDat()
{
    OpenWindow *window = showWindow();
    QCOMPARE(window->windowTitle(), QStringLiteral("File Open"));
    QVERIFY(window->isWindow());
    QStringList entries;
    for (int i = 0; i < patternBox()->count(); ++i)
        entries.append(patternBox()->itemText(i));
    QCOMPARE(entries, names({"*.txt", "*.dat", "*.*"}));
    QCOMPARE(patternBox()->currentText(), QStringLiteral("*.dat"));
    QCOMPARE(folders()->path(), native());
    QCOMPARE(files()->path(), native());
    QCOMPARE(test::texts(files()), names({"r1.dat", "R2.DAT"}));
    QCOMPARE(pathBox()->text(), native(QStringLiteral("temp.dat")));
    QVERIFY(pathBox()->isEnabled());
}

void OpenWindowTest::patternFilters_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("chosen");
    QTest::addColumn<QStringList>("listed");
    QTest::newRow("typed log") << "*.log" << -1 << names({"port.log"});
    QTest::newRow("chosen all") << "" << 2
                                << names({"notes.txt", "port.log", "R2.DAT", "r1.dat", "README"});
    QTest::newRow("chosen txt") << "" << 0 << names({"notes.txt"});
    QTest::newRow("typed two patterns") << "*.LOG;*.txt" << -1 << names({"notes.txt", "port.log"});
    QTest::newRow("typed one name") << "r?.dat" << -1 << names({"r1.dat", "R2.DAT"});
}

void OpenWindowTest::patternFilters()
{
    QFETCH(QString, typed);
    QFETCH(int, chosen);
    QFETCH(QStringList, listed);
    std::sort(listed.begin(), listed.end(), [](const QString &a, const QString &b) {
        return a.compare(b, Qt::CaseInsensitive) < 0;
    });
    showWindow();
    if (chosen >= 0) {
        test::choose(patternBox(), chosen);
        QCOMPARE(patternBox()->currentText(), patternBox()->itemText(chosen));
    } else {
        test::retype(patternBox()->lineEdit(), typed.left(1));
        // Every keystroke filters: "*" alone lists every file, "r" none.
        QCOMPARE(files()->count(), typed.startsWith(QLatin1Char('*')) ? 5 : 0);
        QTest::keyClicks(patternBox()->lineEdit(), typed.mid(1));
        // Typing adds no entry to the list.
        QCOMPARE(patternBox()->count(), 3);
    }
    QCOMPARE(test::texts(files()), listed);
    // The folder list and the path box are not touched.
    QCOMPARE(pathBox()->text(), native(QStringLiteral("temp.dat")));
}

void OpenWindowTest::patternBoxShowsWhatIsTyped_data()
{
    QTest::addColumn<QString>("typed");
    // The file list after each key, names parted by blanks.
    QTest::addColumn<QStringList>("listed");
    const QString all = QStringLiteral("notes.txt port.log r1.dat R2.DAT README");
    const QString none;
    QTest::newRow("the start of an entry")
        << "*.txt" << QStringList{all, none, none, none, QStringLiteral("notes.txt")};
    QTest::newRow("an entry in capitals")
        << "*.DAT" << QStringList{all, none, none, none, QStringLiteral("r1.dat R2.DAT")};
    QTest::newRow("no entry") << "r?" << QStringList{none, none};
}

void OpenWindowTest::patternBoxShowsWhatIsTyped()
{
    QFETCH(QString, typed);
    QFETCH(QStringList, listed);
    // Active, as a window the user types into is.
    QVERIFY(QTest::qWaitForWindowActive(showWindow()));
    QLineEdit *box = patternBox()->lineEdit();
    test::retype(box, QString());
    for (int i = 0; i < typed.size(); ++i) {
        QTest::keyClick(box, typed[i].toLatin1());
        QCOMPARE(box->text(), typed.left(i + 1));
        QCOMPARE(test::texts(files()).join(QLatin1Char(' ')), listed[i]);
    }
    // Return takes the pattern as it stands: no entry added, nothing completed.
    QTest::keyClick(box, Qt::Key_Return);
    QCOMPARE(patternBox()->currentText(), typed);
    QCOMPARE(patternBox()->count(), 3);
    QCOMPARE(test::texts(files()).join(QLatin1Char(' ')), listed.last());
}

void OpenWindowTest::pathBoxFollowsClickAndFolderChange()
{
    showWindow();
    QVERIFY(test::click(files(), QStringLiteral("R2.DAT")));
    QCOMPARE(pathBox()->text(), native(QStringLiteral("R2.DAT")));
    QVERIFY(test::click(files(), QStringLiteral("r1.dat")));
    QCOMPARE(pathBox()->text(), native(QStringLiteral("r1.dat")));

    // By keyboard as well.
    files()->setFocus();
    QTest::keyClick(files(), Qt::Key_Down);
    QCOMPARE(pathBox()->text(), native(QStringLiteral("R2.DAT")));

    // Another folder forgets the chosen file.
    QVERIFY(test::doubleClick(folders(), QStringLiteral("data")));
    QCOMPARE(files()->path(), native(QStringLiteral("data")));
    QCOMPARE(test::texts(files()), names({"d1.dat"}));
    QCOMPARE(pathBox()->text(), native(QStringLiteral("data/temp.dat")));
    QVERIFY(test::click(files(), QStringLiteral("d1.dat")));
    QCOMPARE(pathBox()->text(), native(QStringLiteral("data/d1.dat")));
}

void OpenWindowTest::okRightAwayLoadsTempDatOfTheWorkingDirectory()
{
    // Longer than the 32,767 bytes that a 16-bit length would allow: loaded whole.
    QByteArray content;
    for (int i = 0; content.size() < 40000; ++i)
        content += QByteArray::number(i) + " 20.5\r\n";
    QVERIFY(readingfile::save(native(QStringLiteral("temp.dat")), content));
    QSignalSpy replaced(&m_text, &ReadingText::replaced);
    showWindow();
    pressOk();
    QCOMPARE(m_text.bytes(), content + "\r\n");
    QCOMPARE(replaced.count(), 1);
    QVERIFY(windowGone());
}

void OpenWindowTest::typedPathLoadsAsTyped()
{
    QTemporaryDir elsewhere;
    const QString path = QDir::toNativeSeparators(elsewhere.filePath(QStringLiteral("x.txt")));
    QVERIFY(writeFile(path, QByteArray("\x00\xff\r\n", 4)));
    showWindow();
    QVERIFY(test::click(files(), QStringLiteral("r1.dat")));
    test::retype(pathBox(), path);
    pressOk();
    QCOMPARE(m_text.bytes(), QByteArray("\x00\xff\r\n", 4));
    QVERIFY(windowGone());
}

void OpenWindowTest::returnLoads_data()
{
    QTest::addColumn<QString>("control"); // where the focus is
    QTest::newRow("on Ok") << "cmdok";
    QTest::newRow("in the path box") << "Text1";
    QTest::newRow("on the file in the list") << "File1";
}

void OpenWindowTest::returnLoads()
{
    QFETCH(QString, control);
    QVERIFY(QTest::qWaitForWindowActive(showWindow()));
    QVERIFY(test::click(files(), QStringLiteral("R2.DAT")));
    m_slot.window()->findChild<QWidget *>(control)->setFocus();
    QTest::keyClick(m_slot.window()->windowHandle(), Qt::Key_Return);
    QCOMPARE(m_text.bytes(), QByteArray("3 19.9\r\n\r\n"));
    QVERIFY(windowGone());
}

void OpenWindowTest::doubleClickLoadsTheFile()
{
    showWindow();
    QVERIFY(test::doubleClick(files(), QStringLiteral("R2.DAT")));
    QCOMPARE(m_text.bytes(), QByteArray("3 19.9\r\n\r\n"));
    QVERIFY(windowGone());
}

void OpenWindowTest::closingWithoutOkChangesNothing()
{
    QSignalSpy replaced(&m_text, &ReadingText::replaced);
    showWindow();
    QVERIFY(test::click(files(), QStringLiteral("r1.dat")));
    m_slot.window()->close();
    QVERIFY(windowGone());
    QCOMPARE(m_text.bytes(), QByteArray("before"));
    QCOMPARE(replaced.count(), 0);
}

void OpenWindowTest::freshWindowStartsOver()
{
    showWindow();
    QVERIFY(test::doubleClick(folders(), QStringLiteral("data")));
    test::retype(patternBox()->lineEdit(), QStringLiteral("*.*"));
    QVERIFY(test::doubleClick(files(), QStringLiteral("d1.dat")));
    QVERIFY(windowGone());
    QCOMPARE(m_text.bytes(), QByteArray("d1\r\n"));

    showWindow();
    QCOMPARE(folders()->path(), native());
    QCOMPARE(patternBox()->currentText(), QStringLiteral("*.dat"));
    QCOMPARE(test::texts(files()), names({"r1.dat", "R2.DAT"}));
    QCOMPARE(pathBox()->text(), native(QStringLiteral("temp.dat")));
}

void OpenWindowTest::failedLoadKeepsEverything_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("reason");
    // The system's words for a missing file ("No such file or directory" on Linux).
    const QTemporaryDir empty;
    QFile missing(empty.filePath(QStringLiteral("nowhere.dat")));
    QVERIFY(!missing.open(QIODevice::ReadOnly));
    const QString notFound = missing.errorString();
    QTest::newRow("missing temp.dat") << "" << notFound;
    QTest::newRow("missing file typed") << "gone.dat" << notFound;
    QTest::newRow("folder given as the file") << "data"
                                              << "it is a folder, not a file";
    QTest::newRow("file over 1 GiB") << "huge.dat"
                                     << "the file is 1073741825 bytes long; files over "
                                        "1073741824 bytes are not loaded";
}

void OpenWindowTest::failedLoadKeepsEverything()
{
    QFETCH(QString, typed);
    QFETCH(QString, reason);
    QFile huge(native(QStringLiteral("huge.dat")));
    QVERIFY(huge.open(QIODevice::WriteOnly));
    QVERIFY(huge.resize(readingfile::MaxLoadSize + 1));
    huge.close();

    QSignalSpy replaced(&m_text, &ReadingText::replaced);
    showWindow();
    if (!typed.isEmpty())
        test::retype(pathBox(), native(typed));
    const QString path = pathBox()->text();
    test::ModalWatcher watcher;
    pressOk();

    QCOMPARE(watcher.boxes().size(), 1);
    QCOMPARE(watcher.boxes()[0].title, QStringLiteral("Tarvix"));
    QCOMPARE(watcher.boxes()[0].text,
             QStringLiteral("The readings could not be loaded from %1: %2").arg(path, reason));
    QVERIFY(m_slot.window());
    QVERIFY(m_slot.window()->isVisible());
    QCOMPARE(pathBox()->text(), path);
    QCOMPARE(m_text.bytes(), QByteArray("before"));
    QCOMPARE(replaced.count(), 0);
}

// Ok brings the main window to the front (out of the task bar) for what the reading text now
// holds: the file, or the capture that stopped a long file's reading, as soon as it begins, so
// that it is seen coming in; not for a file that could not be read.
void OpenWindowTest::okBringsTheMainWindow_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("transmission"); // 0: none, 1: starts during the load, 2: before Ok
    QTest::addColumn<int>("wanted");
    QTest::newRow("loaded") << "r1.dat" << 0 << 1;
    QTest::newRow("not loaded") << "data" << 0 << 0;
    QTest::newRow("a transmission during the load") << "long.dat" << 1 << 1;
    QTest::newRow("opened during a capture") << "long.dat" << 2 << 1;
}

void OpenWindowTest::okBringsTheMainWindow()
{
    QFETCH(QString, name);
    QFETCH(int, transmission);
    QFETCH(int, wanted);
    QFile file(native(QStringLiteral("long.dat"))); // too long to be read in one turn
    QVERIFY(file.open(QIODevice::WriteOnly) && file.resize(readingfile::MaxLoadSize));
    QSignalSpy asked(showWindow(), &OpenWindow::mainWindowWanted);
    test::retype(pathBox(), native(name));
    test::ModalWatcher watcher;
    m_text.setReceiving(transmission == 2);
    pressOk();
    if (transmission == 1) {
        QCOMPARE(asked.size(), 0);
        m_text.setReceiving(true);
    }
    QCOMPARE(asked.size(), wanted);
    // The capture ends; the box saying the file was not loaded asks for nothing more.
    m_text.setReceiving(false);
    QTRY_COMPARE(watcher.boxes().size(), name == QLatin1String("r1.dat") ? 0 : 1);
    QCOMPARE(asked.size(), wanted);
    QCOMPARE(windowGone(), name == QLatin1String("r1.dat"));
}

void OpenWindowTest::unlistableWorkingFolder()
{
    const QString folder = native(QStringLiteral("data"));
    QVERIFY(test::workInUnlistableFolder(folder, false));
    const auto messages = test::messagesAsOrdinaryUser([this] { showWindow(); });
    if (!messages)
        QSKIP("cannot run as an ordinary user here, and root lists every folder");
    QCOMPARE(*messages, QStringList(test::unlistableWorkingFolderMessage()));
    QCOMPARE(folders()->path(), folder);
    QCOMPARE(files()->path(), folder);
    QCOMPARE(files()->count(), 0);
    QCOMPARE(pathBox()->text(), folder + QStringLiteral("/temp.dat"));
}

QTEST_MAIN(OpenWindowTest)
#include "tst_open_window.moc"
