// The capture journal: each capture a reading file named by its start time, written as the
// bytes arrive and at the latest a second after them, the newest 500 kept, and a journal that
// cannot be written told once without touching the capture.

#include "app/capture.h"
#include "app/reading_text.h"
#include "files/reading_file.h"
#include "journal/capture_journal.h"
#include "journal/journal_folder.h"
#include "support/fake_serial_control.h"
#include "support/file_bytes.h"
#include "support/system_fixtures.h"

#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace tvx;
using test::fileContent;
using test::writeFile;

namespace {

const QDateTime Start(QDate(2026, 3, 7), QTime(15, 4, 9));

QString nameAt(int second, int attempt = 1)
{
    return readingfile::captureName(Start.addSecs(second), attempt);
}

// A capture's face that shows nothing.
class QuietView : public CaptureView {
public:
    void setReadingAreaVisible(bool) override {}
    void setNoticeVisible(bool) override {}
    bool noticeVisible() const override { return false; }
    void beep() override {}
};

} // namespace

class TestCaptureJournal : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();

    void folderFromEnvironment_data();
    void folderFromEnvironment();
    void captureIsAReadingFile();
    void namesNeverReplace_data();
    void namesNeverReplace();
    void keepsTheNewest_data();
    void keepsTheNewest();
    void bytesReachTheFileWithinASecond_data();
    void bytesReachTheFileWithinASecond();
    void unwritableJournalIsToldOnce_data();
    void unwritableJournalIsToldOnce();
    void storedReadingJoinsTheJournal();
    void followsTheCaptures();

private:
    // A journal writing in this thread, on the test's clock.
    std::unique_ptr<CaptureJournal> journal(const QString &folder);
    // One whole capture of these bytes, begun at Start + second.
    void capture(CaptureJournal &journal, int second, const QByteArray &bytes);
    QStringList readings(const QString &folder) const;

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_folder;
    qint64 m_now = 0;
    QStringList m_told;
};

void TestCaptureJournal::init()
{
    // In memory where the system has such a folder: hundreds of captures are each put on the
    // disk, which a memory file system does at once.
    const QString memory = QStringLiteral("/dev/shm");
    m_dir = QFileInfo(memory).isWritable()
                ? std::make_unique<QTemporaryDir>(memory + QStringLiteral("/journal-XXXXXX"))
                : std::make_unique<QTemporaryDir>();
    m_folder = m_dir->filePath(QStringLiteral("state/tarvix/captures"));
    m_now = 0;
    m_told.clear();
}

std::unique_ptr<CaptureJournal> TestCaptureJournal::journal(const QString &folder)
{
    return std::make_unique<CaptureJournal>(
        folder, [this] { return m_now; }, [this](const QString &line) { m_told.append(line); });
}

void TestCaptureJournal::capture(CaptureJournal &journal, int second, const QByteArray &bytes)
{
    journal.began(Start.addSecs(second));
    journal.received(bytes);
    journal.ended();
}

QStringList TestCaptureJournal::readings(const QString &folder) const
{
    return QDir(folder).entryList({QStringLiteral("readings-*")}, QDir::Files, QDir::Name);
}

void TestCaptureJournal::folderFromEnvironment_data()
{
    QTest::addColumn<QString>("stateHome");
    QTest::addColumn<bool>("windows");
    QTest::addColumn<QString>("expected");
    QTest::newRow("XDG_STATE_HOME") << "/srv/state/" << false << "/srv/state/tarvix/captures";
    QTest::newRow("unset") << "" << false << "/home/ana/.local/state/tarvix/captures";
    QTest::newRow("relative: not used")
        << "state" << false << "/home/ana/.local/state/tarvix/captures";
    QTest::newRow("Windows") << "/srv/state" << true
                             << "C:\\Users\\ana\\AppData\\Local\\Tarvix\\captures";
}

void TestCaptureJournal::folderFromEnvironment()
{
    QFETCH(QString, stateHome);
    QFETCH(bool, windows);
    QFETCH(QString, expected);
    const auto environment = [&](const char *name) {
        const QByteArray variable(name);
        if (variable == "XDG_STATE_HOME")
            return stateHome;
        if (variable == "HOME")
            return QStringLiteral("/home/ana");
        if (variable == "LOCALAPPDATA")
            return QStringLiteral("C:\\Users\\ana\\AppData\\Local\\");
        return QString();
    };
    QCOMPARE(journalFolder(environment, windows), expected);
}

// The file is made, for its user alone, when the capture begins, and is a reading file once it
// ends: exactly the bytes received, then CR LF, as File Open shows it.
void TestCaptureJournal::captureIsAReadingFile()
{
    const QByteArray bytes("TARVIX-1M\r\n 001     23.16\r\n\x01\xb5g\n", 29);
    auto j = journal(m_folder);
    j->began(Start);
    const QString path = QDir(m_folder).filePath(nameAt(0));
    QCOMPARE(fileContent(path), QByteArray());
    QCOMPARE(QFileInfo(m_folder).permissions() & 0x0077, QFileDevice::Permissions());
    j->received(bytes.left(20));
    j->received(bytes.mid(20));
    j->ended();
    QCOMPARE(fileContent(path), readingfile::format(bytes));
    QCOMPARE(m_told, QStringList());
}

