// The lock files through which serial programs agree on a port: every form read, a lock
// honoured while its process lives whatever its age, under every name of the device, only a
// stale one replaced and only once the device is ours, our own written in the common form.

#include "platform/serial/port_lock.h"
#include "support/system_fixtures.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
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

QStringList entriesOf(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System,
                                  QDir::Name);
}

// An adapter by three of its names; they need not exist, the lock names come from the names.
const QStringList adapter{QStringLiteral("/dev/ttyUSB0"),
                          QStringLiteral("/dev/serial/by-id/usb-FTDI_A10K-if00-port0"),
                          QStringLiteral("/dev/serial/by-path/pci-0:2:1.0-port0")};

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
    void deviceNames_data();
    void deviceNames();
    void livingLockUnderAnyName_data();
    void livingLockUnderAnyName();
    void staleLockReplacedOnlyOnceTheDeviceIsOurs_data();
    void staleLockReplacedOnlyOnceTheDeviceIsOurs();
    void staleLockOfAnotherUser_data();
    void staleLockOfAnotherUser();
    void leftoverTemporaryOfAnotherUser();
    void folderThatTakesNoFile();
    void livingLockInAFolderThatTakesNoFile();
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
    QTest::newRow("the older minicom's form: program and user on the PID's line")
        << QByteArray("      4242 minicom ann\n") << qint64(4242) << "minicom"
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
    // As minicom 2.8 names them: the path after /dev/, '/' made '_'.
    QTest::newRow("a stable name") << adapter.at(1) << "LCK..serial_by-id_usb-FTDI_A10K-if00-port0";
}

void TestPortLock::names()
{
    QFETCH(QString, device);
    QFETCH(QString, name);
    QCOMPARE(lockFileName(device), name);
}

void TestPortLock::acquire_data()
{
    // That process's PID in it: living, ended, limit (the first beyond the system's range),
    // below (the last in it), huge (4294967296); "held": the device is held out of sight.
    QTest::addColumn<QByteArray>("existing");
    QTest::addColumn<QString>("form"); // ascii, binary, toolkit, toolkit elsewhere, minicom (older)
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
    QTest::newRow("a living program's in the older minicom's form, a minute old")
        << QByteArray("living") << "minicom" << 60000 << O::Busy
        << "in use by sleep (process {pid}, lock file {path})";
    QTest::newRow("a program's on another host")
        << QByteArray("ended") << "toolkit elsewhere" << 0 << O::Busy
        << "in use by process {pid} on bench-pc (lock file {path})";
    QTest::newRow("a program's that has ended, a second old")
        << QByteArray("ended") << "ascii" << 1000 << O::Taken << "";
    // A holder in a container: its number names no process here, but the device is held.
    const QString outOfSight = QStringLiteral("in use by process {pid}, not seen from here (lock "
                                              "file {path}): the device is open in minicom "
                                              "(process 31234)");
    QTest::newRow("a process not seen here, the device held out of sight")
        << QByteArray("ended held") << "ascii" << 1000 << O::Busy << outOfSight;
    QTest::newRow("the last number of the system's range, the device held out of sight")
        << QByteArray("below held") << "ascii" << 0 << O::Busy << outOfSight;
    QTest::newRow("the first number beyond the system's range: no process anywhere")
        << QByteArray("limit held") << "ascii" << 0 << O::Taken << "";
    QTest::newRow("a number beyond 32 bits, which kill() takes for 0")
        << QByteArray("huge held") << "ascii" << 0 << O::Taken << "";
    QTest::newRow("naming no process, 9.5 s old: still being written")
        << QByteArray("") << "ascii" << 9500 << O::Busy
        << "in use by another program (lock file {path} names no process)";
    QTest::newRow("naming no process, 10.5 s old: left behind")
        << QByteArray("held") << "ascii" << 10500 << O::Taken << "";
    // Something of unknown form that is not opened (it might lead to a device): not ours to take.
    QTest::newRow("a symbolic link to a device") << QByteArray("") << "link" << 0 << O::Busy
                                                 << "in use by another program (lock file {path})";
    QTest::newRow("a folder") << QByteArray("") << "folder" << 0 << O::StaleUnremovable
                              << "the lock file {path} of user {user} is a folder, which no "
                                 "serial program removes: an administrator removes it with "
                                 "\"sudo rm -r {path}\"";
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
    const QByteArray process = existing.split(' ').constFirst();
    const qint64 pid = process == "living"  ? m_living.processId()
                       : process == "ended" ? endedPid()
                       : process == "limit" ? pidLimit()
                       : process == "below" ? pidLimit() - 1
                       : process == "huge"  ? qint64(4294967296)
                                            : 0;
    if (process == "below" && processExists(pid))
        QSKIP("the system's last process number is in use");
    if (form == QLatin1String("link")) {
        QVERIFY(QFile::link(QStringLiteral("/dev/null"), path));
    } else if (form == QLatin1String("folder")) {
        QVERIFY(QDir().mkdir(path));
    } else if (!form.isEmpty()) {
        const QByteArray content =
            form == QLatin1String("binary")    ? binaryPid(qint32(pid))
            : form == QLatin1String("toolkit") ? QByteArray::number(pid) + "\nsleepy\n\n"
            : form.startsWith(QLatin1String("toolkit "))
                ? QByteArray::number(pid) + "\nminicom\nbench-pc\n"
            : form == QLatin1String("minicom")
                ? QByteArray::number(pid).rightJustified(10) + " minicom ann\n"
            : pid ? lockFileContent(pid)
                  : QByteArray();
        QVERIFY(writeLock(path, content, ageMs));
    }
    PortLock lock(folder.path());
    PortLock::Result result = lock.acquire({QStringLiteral("/dev/ttyUSB0")});
    const QString held = existing.endsWith("held") ? QStringLiteral("the device is open in minicom "
                                                                    "(process 31234)")
                                                   : QString();
    if (result.outcome == PortLock::Outcome::Taken) // the device is ours now
        result = lock.claim([&] { return held; });
    QCOMPARE(result.outcome, outcome);
    QCOMPARE(result.reason, QString(reason)
                                .replace(QStringLiteral("{pid}"), QString::number(pid))
                                .replace(QStringLiteral("{path}"), path)
                                .replace(QStringLiteral("{user}"), QFileInfo(path).owner()));
    QCOMPARE(lock.held(), outcome == PortLock::Outcome::Taken);
    // Ours in the common form, which every serial program reads; theirs left as it was.
    if (outcome == PortLock::Outcome::Taken)
        QCOMPARE(contentOf(path), lockFileContent(QCoreApplication::applicationPid()));
    else
        QVERIFY(contentOf(path) != lockFileContent(QCoreApplication::applicationPid()));
    QCOMPARE(QFileInfo(path).isDir(), form == QLatin1String("folder"));
}

