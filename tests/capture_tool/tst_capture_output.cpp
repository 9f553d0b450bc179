// Where tarvix-capture puts a capture: names by start time that never replace a file, one
// reading file replaced as a whole, and the reasons a user reads when that cannot be done.

#include "capture_tool/capture_output.h"
#include "files/reading_file.h"
#include "platform/termination.h"
#include "support/file_bytes.h"
#include "support/pipes.h"
#include "support/system_fixtures.h"

#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

#include <sys/stat.h>
#include <unistd.h>

using namespace tvx;
using test::fileContent;
using test::writeFile;

namespace {

const QDateTime Start(QDate(2024, 3, 7), QTime(15, 4, 9));

} // namespace

class TestCaptureOutput : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();

    void newFileBesideExisting_data();
    void newFileBesideExisting();
    void everyNameTaken();
    void failedWriteGivesUpItsName();
    void check_data();
    void check();
    void standardOutputGivesWayToARequestToEnd();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestCaptureOutput::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(QDir::setCurrent(m_dir->path()));
}

// Files that are there already keep their content; the capture takes the first free name.
void TestCaptureOutput::newFileBesideExisting_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QStringList>("existing");
    QTest::addColumn<QString>("expected");

    QTest::newRow("free") << "." << QStringList() << "readings-20240307-150409.dat";
    QTest::newRow("taken once") << "."
                                << QStringList{QStringLiteral("readings-20240307-150409.dat")}
                                << "readings-20240307-150409-2.dat";
    QTest::newRow("taken twice") << "sub"
                                 << QStringList{QStringLiteral("sub/readings-20240307-150409.dat"),
                                                QStringLiteral(
                                                    "sub/readings-20240307-150409-2.dat")}
                                 << "sub/readings-20240307-150409-3.dat";
    QTest::newRow("a folder of that name")
        << "." << QStringList{QStringLiteral("dir:readings-20240307-150409.dat")}
        << "readings-20240307-150409-2.dat";
}

void TestCaptureOutput::newFileBesideExisting()
{
    QFETCH(QString, folder);
    QFETCH(QStringList, existing);
    QFETCH(QString, expected);
    QVERIFY(QDir().mkpath(QStringLiteral("sub")));
    for (const QString &path : existing) {
        if (path.startsWith(QLatin1String("dir:")))
            QVERIFY(QDir().mkdir(path.mid(4)));
        else
            QVERIFY(writeFile(path, "earlier " + path.toUtf8()));
    }
    CaptureOutput output(OutputKind::Folder, folder);
    const QByteArray reading("001     23.17\r\n\x00\xff", 17);
    const CaptureOutput::Result result = output.write(reading, Start);
    QVERIFY2(result.written, qPrintable(result.reason));
    QCOMPARE(result.where, expected);
    QCOMPARE(fileContent(expected), readingfile::format(reading));
    for (const QString &path : existing)
        if (!path.startsWith(QLatin1String("dir:")))
            QCOMPARE(fileContent(path), "earlier " + path.toUtf8());
    // Nothing else is left in the folder: no temporary or claimed file.
    QStringList expectedFiles{QFileInfo(expected).fileName()};
    for (const QString &path : existing)
        if (!path.startsWith(QLatin1String("dir:")) && QFileInfo(path).path() == folder)
            expectedFiles << QFileInfo(path).fileName();
    expectedFiles.sort();
    QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name), expectedFiles);
}

void TestCaptureOutput::everyNameTaken()
{
    for (int attempt = 1; attempt <= CaptureOutput::MaxAttempts; ++attempt)
        QVERIFY(writeFile(CaptureOutput::readingFileName(Start, attempt), "taken"));
    CaptureOutput output(OutputKind::Folder, QStringLiteral("."));
    const CaptureOutput::Result result = output.write("new", Start);
    QVERIFY(!result.written);
    QCOMPARE(result.reason, QStringLiteral("cannot write to .: readings-20240307-150409.dat and "
                                           "999 more names for that second are taken"));
    QCOMPARE(fileContent(CaptureOutput::readingFileName(Start, CaptureOutput::MaxAttempts)),
             QByteArray("taken"));
    // One name more is free again.
    QFile::remove(CaptureOutput::readingFileName(Start, CaptureOutput::MaxAttempts));
    QCOMPARE(output.write("new", Start).where, QStringLiteral("readings-20240307-150409-1000.dat"));
}

void TestCaptureOutput::failedWriteGivesUpItsName()
{
    CaptureOutput output(OutputKind::Folder, QStringLiteral("."));
    CaptureOutput::Result result;
    {
        test::FileSizeLimit limit(1024); // the disk fills up part of the way through
        result = output.write(QByteArray(4096, 'f'), Start);
    }
    QVERIFY(!result.written);
    QCOMPARE(result.reason,
             QStringLiteral("cannot write readings-20240307-150409.dat: File too large"));
    QCOMPARE(QDir().entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList());
}

