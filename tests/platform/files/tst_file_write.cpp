#include "platform/files/files.h"
#include "support/file_bytes.h"
#include "support/system_fixtures.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

using namespace tvx;
using test::fileContent;
using test::writeFile;

namespace {

QByteArray encoded(const QString &path)
{
    return QFile::encodeName(path);
}

// Sets or clears the immutable and append-only attributes; false where the system refuses.
bool setAttributes(const QString &path, int flags)
{
    const int fd = ::open(encoded(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool set = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    ::close(fd);
    return set;
}

QStringList entries(const QString &folder)
{
    return QDir(folder).entryList(
        QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

// An access control list in the system's stored form: the owner rw, user 1000 r, the group r,
// the mask r, others nothing.
QByteArray accessControlList()
{
    struct Entry {
        quint16 tag, permissions;
        quint32 id;
    };
    const Entry list[] = {
        {0x01, 6, ~0u}, {0x02, 4, 1000}, {0x04, 4, ~0u}, {0x10, 4, ~0u}, {0x20, 0, ~0u}};
    QByteArray value;
    const quint32 version = 2;
    value.append(reinterpret_cast<const char *>(&version), sizeof version);
    value.append(reinterpret_cast<const char *>(list), sizeof list);
    return value;
}

QByteArray attribute(const QString &path, const char *name)
{
    QByteArray value(256, Qt::Uninitialized);
    const ssize_t size = ::getxattr(encoded(path).constData(), name, value.data(), value.size());
    return size < 0 ? QByteArray("<none>") : value.left(size);
}

} // namespace

class FileWriteTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void whatTheWriteMeets_data();
    void whatTheWriteMeets();
    void pathLength_data();
    void pathLength();
    void rootKeepsOwnerModeAndAttributes_data();
    void rootKeepsOwnerModeAndAttributes();
    void fullDiskKeepsTheOldFile();
    void newFileTakesTheNextFreeName();
    void growingFileIsReadAsItWasOpened();
    void namesAreBytes_data();
    void namesAreBytes();

private:
    QString path(const QString &name) const { return m_dir->filePath(name); }

    std::unique_ptr<QTemporaryDir> m_dir;
    QStringList m_marked; // files and folders whose attributes are taken off again
};

void FileWriteTest::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void FileWriteTest::cleanup()
{
    for (const QString &marked : std::as_const(m_marked))
        setAttributes(marked, 0);
    m_marked.clear();
    m_dir.reset();
}

// What stands in the way, found by looking before anything is written, and the write then
// doing exactly what the look said: refused with the same words and nothing changed, or written
// (in place where the file could not be replaced) with nothing left beside it.
void FileWriteTest::whatTheWriteMeets_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("fileFlags");
    QTest::addColumn<int>("folderFlags");
    QTest::addColumn<QString>("problem");
    QTest::addColumn<bool>("inPlace");
    const int immutable = FS_IMMUTABLE_FL;
    const int appendOnly = FS_APPEND_FL;
    QTest::newRow("an immutable file")
        << "old.dat" << immutable << 0 << "the file is marked immutable" << false;
    QTest::newRow("an append-only file")
        << "old.dat" << appendOnly << 0 << "the file is marked append-only" << false;
    QTest::newRow("a new file in an immutable folder")
        << "new.dat" << 0 << immutable << "the folder is marked immutable" << false;
    QTest::newRow("a file in an immutable folder") << "old.dat" << 0 << immutable << "" << true;
    QTest::newRow("a new file in an append-only folder")
        << "new.dat" << 0 << appendOnly << "" << false;
    QTest::newRow("a file in an append-only folder") << "old.dat" << 0 << appendOnly << "" << true;
    QTest::newRow("a name of 255 bytes") << QString(255, QLatin1Char('n')) << 0 << 0 << "" << false;
    QTest::newRow("a name of 256 bytes")
        << QString(256, QLatin1Char('n')) << 0 << 0 << "File name too long" << false;
    QTest::newRow("a loop of links")
        << "loop" << 0 << 0 << "Too many levels of symbolic links" << false;
    QTest::newRow("a link into a missing folder")
        << "dangling" << 0 << 0 << "there is no such folder" << false;
    QTest::newRow("a name the system's encoding cannot carry")
        << QStringLiteral("caf") + QChar(0xDCE9) << 0 << 0 << "the name is not valid UTF-8"
        << false;
}

void FileWriteTest::whatTheWriteMeets()
{
    QFETCH(QString, name);
    QFETCH(int, fileFlags);
    QFETCH(int, folderFlags);
    QFETCH(QString, problem);
    QFETCH(bool, inPlace);
    const QString folder = path(QStringLiteral("data"));
    QVERIFY(QDir().mkdir(folder));
    const QString file = folder + QLatin1Char('/') + name;
    QVERIFY(writeFile(folder + QStringLiteral("/old.dat"), "old content\r\n"));
    QVERIFY(writeFile(folder + QLatin1Char('/') + QString(255, QLatin1Char('n')), "long\r\n"));
    QVERIFY(QFile::link(QStringLiteral("loop"), folder + QStringLiteral("/loop")));
    QVERIFY(
        QFile::link(path(QStringLiteral("missing/r.dat")), folder + QStringLiteral("/dangling")));
    const quint64 inode = test::inodeOf(file);
    const QByteArray before = fileContent(file);
    if (fileFlags || folderFlags) {
        const QString marked = fileFlags ? file : folder;
        if (!setAttributes(marked, fileFlags | folderFlags))
            QSKIP("cannot set file attributes here (root on a file system that has them)");
        m_marked.append(marked);
    }
    const QStringList beforeEntries = entries(folder);

    QCOMPARE(writeProblem(file), problem);
    QString reason;
    const bool saved = writeFileAtomically(file, "new\r\n", &reason);
    QCOMPARE(reason, problem);
    QCOMPARE(saved, problem.isEmpty());
    if (saved) {
        QCOMPARE(fileContent(file), QByteArray("new\r\n"));
        QCOMPARE(test::inodeOf(file) == inode, inPlace);
    } else {
        QCOMPARE(fileContent(file), before);
    }
    QStringList expected = beforeEntries;
    if (saved && !expected.contains(name)) {
        expected.append(name);
        expected.sort();
    }
    QCOMPARE(entries(folder), expected);
    QCOMPARE(QFileInfo(folder + QStringLiteral("/loop")).symLinkTarget().isEmpty(), false);
}

// The whole path a write names, its temporary name included, stays below the system's limit.
void FileWriteTest::pathLength_data()
{
    QTest::addColumn<int>("spare");
    QTest::addColumn<QString>("problem");
    QTest::newRow("one byte to spare") << 1 << "";
    QTest::newRow("at the limit") << 0 << "File name too long";
}

void FileWriteTest::pathLength()
{
    QFETCH(int, spare);
    QFETCH(QString, problem);
    const long limit = ::pathconf("/", _PC_PATH_MAX);
    QString folder = m_dir->path();
    // Folders down to about 100 bytes below the limit, leaving a name that fits a folder.
    while (folder.size() < limit - 100) {
        folder += QLatin1Char('/') +
                  QString(std::min<qsizetype>(200, limit - 100 - folder.size()), QLatin1Char('d'));
        QVERIFY(::mkdir(encoded(folder).constData(), 0700) == 0);
    }
    const qsizetype name = limit - folder.size() - 1 - spare;
    QCOMPARE(folderWriteProblem(folder, name), problem);
    QCOMPARE(writeProblem(folder + QLatin1Char('/') + QString(name, QLatin1Char('n'))), problem);
}

void FileWriteTest::rootKeepsOwnerModeAndAttributes_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("withAttributes");
    // An access control list sets the mode's group bits itself: the mode is also seen alone.
    QTest::newRow("mode 0640, an access control list") << 0640 << true;
    QTest::newRow("mode 0604 alone") << 0604 << false;
    QTest::newRow("set-group-ID 02660 alone") << 02660 << false;
}

void FileWriteTest::rootKeepsOwnerModeAndAttributes()
{
    QFETCH(int, mode);
    QFETCH(bool, withAttributes);
    if (::geteuid() != 0)
        QSKIP("only root can replace another user's file");
    const QString file = path(QStringLiteral("user.dat"));
    QVERIFY(writeFile(file, "old\r\n"));
    const QByteArray name = encoded(file);
    const QByteArray acl = accessControlList();
    QVERIFY(::chown(name.constData(), 65534, 65534) == 0);
    QVERIFY(::chmod(name.constData(), mode_t(mode)) == 0);
    if (withAttributes && (::setxattr(name.constData(), "user.tvx", "kept", 4, 0) != 0 ||
                           ::setxattr(name.constData(), "system.posix_acl_access", acl.constData(),
                                      acl.size(), 0) != 0))
        QSKIP("no extended attributes or access control lists here");
    const quint64 inode = test::inodeOf(file);

    QString reason;
    QVERIFY2(writeFileAtomically(file, "new\r\n", &reason), qPrintable(reason));
    struct stat after = {};
    QVERIFY(::stat(name.constData(), &after) == 0);
    QCOMPARE(fileContent(file), QByteArray("new\r\n"));
    QVERIFY(test::inodeOf(file) != inode); // replaced as a whole, not cut and rewritten
    QCOMPARE(after.st_uid, uid_t(65534));
    QCOMPARE(after.st_gid, gid_t(65534));
    QCOMPARE(after.st_mode & 07777, mode_t(mode));
    QCOMPARE(attribute(file, "user.tvx"), withAttributes ? QByteArray("kept") : "<none>");
    QCOMPARE(attribute(file, "system.posix_acl_access"), withAttributes ? acl : "<none>");
    QCOMPARE(entries(m_dir->path()), QStringList(QStringLiteral("user.dat")));
}

// A file that can only be written in place: the space is reserved before the old content is
// touched, so a full disk leaves the old file whole; with room, the write goes through.
void FileWriteTest::fullDiskKeepsTheOldFile()
{
    const QString folder = path(QStringLiteral("volume"));
    QVERIFY(QDir().mkdir(folder));
    test::ScratchVolume volume;
    QString failure;
    if (!volume.mount(folder, 256, &failure))
        QSKIP(qPrintable(QStringLiteral("cannot mount a scratch volume here: ") + failure));
    const QString file = folder + QStringLiteral("/old.dat");
    const QByteArray old(16 * 1024, 'o');
    QVERIFY(writeFile(file, old));
    const QString filler = folder + QStringLiteral("/filler");
    QVERIFY(writeFile(filler, QByteArray(256 * 1024, 'f')) == false); // the volume is full
    if (!setAttributes(folder, FS_IMMUTABLE_FL))
        QSKIP("cannot set file attributes here");
    m_marked.append(folder);
    const QByteArray reading(64 * 1024, 'r');

    QString reason;
    QVERIFY(!writeFileAtomically(file, reading, &reason));
    QCOMPARE(reason, QStringLiteral("No space left on device"));
    QCOMPARE(fileContent(file), old);

    QVERIFY(::truncate(encoded(filler).constData(), 0) == 0);
    QVERIFY2(writeFileAtomically(file, reading, &reason), qPrintable(reason));
    QCOMPARE(fileContent(file), reading);
}

// A name taken between the look and the naming is not replaced: the next one is used, and the
// file never shows under a name before it is complete.
void FileWriteTest::newFileTakesTheNextFreeName()
{
    const QString folder = m_dir->path();
    // What the folder holds each time a name is asked for.
    QList<QStringList> seen;
    const NewFile file = writeNewFile(
        folder,
        [&](int attempt) {
            const QString name = QStringLiteral("r-%1.dat").arg(attempt);
            seen.append(entries(folder));
            if (attempt == 1)
                writeFile(folder + QLatin1Char('/') + name, "someone else's\r\n");
            return name;
        },
        3, "reading\r\n");
    QVERIFY2(file.written, qPrintable(file.reason));
    QCOMPARE(file.path, folder + QStringLiteral("/r-2.dat"));
    QCOMPARE(seen, (QList<QStringList>{{}, {QStringLiteral("r-1.dat")}}));
    QCOMPARE(fileContent(folder + QStringLiteral("/r-1.dat")), QByteArray("someone else's\r\n"));
    QCOMPARE(fileContent(file.path), QByteArray("reading\r\n"));
    QCOMPARE(entries(folder), (QStringList{QStringLiteral("r-1.dat"), QStringLiteral("r-2.dat")}));
}

void FileWriteTest::growingFileIsReadAsItWasOpened()
{
    const QString file = path(QStringLiteral("growing.dat"));
    QVERIFY(writeFile(file, "12345"));
    FileSlices slices;
    QVERIFY(slices.open(file, 100));
    QFile more(file);
    QVERIFY(more.open(QIODevice::Append));
    QByteArray read;
    // As many slices as the first five bytes take, and a few more: a reading that followed the
    // growth would never end.
    int reads = 0;
    while (!slices.atEnd() && reads < 10) {
        QVERIFY(more.write(QByteArray(64, 'x')) == 64 && more.flush());
        QVERIFY(slices.readSlice(&read, 2));
        ++reads;
    }
    QCOMPARE(read, QByteArray("12345"));
    QVERIFY(slices.atEnd());
    QCOMPARE(reads, 3);
}

// A name from the system either comes through as the very bytes it was, or is marked so that
// no file operation takes it for another name.
void FileWriteTest::namesAreBytes_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("faithful");
    const auto escaped = [](std::initializer_list<int> bytes) {
        QString text;
        for (const int byte : bytes)
            text += QChar(0xDC00 + byte);
        return text;
    };
    QTest::newRow("plain") << QByteArray("r1.dat") << QStringLiteral("r1.dat") << true;
    QTest::newRow("UTF-8") << QByteArray("caf\xc3\xa9") << QStringLiteral("caf\u00e9") << true;
    QTest::newRow("the replacement character itself")
        << QByteArray("a\xef\xbf\xbd") << QStringLiteral("a\ufffd") << true;
    QTest::newRow("four bytes") << QByteArray("\xf0\x9f\x93\x88")
                                << QString::fromUtf8("\xf0\x9f\x93\x88") << true;
    QTest::newRow("Latin-1") << QByteArray("caf\xe9.dat")
                             << QStringLiteral("caf") + escaped({0xE9}) + QStringLiteral(".dat")
                             << false;
    QTest::newRow("cut short") << QByteArray("a\xe2\x82")
                               << QStringLiteral("a") + escaped({0xE2, 0x82}) << false;
    QTest::newRow("overlong") << QByteArray("\xc0\xaf") << escaped({0xC0, 0xAF}) << false;
    QTest::newRow("a surrogate") << QByteArray("\xed\xa0\x80x")
                                 << escaped({0xED, 0xA0, 0x80}) + QLatin1Char('x') << false;
    QTest::newRow("beyond the last character")
        << QByteArray("\xf4\x90\x80\x80") << escaped({0xF4, 0x90, 0x80, 0x80}) << false;
    QTest::newRow("a lone byte at the end")
        << QByteArray("dir\xff") << QStringLiteral("dir") + escaped({0xFF}) << false;
}

void FileWriteTest::namesAreBytes()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);
    QFETCH(bool, faithful);
    const QString name = decodeFileName(bytes);
    QCOMPARE(name, text);
    QCOMPARE(isSystemName(name), faithful);
    QCOMPARE(QFile::encodeName(name) == bytes, faithful);
    QByteArray untouched = "kept";
    QString reason;
    QCOMPARE(readWholeFile(path(name), 100, &untouched, &reason), false);
    QCOMPARE(reason, faithful ? QStringLiteral("No such file or directory")
                              : QStringLiteral("the name is not valid UTF-8"));
}

QTEST_APPLESS_MAIN(FileWriteTest)
#include "tst_file_write.moc"
