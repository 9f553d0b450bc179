// The lock files through which serial programs agree on a port: every form read, a lock
// honoured while its process lives whatever its age, only a stale one removed, our own written
// in the common form.

#include "platform/serial/port_lock.h"
#include "support/system_fixtures.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <cstring>

#include <sys/stat.h>
#include <unistd.h>

using namespace tvx;

Q_DECLARE_METATYPE(PortLock::Outcome)

namespace {

QByteArray binaryPid(qint32 pid)
{
    QByteArray bytes(sizeof pid, '\0');
    std::memcpy(bytes.data(), &pid, sizeof pid);
    return bytes;
}

// The PID a process had, now free: it has ended and been reaped.
qint64 endedPid()
{
    QProcess process;
    process.start(QStringLiteral("sh"), {QStringLiteral("-c"), QStringLiteral("echo $$")});
    process.waitForFinished();
    return process.readAll().trimmed().toLongLong();
}

bool writeLock(const QString &path, const QByteArray &content, qint64 ageMs)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size() &&
           file.setFileTime(QDateTime::currentDateTime().addMSecs(-ageMs),
                            QFileDevice::FileModificationTime);
}

QByteArray contentOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(none)");
}

} // namespace

class TestPortLock : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();

    void parse_data();
    void parse();
    void names_data();
    void names();
    void acquire_data();
    void acquire();
    void staleLockOfAnotherUser_data();
    void staleLockOfAnotherUser();
    void folderThatTakesNoFile();
    void releaseRemovesOnlyOurOwn();

private:
    QProcess m_living; // a process that holds other programs' locks in these tests
};

void TestPortLock::initTestCase()
{
    m_living.start(QStringLiteral("sleep"), {QStringLiteral("600")});
    QVERIFY(m_living.waitForStarted());
}

void TestPortLock::cleanupTestCase()
{
    m_living.kill();
    m_living.waitForFinished();
}

void TestPortLock::parse_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<qint64>("pid"); // 0: names no process
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("host");
    QTest::newRow("ten ASCII characters") << QByteArray("      4242\n") << qint64(4242) << ""
                                          << "";
    QTest::newRow("ASCII without padding or newline, four digits")
        << QByteArray("4242") << qint64(4242) << ""
        << "";
    // Four bytes of text, told from a binary PID by their characters.
    QTest::newRow("ASCII, four characters with blanks") << QByteArray("  42") << qint64(42) << ""
                                                        << "";
    QTest::newRow("ASCII, four characters with a newline")
        << QByteArray("421\n") << qint64(421) << ""
        << "";
    QTest::newRow("binary") << binaryPid(4242) << qint64(4242) << ""
                            << "";
    QTest::newRow("the toolkit's form")
        << QByteArray("4242\nminicom\nbench-pc\n") << qint64(4242) << "minicom"
        << "bench-pc";
    QTest::newRow("empty, being written") << QByteArray() << qint64(0) << ""
                                          << "";
    QTest::newRow("words") << QByteArray("locked\n") << qint64(0) << ""
                           << "";
    QTest::newRow("PID 0") << QByteArray("         0\n") << qint64(0) << ""
                           << "";
    QTest::newRow("negative binary") << binaryPid(-7) << qint64(0) << ""
                                     << "";
}

void TestPortLock::parse()
{
    QFETCH(QByteArray, content);
    QFETCH(qint64, pid);
    QFETCH(QString, program);
    QFETCH(QString, host);
    const std::optional<LockHolder> holder = parseLockFile(content);
    QCOMPARE(holder.has_value(), pid != 0);
    if (holder) {
        QCOMPARE(holder->pid, pid);
        QCOMPARE(holder->program, program);
        QCOMPARE(holder->host, host);
    }
}

void TestPortLock::names_data()
{
    QTest::addColumn<QString>("device");
    QTest::addColumn<QString>("name");
    QTest::newRow("an adapter") << "/dev/ttyUSB0"
                                << "LCK..ttyUSB0";
    QTest::newRow("a pseudo-terminal") << "/dev/pts/4"
                                       << "LCK..pts_4";
    QTest::newRow("outside /dev") << "/srv/lab/instrument"
                                  << "LCK..instrument";
}

void TestPortLock::names()
{
    QFETCH(QString, device);
    QFETCH(QString, name);
    QCOMPARE(lockFileName(device), name);
}

void TestPortLock::acquire_data()
{
    QTest::addColumn<QByteArray>("existing"); // "living", "ended": that process's PID in it
    QTest::addColumn<QString>("form");        // ascii, binary, toolkit, toolkit elsewhere
    QTest::addColumn<int>("ageMs");
    QTest::addColumn<PortLock::Outcome>("outcome");
    QTest::addColumn<QString>("reason"); // {pid}: the holder's, {path}: the lock file
    using O = PortLock::Outcome;
    QTest::newRow("none") << QByteArray() << "" << 0 << O::Taken << "";
    QTest::newRow("a living program's, an hour old")
        << QByteArray("living") << "ascii" << 3600000 << O::Busy
        << "in use by sleep (process {pid}, lock file {path})";
    QTest::newRow("a living program's in binary")
        << QByteArray("living") << "binary" << 0 << O::Busy
        << "in use by sleep (process {pid}, lock file {path})";
    QTest::newRow("a living program's in the toolkit's form, a minute old")
        << QByteArray("living") << "toolkit" << 60000 << O::Busy
        << "in use by sleep (process {pid}, lock file {path})";
    QTest::newRow("a program's on another host")
        << QByteArray("ended") << "toolkit elsewhere" << 0 << O::Busy
        << "in use by process {pid} on bench-pc (lock file {path})";
    QTest::newRow("a program's that has ended, a second old")
        << QByteArray("ended") << "ascii" << 1000 << O::Taken << "";
    QTest::newRow("naming no process, 9.5 s old: still being written")
        << QByteArray("") << "ascii" << 9500 << O::Busy
        << "in use by another program (lock file {path} names no process)";
    QTest::newRow("naming no process, 10.5 s old: left behind")
        << QByteArray("") << "ascii" << 10500 << O::Taken << "";
    // Something of unknown form that is not opened (it might lead to a device): not ours to take.
    QTest::newRow("a symbolic link to a device") << QByteArray("") << "link" << 0 << O::Busy
                                                 << "in use by another program (lock file {path})";
}