// The names a device goes by, each of which another program may lock: its real name, the name
// it was given, and the system's stable names that lead to it.
void TestPortLock::deviceNames_data()
{
    QTest::addColumn<QString>("given");
    QTest::addColumn<QString>("names"); // in the test's /dev, by commas
    const QString all = QStringLiteral("ttyUSB0,serial/by-id/usb-A10K,serial/by-path/pci-0:2");
    QTest::newRow("by its real name") << "ttyUSB0" << all;
    QTest::newRow("by its stable name") << "serial/by-id/usb-A10K" << all;
    QTest::newRow("by a name of the user's own")
        << "instrument"
        << "ttyUSB0,instrument,serial/by-id/usb-A10K,serial/by-path/pci-0:2";
    QTest::newRow("another adapter, without a stable name") << "ttyUSB1"
                                                            << "ttyUSB1";
}

void TestPortLock::deviceNames()
{
    QFETCH(QString, given);
    QFETCH(QString, names);
    QTemporaryDir dev;
    const QDir root(dev.path());
    QVERIFY(root.mkpath(QStringLiteral("serial/by-id")) &&
            root.mkpath(QStringLiteral("serial/by-path")));
    for (const char *node : {"ttyUSB0", "ttyUSB1", "ttyUSB2"})
        QVERIFY(writeLock(root.filePath(QString::fromLatin1(node)), QByteArray(), 0));
    for (const auto &[target, name] :
         {std::pair("../../ttyUSB0", "serial/by-id/usb-A10K"),
          std::pair("../../ttyUSB2", "serial/by-id/usb-PL2303"),
          std::pair("../../ttyUSB0", "serial/by-path/pci-0:2"), std::pair("ttyUSB0", "instrument")})
        QVERIFY(QFile::link(QString::fromLatin1(target), root.filePath(QString::fromLatin1(name))));
    QStringList expected;
    for (const QString &name : names.split(QLatin1Char(',')))
        expected.append(root.filePath(name));
    QCOMPARE(deviceNamesOf(root.filePath(given), root.filePath(QStringLiteral("serial"))),
             expected);
}

