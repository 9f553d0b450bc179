#include "files/reading_file.h"
#include "platform/files/files.h"
#include "support/file_bytes.h"
#include "support/system_fixtures.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

using namespace tvx;
using test::fileContent;
using test::writeFile;

namespace {

QByteArray allByteValues()
{
    QByteArray bytes;
    for (int value = 0; value < 256; ++value)
        bytes.append(char(value));
    return bytes;
}

} // namespace

class ReadingFileTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();

    void savedBytes_data();
    void savedBytes();
    void loadGivesTheFileUnchanged_data();
    void loadGivesTheFileUnchanged();
    void saveOpenSaveAddsOneLineEndEachTime();
    void saveReplacesAWholeLongerFile();
    void tooLargeFileIsRefused();
    void specialFilesAreRefused_data();
    void specialFilesAreRefused();
    void stickyFolderWritesInPlace();
    void saveOverWhatIsThere_data();
    void saveOverWhatIsThere();

private:
    QString path(const char *name) const { return m_dir->filePath(QLatin1String(name)); }

    std::unique_ptr<QTemporaryDir> m_dir;
};

void ReadingFileTest::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void ReadingFileTest::savedBytes_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("file");
    QTest::newRow("abc") << QByteArray("abc") << QByteArray("abc\r\n");
    QTest::newRow("empty") << QByteArray() << QByteArray("\r\n");
    QTest::newRow("already ends in CR LF")
        << QByteArray("12 3.4\r\n") << QByteArray("12 3.4\r\n\r\n");
    QTest::newRow("bare line ends kept")
        << QByteArray("a\rb\nc\n\r") << QByteArray("a\rb\nc\n\r\r\n");
    QTest::newRow("all byte values") << allByteValues() << allByteValues() + "\r\n";
}

void ReadingFileTest::savedBytes()
{
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, file);
    QString reason;
    QVERIFY2(readingfile::save(path("r1.dat"), text, &reason), qPrintable(reason));
    QCOMPARE(fileContent(path("r1.dat")), file);
}

void ReadingFileTest::loadGivesTheFileUnchanged_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("saved reading") << QByteArray("1 20.5\r\n2 21.0\r\n\r\n");
    QTest::newRow("all byte values") << allByteValues();
    // The 16-bit length of old readers stops here; this one takes any sensible length.
    QTest::newRow("32,767 bytes") << QByteArray(32767, 'x');
    QTest::newRow("32,768 bytes") << QByteArray(32768, 'y');
    QByteArray large;
    for (int i = 0; large.size() < 100 * 1024; ++i)
        large += QByteArray::number(i) + ' ' + QByteArray::number(i * 7 % 1000) + "\r\n";
    QTest::newRow("100 KB") << large;
}

void ReadingFileTest::loadGivesTheFileUnchanged()
{
    QFETCH(QByteArray, file);
    QVERIFY(writeFile(path("r1.dat"), file));
    QByteArray text = "old";
    QString reason;
    QVERIFY2(readingfile::load(path("r1.dat"), &text, &reason), qPrintable(reason));
    QCOMPARE(text.size(), file.size());
    QCOMPARE(text, file);
}

void ReadingFileTest::saveOpenSaveAddsOneLineEndEachTime()
{
    QByteArray text = "abc";
    QVERIFY(readingfile::save(path("r1.dat"), text));
    QVERIFY(readingfile::load(path("r1.dat"), &text));
    QCOMPARE(text, QByteArray("abc\r\n"));
    QVERIFY(readingfile::save(path("r1.dat"), text));
    QCOMPARE(fileContent(path("r1.dat")), QByteArray("abc\r\n\r\n"));
    QVERIFY(readingfile::load(path("r1.dat"), &text));
    QCOMPARE(text, QByteArray("abc\r\n\r\n"));
}

void ReadingFileTest::saveReplacesAWholeLongerFile()
{
    QVERIFY(writeFile(path("r1.dat"), QByteArray(5000, 'z')));
    QVERIFY(readingfile::save(path("r1.dat"), "ab"));
    QCOMPARE(fileContent(path("r1.dat")), QByteArray("ab\r\n"));
}