// Looked at as an ordinary user: only then do permissions tell.
void TestCaptureOutput::check_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("reason");

    const int folder = int(OutputKind::Folder);
    const int file = int(OutputKind::File);
    QTest::newRow("folder") << folder << "sub" << QString();
    QTest::newRow("missing folder") << folder << "missing"
                                    << "cannot write to missing: there is no such folder";
    QTest::newRow("a file as folder") << folder << "plain.txt"
                                      << "cannot write to plain.txt: it is not a folder";
    QTest::newRow("a folder that takes no file")
        << folder << "locked"
        << "cannot write to locked: the folder is not writable";
    QTest::newRow("file") << file << "sub/r.dat" << QString();
    QTest::newRow("file in a missing folder")
        << file << "missing/r.dat"
        << "cannot write missing/r.dat: there is no such folder";
    QTest::newRow("file under a file") << file << "plain.txt/r.dat"
                                       << "cannot write plain.txt/r.dat: it is not a folder";
    QTest::newRow("a new file in a folder that takes none")
        << file << "locked/new.dat"
        << "cannot write locked/new.dat: the folder is not writable";
    // Written in place, as the Save window does.
    QTest::newRow("a writable file in a folder that takes none")
        << file << "locked/open.dat" << QString();
    QTest::newRow("a file that may not be written")
        << file << "locked/kept.dat"
        << "cannot write locked/kept.dat: the file is not writable";
    QTest::newRow("a folder as file") << file << "sub"
                                      << "cannot write sub: not a regular file";
    QTest::newRow("a named pipe as file") << file << "pipe"
                                          << "cannot write pipe: not a regular file";
    QTest::newRow("a device as file") << file << "/dev/null"
                                      << "cannot write /dev/null: not a regular file";
}

void TestCaptureOutput::check()
{
    QFETCH(int, kind);
    QFETCH(QString, path);
    QFETCH(QString, reason);
    // Seen by an ordinary user, "." and "locked" take no new file.
    QVERIFY(::chmod(".", 0755) == 0 && ::mkdir("sub", 0) == 0 && ::chmod("sub", 0777) == 0);
    QVERIFY(writeFile(QStringLiteral("plain.txt"), "plain") && ::mkfifo("pipe", 0666) == 0);
    QVERIFY(::mkdir("locked", 0755) == 0 && writeFile(QStringLiteral("locked/open.dat"), "open") &&
            writeFile(QStringLiteral("locked/kept.dat"), "kept"));
    QVERIFY(::chmod("locked/open.dat", 0666) == 0 && ::chmod("locked/kept.dat", 0444) == 0 &&
            ::chmod("locked", 0555) == 0);
    QString found;
    bool usable = false;
    {
        test::OrdinaryUser user;
        if (!user.active())
            QSKIP("cannot run as an ordinary user here, and root writes anywhere");
        usable = CaptureOutput(OutputKind(kind), path).check(&found);
    }
    QCOMPARE(usable, reason.isEmpty());
    QCOMPARE(found, reason);
    QCOMPARE(fileContent(QStringLiteral("plain.txt")), QByteArray("plain")); // only looked at
    QCOMPARE(fileContent(QStringLiteral("locked/open.dat")), QByteArray("open"));
}

// Once the program is asked to end, standard output still gets what its reader takes, and is
// given up half a second after it took nothing more: the run must end.
void TestCaptureOutput::standardOutputGivesWayToARequestToEnd()
{
    int pipe[2];
    QVERIFY(test::makeNarrowPipe(pipe, false)); // room for 4096 bytes
    const TerminationSignals termination;
    QVERIFY(::raise(SIGTERM) == 0 && terminationRequested());
    CaptureOutput output(OutputKind::StandardOutput, QStringLiteral("-"));
    const int saved = ::dup(STDOUT_FILENO);
    QVERIFY(::dup2(pipe[1], STDOUT_FILENO) == STDOUT_FILENO);
    QElapsedTimer clock;
    clock.start();
    const CaptureOutput::Result result = output.write(QByteArray(4097, 'o'), Start);
    const qint64 ms = clock.elapsed();
    ::dup2(saved, STDOUT_FILENO);
    QByteArray arrived(8192, 0);
    arrived.resize(qMax<qint64>(0, ::read(pipe[0], arrived.data(), arrived.size())));
    for (const int fd : {saved, pipe[0], pipe[1]})
        ::close(fd);
    QCOMPARE(arrived, QByteArray(4096, 'o'));
    QCOMPARE(result.reason, QStringLiteral("cannot write to standard output: the write was "
                                           "interrupted after 4096 of 4097 bytes"));
    QVERIFY2(ms >= TerminationGraceMs && ms < 1000, qPrintable(QString::number(ms)));
}

QTEST_GUILESS_MAIN(TestCaptureOutput)
#include "tst_capture_output.moc"