// A living lock under any of the device's names holds the port; what was written under the
// others goes again.
void TestPortLock::livingLockUnderAnyName_data()
{
    QTest::addColumn<int>("name");
    QTest::newRow("the real name") << 0;
    QTest::newRow("the stable name by id") << 1;
    QTest::newRow("the stable name by path") << 2;
}

void TestPortLock::livingLockUnderAnyName()
{
    QFETCH(int, name);
    QTemporaryDir folder;
    const QString path = folder.filePath(lockFileName(adapter.at(name)));
    QVERIFY(writeLock(path, lockFileContent(m_living.processId()), 0));
    PortLock lock(folder.path());
    const PortLock::Result result = lock.acquire(adapter);
    QCOMPARE(result.outcome, PortLock::Outcome::Busy);
    QCOMPARE(result.reason, QStringLiteral("in use by sleep (process %1, lock file %2)")
                                .arg(m_living.processId())
                                .arg(path));
    QCOMPARE(entriesOf(folder.path()), QStringList(lockFileName(adapter.at(name))));
}

// A stale lock is replaced only once the device is ours: an opening that fails leaves it as it
// was and removes only what it wrote; and only the very file judged stale is replaced, one
// written meanwhile is judged afresh.
void TestPortLock::staleLockReplacedOnlyOnceTheDeviceIsOurs_data()
{
    QTest::addColumn<QString>("then"); // what happens after the first look
    QTest::addColumn<bool>("taken");
    QTest::newRow("the opening fails") << "fails" << false;
    QTest::newRow("the device is ours") << "" << true;
    QTest::newRow("meanwhile a living program locks it") << "living" << false;
    QTest::newRow("meanwhile another stale lock") << "ended" << true;
}

void TestPortLock::staleLockReplacedOnlyOnceTheDeviceIsOurs()
{
    QFETCH(QString, then);
    QFETCH(bool, taken);
    QTemporaryDir folder;
    const QString stale = folder.filePath(lockFileName(adapter.at(0)));
    QByteArray content = lockFileContent(endedPid());
    QVERIFY(writeLock(stale, content, 3600000));
    const quint64 inode = test::inodeOf(stale);
    const QByteArray ours = lockFileContent(QCoreApplication::applicationPid());
    PortLock lock(folder.path());
    QCOMPARE(lock.acquire(adapter).outcome, PortLock::Outcome::Taken);
    // The free names are ours at once, the stale one not yet.
    QCOMPARE(contentOf(stale), content);
    QCOMPARE(contentOf(folder.filePath(lockFileName(adapter.at(1)))), ours);
    QVERIFY(!lock.held());
    if (then == QLatin1String("living") || then == QLatin1String("ended")) {
        content =
            lockFileContent(then == QLatin1String("living") ? m_living.processId() : endedPid());
        QVERIFY(QFile::remove(stale) && writeLock(stale, content, 3600000));
    }
    if (then != QLatin1String("fails"))
        QCOMPARE(lock.claim().outcome == PortLock::Outcome::Taken, taken);
    QCOMPARE(lock.held(), taken);
    // A refused claim has let go of everything of its own already.
    QCOMPARE(entriesOf(folder.path()).size(), then == QLatin1String("living") ? 1 : adapter.size());
    QCOMPARE(contentOf(stale), taken ? ours : content);
    lock.release();
    QCOMPARE(entriesOf(folder.path()).size(), taken ? 0 : 1);
    if (then == QLatin1String("fails"))
        QCOMPARE(test::inodeOf(stale), inode);
}

// A run under another account was killed and left its lock in the sticky lock folder: this
// user may not remove it, and is told whose it is and how to have it removed.
void TestPortLock::staleLockOfAnotherUser_data()
{
    QTest::addColumn<int>("owner");
    QTest::addColumn<QString>("named");
    QTest::addColumn<bool>("beyondRange"); // its PID is the first beyond the system's range
    QTest::newRow("root's") << 0 << "root" << false;
    QTest::newRow("an account since removed, by number") << 54321 << "54321" << false;
    QTest::newRow("root's, naming a number beyond the system's range") << 0 << "root" << true;
}