void ReadingFileTest::tooLargeFileIsRefused()
{
    QFile file(path("huge.dat"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    QVERIFY(file.resize(readingfile::MaxLoadSize + 1));
    file.close();
    QByteArray text = "kept";
    QString reason;
    QVERIFY(!readingfile::load(path("huge.dat"), &text, &reason));
    QCOMPARE(text, QByteArray("kept"));
    QVERIFY2(reason.contains(QStringLiteral("1073741825 bytes")), qPrintable(reason));

    // A file as long as the limit is read to its end (here a limit of 5 bytes).
    QVERIFY(writeFile(path("five.dat"), "12345"));
    QVERIFY(readWholeFile(path("five.dat"), 5, &text, &reason));
    QCOMPARE(text, QByteArray("12345"));
    QVERIFY(!readWholeFile(path("five.dat"), 4, &text, &reason));
}

void ReadingFileTest::specialFilesAreRefused_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("a named pipe") << QString();
    QTest::newRow("a device") << QStringLiteral("/dev/null");
}

void ReadingFileTest::specialFilesAreRefused()
{
    QFETCH(QString, name);
    const bool pipe = name.isEmpty();
    const QString file = pipe ? path("pipe.dat") : name;
    const QByteArray encoded = QFile::encodeName(file);
    std::thread writer;
    if (pipe) {
        QVERIFY(::mkfifo(encoded.constData(), 0600) == 0);
        // Opening the pipe to read it would wait for a writer; this one comes, writes nothing
        // and goes, so that a reader that opens it fails this test instead of hanging it.
        writer = std::thread([encoded] {
            const int fd = ::open(encoded.constData(), O_WRONLY);
            if (fd >= 0)
                ::close(fd);
        });
    }
    QByteArray text = "kept";
    QString reason;
    const bool loaded = readingfile::load(file, &text, &reason);
    if (pipe) {
        // The writer waits for a reader until one comes.
        const int fd = ::open(encoded.constData(), O_RDONLY | O_NONBLOCK);
        writer.join();
        if (fd >= 0)
            ::close(fd);
    }
    QVERIFY(!loaded);
    QCOMPARE(reason, QStringLiteral("it is not a regular file"));
    QCOMPARE(text, QByteArray("kept"));
}

void ReadingFileTest::stickyFolderWritesInPlace()
{
    // In a folder with the sticky bit, as /tmp has, everyone may add files but only a file's
    // owner may replace it: another user's file that is writable is written over in place.
    const QString file = path("r1.dat");
    QVERIFY(writeFile(file, "old content\r\n"));
    const auto everyone = QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                          QFileDevice::ReadOther | QFileDevice::WriteOther;
    QVERIFY(QFile::setPermissions(file, everyone));
    QVERIFY(::chmod(QFile::encodeName(m_dir->path()).constData(), 01777) == 0);
    const quint64 inode = test::inodeOf(file);
    QString reason;
    bool saved = false;
    {
        test::OrdinaryUser user;
        if (!user.active())
            QSKIP("cannot run as an ordinary user here, and root replaces any file");
        QCOMPARE(writeProblem(file), QString());
        saved = readingfile::save(file, "new", &reason);
    }
    QVERIFY2(saved, qPrintable(reason));
    QCOMPARE(fileContent(file), QByteArray("new\r\n"));
    QCOMPARE(test::inodeOf(file), inode);
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList(QStringLiteral("r1.dat")));
}

// What stands at the target's place: a regular file behind a symbolic link is written and the
// link kept; anything else is left exactly as it was, neither replaced nor opened.
void ReadingFileTest::saveOverWhatIsThere_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<bool>("throughLink");
    QTest::newRow("a regular file through a link") << int(S_IFREG) << true;
    QTest::newRow("a named pipe") << int(S_IFIFO) << false;
    QTest::newRow("a named pipe through a link") << int(S_IFIFO) << true;
    QTest::newRow("a socket") << int(S_IFSOCK) << false;
    QTest::newRow("a device") << int(S_IFCHR) << false;
    QTest::newRow("a folder") << int(S_IFDIR) << false;
}

void ReadingFileTest::saveOverWhatIsThere()
{
    QFETCH(int, type);
    QFETCH(bool, throughLink);
    const QString real = path("real");
    const QByteArray name = QFile::encodeName(real);
    // The null device made here: a save that replaced it would destroy nothing of the system.
    const int made = type == S_IFDIR ? ::mkdir(name.constData(), 0700)
                                     : ::mknod(name.constData(), type | 0666, makedev(1, 3));
    if (made != 0)
        QSKIP("cannot make that kind of file here");
    const QString target = throughLink ? path("link.dat") : real;
    QVERIFY(!throughLink || QFile::link(real, target));
    struct stat before {};
    QVERIFY(::lstat(name.constData(), &before) == 0);
    // A reader is there, so that a save that opened the pipe would fail this test, not hang it.
    const int reader = ::open(name.constData(), O_RDONLY | O_NONBLOCK);
    QString reason;
    const bool saved = readingfile::save(target, "abc", &reason);
    ::close(reader);

    struct stat after {};
    QVERIFY(::lstat(name.constData(), &after) == 0);
    QCOMPARE(after.st_mode & S_IFMT, before.st_mode & S_IFMT);
    QCOMPARE(after.st_ino == before.st_ino, type != S_IFREG); // a file is replaced as a whole
    QCOMPARE(QFileInfo(target).symLinkTarget(), throughLink ? real : QString());
    QCOMPARE(saved, type == S_IFREG);
    QCOMPARE(reason, saved ? QString() : QStringLiteral("not a regular file"));
    if (saved)
        QCOMPARE(fileContent(real), QByteArray("abc\r\n"));
    // No temporary file is left beside it.
    QCOMPARE(QDir(m_dir->path())
                 .entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot)
                 .size(),
             throughLink ? 2 : 1);
}

QTEST_APPLESS_MAIN(ReadingFileTest)
#include "tst_reading_file.moc"