void TestPortLock::acquire()
{
    QFETCH(QByteArray, existing);
    QFETCH(QString, form);
    QFETCH(int, ageMs);
    QFETCH(PortLock::Outcome, outcome);
    QFETCH(QString, reason);
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("LCK..ttyUSB0"));
    const qint64 pid = existing == "living"  ? m_living.processId()
                       : existing == "ended" ? endedPid()
                                             : 0;
    if (form == QLatin1String("link")) {
        QVERIFY(QFile::link(QStringLiteral("/dev/null"), path));
    } else if (!form.isEmpty()) {
        const QByteArray content = form == QLatin1String("binary") ? binaryPid(qint32(pid))
                                   : form == QLatin1String("toolkit")
                                       ? QByteArray::number(pid) + "\nsleepy\n\n"
                                   : form.startsWith(QLatin1String("toolkit "))
                                       ? QByteArray::number(pid) + "\nminicom\nbench-pc\n"
                                   : pid ? lockFileContent(pid)
                                         : QByteArray();
        QVERIFY(writeLock(path, content, ageMs));
    }
    PortLock lock(folder.path());
    const PortLock::Result result = lock.acquire(QStringLiteral("/dev/ttyUSB0"));
    QCOMPARE(result.outcome, outcome);
    QCOMPARE(result.reason, QString(reason)
                                .replace(QStringLiteral("{pid}"), QString::number(pid))
                                .replace(QStringLiteral("{path}"), path));
    QCOMPARE(lock.held(), outcome == PortLock::Outcome::Taken);
    // Ours in the common form, which every serial program reads; theirs left as it was.
    if (outcome == PortLock::Outcome::Taken)
        QCOMPARE(contentOf(path), lockFileContent(QCoreApplication::applicationPid()));
    else
        QVERIFY(contentOf(path) != lockFileContent(QCoreApplication::applicationPid()));
}

// A run under another account was killed and left its lock in the sticky lock folder: this
// user may not remove it, and is told whose it is and how to have it removed.
void TestPortLock::staleLockOfAnotherUser_data()
{
    QTest::addColumn<int>("owner");
    QTest::addColumn<QString>("named");
    QTest::newRow("root's") << 0 << "root";
    QTest::newRow("an account since removed, by number") << 54321 << "54321";
}

void TestPortLock::staleLockOfAnotherUser()
{
    QFETCH(int, owner);
    QFETCH(QString, named);
    if (::geteuid() != 0)
        QSKIP("needs root, to leave a lock file of another user");
    QTemporaryDir folder;
    QVERIFY(::chmod(QFile::encodeName(folder.path()).constData(), 01777) == 0);
    const QString path = folder.filePath(QStringLiteral("LCK..ttyS0"));
    const qint64 pid = endedPid();
    QVERIFY(writeLock(path, lockFileContent(pid), 0));
    QCOMPARE(::chown(QFile::encodeName(path).constData(), uid_t(owner), gid_t(owner)), 0);
    test::OrdinaryUser user;
    QVERIFY(user.active());
    PortLock lock(folder.path());
    const PortLock::Result result = lock.acquire(QStringLiteral("/dev/ttyS0"));
    QCOMPARE(result.outcome, PortLock::Outcome::StaleUnremovable);
    QCOMPARE(result.reason,
             QStringLiteral("the stale lock file %1 of user %2 names process %3, which has "
                            "ended, and cannot be removed (Operation not permitted): an "
                            "administrator removes it with \"sudo rm %1\"")
                 .arg(path, named)
                 .arg(pid));
}

void TestPortLock::folderThatTakesNoFile()
{
    const QString missing = QStringLiteral("/nonexistent/locks");
    const QString note = QStringLiteral("no lock file can be written (/nonexistent/locks: No such "
                                        "file or directory): programs that look only for lock "
                                        "files will not see the port in use");
    PortLock lock(missing);
    const PortLock::Result result = lock.acquire(QStringLiteral("/dev/ttyS0"));
    QCOMPARE(result.outcome, PortLock::Outcome::NotWritable);
    QCOMPARE(result.reason, note);
    QCOMPARE(lockFolderNote(missing), note);
    QTemporaryDir writable;
    QCOMPARE(lockFolderNote(writable.path()), QString());
}

void TestPortLock::releaseRemovesOnlyOurOwn()
{
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("LCK..ttyS0"));
    {
        PortLock lock(folder.path());
        QCOMPARE(lock.acquire(QStringLiteral("/dev/ttyS0")).outcome, PortLock::Outcome::Taken);
        QVERIFY(QFile::exists(path));
    } // its end releases it
    QVERIFY(!QFile::exists(path));
    PortLock lock(folder.path());
    QCOMPARE(lock.acquire(QStringLiteral("/dev/ttyS0")).outcome, PortLock::Outcome::Taken);
    // An administrator gave the port to another program meanwhile.
    QVERIFY(writeLock(path, lockFileContent(m_living.processId()), 0));
    lock.release();
    QCOMPARE(contentOf(path), lockFileContent(m_living.processId()));
}

QTEST_GUILESS_MAIN(TestPortLock)
#include "tst_port_lock.moc"