void TestPortLock::staleLockOfAnotherUser()
{
    QFETCH(int, owner);
    QFETCH(QString, named);
    QFETCH(bool, beyondRange);
    if (::geteuid() != 0)
        QSKIP("needs root, to leave a lock file of another user");
    QTemporaryDir folder;
    QVERIFY(::chmod(QFile::encodeName(folder.path()).constData(), 01777) == 0);
    const QString path = folder.filePath(QStringLiteral("LCK..ttyS0"));
    const qint64 pid = beyondRange ? pidLimit() : endedPid();
    QVERIFY(writeLock(path, lockFileContent(pid), 0));
    QCOMPARE(::chown(QFile::encodeName(path).constData(), uid_t(owner), gid_t(owner)), 0);
    test::OrdinaryUser user;
    QVERIFY(user.active());
    PortLock lock(folder.path());
    // Known before the device is opened at all.
    const PortLock::Result result = lock.acquire({QStringLiteral("/dev/ttyS0")});
    QCOMPARE(result.outcome, PortLock::Outcome::StaleUnremovable);
    QCOMPARE(result.reason,
             QStringLiteral("the stale lock file %1 of user %2 names process %3, %4, and cannot "
                            "be removed (Operation not permitted): an administrator removes it "
                            "with \"sudo rm %1\"")
                 .arg(path, named)
                 .arg(pid)
                 .arg(beyondRange ? QStringLiteral("beyond the system's range")
                                  : QStringLiteral("which has ended")));
}

// A temporary file another user left under the name a plain "LTMP.<pid>" would have (a process
// of the same number in a container, say) keeps no lock from being written.
void TestPortLock::leftoverTemporaryOfAnotherUser()
{
    if (::geteuid() != 0)
        QSKIP("needs root, to leave a file of another user");
    QTemporaryDir folder;
    QVERIFY(::chmod(QFile::encodeName(folder.path()).constData(), 01777) == 0);
    const QString leftover = QStringLiteral("LTMP.%1").arg(QCoreApplication::applicationPid());
    QVERIFY(writeLock(folder.filePath(leftover), "leftover", 0));
    QCOMPARE(::chown(QFile::encodeName(folder.filePath(leftover)).constData(), 54321, 54321), 0);
    test::OrdinaryUser user;
    QVERIFY(user.active());
    PortLock lock(folder.path());
    QCOMPARE(lock.acquire({QStringLiteral("/dev/ttyS0")}).reason, QString());
    QCOMPARE(entriesOf(folder.path()), (QStringList{QStringLiteral("LCK..ttyS0"), leftover}));
}

void TestPortLock::folderThatTakesNoFile()
{
    const QString missing = QStringLiteral("/nonexistent/locks");
    const QString note = QStringLiteral("no lock file can be written (/nonexistent/locks: No such "
                                        "file or directory): programs that look only for lock "
                                        "files will not see the port in use");
    PortLock lock(missing);
    const PortLock::Result result = lock.acquire({QStringLiteral("/dev/ttyS0")});
    QCOMPARE(result.outcome, PortLock::Outcome::NotWritable);
    QCOMPARE(result.reason, note);
    QCOMPARE(lockFolderNote(missing), note);
    QTemporaryDir writable;
    QCOMPARE(lockFolderNote(writable.path()), QString());
}

// A folder this user may not write to (one for a group of its own, as some systems have it)
// still tells of the programs that hold ports.
void TestPortLock::livingLockInAFolderThatTakesNoFile()
{
    if (::geteuid() != 0)
        QSKIP("needs root, to make a lock folder an ordinary user may not write to");
    QTemporaryDir folder;
    QVERIFY(::chmod(QFile::encodeName(folder.path()).constData(), 0755) == 0);
    const QString path = folder.filePath(QStringLiteral("LCK..ttyS0"));
    QVERIFY(writeLock(path, lockFileContent(m_living.processId()), 0));
    test::OrdinaryUser user;
    QVERIFY(user.active());
    PortLock lock(folder.path());
    QCOMPARE(lock.acquire({QStringLiteral("/dev/ttyS0")}).reason,
             QStringLiteral("in use by sleep (process %1, lock file %2)")
                 .arg(m_living.processId())
                 .arg(path));
}

void TestPortLock::releaseRemovesOnlyOurOwn()
{
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("LCK..ttyS0"));
    {
        PortLock lock(folder.path());
        QCOMPARE(lock.acquire({QStringLiteral("/dev/ttyS0")}).outcome, PortLock::Outcome::Taken);
        QVERIFY(QFile::exists(path));
    } // its end releases it
    QVERIFY(!QFile::exists(path));
    PortLock lock(folder.path());
    QCOMPARE(lock.acquire({QStringLiteral("/dev/ttyS0")}).outcome, PortLock::Outcome::Taken);
    // An administrator gave the port to another program meanwhile.
    QVERIFY(writeLock(path, lockFileContent(m_living.processId()), 0));
    lock.release();
    QCOMPARE(contentOf(path), lockFileContent(m_living.processId()));
}

QTEST_GUILESS_MAIN(TestPortLock)
#include "tst_port_lock.moc"