// A second capture in the same second, or a file put there by someone else, never loses its
// file: the capture takes the next free name.
void TestCaptureJournal::namesNeverReplace_data()
{
    QTest::addColumn<QStringList>("existing");
    QTest::addColumn<int>("captures");
    QTest::addColumn<QString>("last");
    QTest::newRow("one") << QStringList() << 1 << nameAt(0);
    QTest::newRow("two in one second") << QStringList() << 2 << nameAt(0, 2);
    QTest::newRow("three in one second") << QStringList() << 3 << nameAt(0, 3);
    QTest::newRow("a user's file of that name") << QStringList{nameAt(0)} << 1 << nameAt(0, 2);
    QTest::newRow("a link of that name")
        << QStringList{QStringLiteral("link")} << 1 << nameAt(0, 2);
}

void TestCaptureJournal::namesNeverReplace()
{
    QFETCH(QStringList, existing);
    QFETCH(int, captures);
    QFETCH(QString, last);
    QVERIFY(QDir().mkpath(m_folder));
    const QString target = m_dir->filePath(QStringLiteral("target"));
    for (const QString &name : existing) {
        if (name == QLatin1String("link"))
            QVERIFY(QFile::link(target, QDir(m_folder).filePath(nameAt(0))));
        else
            QVERIFY(writeFile(QDir(m_folder).filePath(name), "mine"));
    }
    auto j = journal(m_folder);
    for (int i = 0; i < captures; ++i)
        capture(*j, 0, QByteArray::number(i));
    QCOMPARE(fileContent(QDir(m_folder).filePath(last)),
             readingfile::format(QByteArray::number(captures - 1)));
    if (!existing.isEmpty() && existing.first() != QLatin1String("link"))
        QCOMPARE(fileContent(QDir(m_folder).filePath(existing.first())), QByteArray("mine"));
    QVERIFY(!QFileInfo::exists(target));
}

// The newest 500 captures stay; only files the journal wrote ever go, not one the user put
// there under such a name, nor one that took the place of a journal file.
void TestCaptureJournal::keepsTheNewest_data()
{
    QTest::addColumn<int>("captures");
    QTest::addColumn<int>("kept");
    QTest::newRow("499") << 499 << 499;
    QTest::newRow("500") << 500 << 500;
    QTest::newRow("501") << 501 << 500;
    QTest::newRow("502") << 502 << 500;
}

void TestCaptureJournal::keepsTheNewest()
{
    QFETCH(int, captures);
    QFETCH(int, kept);
    QVERIFY(QDir().mkpath(m_folder));
    const QString usersOwn = QDir(m_folder).filePath(nameAt(-10));
    QVERIFY(writeFile(usersOwn, "the user's"));
    auto j = journal(m_folder);
    capture(*j, 0, "first");
    // The journal's first file replaced by the user's own.
    const QString replaced = QDir(m_folder).filePath(nameAt(0));
    QVERIFY(QFile::remove(replaced));
    QVERIFY(writeFile(replaced, "replaced"));
    for (int i = 1; i <= captures; ++i)
        capture(*j, i, QByteArray::number(i));

    QStringList expected{nameAt(-10), nameAt(0)};
    for (int i = captures - kept + 1; i <= captures; ++i)
        expected.append(nameAt(i));
    QCOMPARE(readings(m_folder), expected);
    QCOMPARE(fileContent(usersOwn), QByteArray("the user's"));
    QCOMPARE(fileContent(replaced), QByteArray("replaced"));
}

// Bytes received are held for a second at most (or until 1 MiB is held), then written; the end
// of the capture writes the rest at once.
void TestCaptureJournal::bytesReachTheFileWithinASecond_data()
{
    QTest::addColumn<qint64>("after");
    QTest::addColumn<qsizetype>("size");
    QTest::addColumn<bool>("written");
    QTest::newRow("999 ms") << qint64(999) << qsizetype(40) << false;
    QTest::newRow("1000 ms") << qint64(1000) << qsizetype(40) << true;
    QTest::newRow("1 MiB - 1 at once") << qint64(0) << qsizetype((1 << 20) - 1) << false;
    QTest::newRow("1 MiB at once") << qint64(0) << qsizetype(1 << 20) << true;
}

void TestCaptureJournal::bytesReachTheFileWithinASecond()
{
    QFETCH(qint64, after);
    QFETCH(qsizetype, size);
    QFETCH(bool, written);
    auto j = journal(m_folder);
    m_now = 5000;
    j->began(Start);
    const QString path = QDir(m_folder).filePath(nameAt(0));
    const QByteArray bytes(size, 'r');
    // Received in two blocks: the time counts from the first.
    j->received(bytes.left(10));
    m_now += after;
    j->received(bytes.mid(10));
    QCOMPARE(fileContent(path), written ? bytes : QByteArray());
    j->poll();
    QCOMPARE(fileContent(path), written ? bytes : QByteArray());
    m_now += 1000 - after;
    j->poll();
    QCOMPARE(fileContent(path), bytes);
    j->received("end");
    j->ended();
    QCOMPARE(fileContent(path), readingfile::format(bytes + "end"));
}

// A journal that cannot be written is said once on standard error, and the capture (the caller)
// sees nothing of it; a journal that can be written again is told again when it fails again.
void TestCaptureJournal::unwritableJournalIsToldOnce_data()
{
    QTest::addColumn<QString>("setUp");
    QTest::addColumn<QString>("reason");
    QTest::newRow("a file in the folder's place") << "file"
                                                  << "Not a directory";
    QTest::newRow("a loop of links") << "loop"
                                     << "Too many levels of symbolic links";
    QTest::newRow("a read-only folder") << "read-only"
                                        << "Permission denied";
}

void TestCaptureJournal::unwritableJournalIsToldOnce()
{
    QFETCH(QString, setUp);
    QFETCH(QString, reason);
    const QString state = m_dir->filePath(QStringLiteral("state"));
    std::unique_ptr<test::OrdinaryUser> user;
    if (setUp == QLatin1String("file")) {
        QVERIFY(writeFile(state, "a file"));
    } else if (setUp == QLatin1String("loop")) {
        QVERIFY(QFile::link(state, state));
    } else {
        QVERIFY(QDir().mkpath(state));
        QVERIFY(QFile::setPermissions(state, QFile::ReadOwner | QFile::ExeOwner | QFile::ReadOther |
                                                 QFile::ExeOther));
        QVERIFY(QFile::setPermissions(m_dir->path(), QFile::ReadOwner | QFile::WriteOwner |
                                                         QFile::ExeOwner | QFile::ExeOther));
        user = std::make_unique<test::OrdinaryUser>();
        if (!user->active())
            QSKIP("Permissions cannot apply here: no ordinary user to run as.");
    }
    auto j = journal(m_folder);
    capture(*j, 0, "one");
    capture(*j, 1, "two");
    QCOMPARE(m_told, QStringList{QStringLiteral("the capture journal cannot be written (%1: %2); "
                                                "captures go on without it")
                                     .arg(QDir::toNativeSeparators(m_folder), reason)});
    QCOMPARE(j->readingTextFile(), QString());
    user.reset();
    QVERIFY(QFile::remove(state) || QDir(state).removeRecursively());
    capture(*j, 2, "three");
    QCOMPARE(fileContent(QDir(m_folder).filePath(nameAt(2))), readingfile::format("three"));
    QVERIFY(QFile::remove(QDir(m_folder).filePath(nameAt(2))));
    QVERIFY(QDir(state).removeRecursively() && writeFile(state, "a file again"));
    capture(*j, 3, "four");
    QCOMPARE(m_told.size(), 2);
}

// tarvix-capture's readings that cannot go where they were asked to are kept here, and count
// among the captures the journal keeps.
void TestCaptureJournal::storedReadingJoinsTheJournal()
{
    JournalWriter writer(m_folder, [this](const QString &line) { m_told.append(line); });
    QString reason;
    const QString path = writer.store("stored", Start, &reason);
    QCOMPARE(path, QDir::toNativeSeparators(QDir(m_folder).filePath(nameAt(0))));
    QCOMPARE(fileContent(path), readingfile::format("stored"));
    for (int i = 1; i <= JournalWriter::Kept; ++i) {
        writer.begin(Start.addSecs(i));
        writer.end();
    }
    QVERIFY(!QFileInfo::exists(path));
    QCOMPARE(readings(m_folder).size(), JournalWriter::Kept);
}

// Every byte a capture takes, in blocks and at its end, and the capture's file named as long as
// the reading text is that capture; a file loaded over it, even in its middle, is not.
void TestCaptureJournal::followsTheCaptures()
{
    test::FakeSerialControl comm;
    QVERIFY(comm.setRThreshold(1));
    QVERIFY(comm.setPortOpen(true));
    ReadingText text;
    QuietView view;
    Capture capture(comm, text, view);
    QObject::connect(&comm, &SerialControl::onComm, &capture, &Capture::Comm1_OnComm);
    QSignalSpy finished(&capture, &Capture::finished);
    auto j = journal(m_folder);
    j->follow(capture, text);

    const QByteArray block(40, 'b');
    const QByteArray rest("rest\r\n");
    comm.feed(block);
    comm.feed(rest);
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 10000);
    const QString path = j->readingTextFile();
    QCOMPARE(QFileInfo(path).dir(), QDir(m_folder));
    QCOMPARE(fileContent(path), readingfile::format(block + rest));
    text.replace("loaded");
    QCOMPARE(j->readingTextFile(), QString());

    comm.feed(block);
    QVERIFY(capture.running());
    QVERIFY(!j->readingTextFile().isEmpty());
    text.replace("loaded in the middle");
    QCOMPARE(j->readingTextFile(), QString());
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 2, 10000);
}

QTEST_GUILESS_MAIN(TestCaptureJournal)
#include "tst_capture_journal.moc"
