// Where tarvix-capture puts a capture: names by start time that never replace a file, one
// reading file replaced as a whole, and the reasons a user reads when that cannot be done.

#include "capture_tool/capture_output.h"
#include "files/reading_file.h"
#include "support/file_bytes.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

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

    void readingFileName_data();
    void readingFileName();
    void newFileBesideExisting_data();
    void newFileBesideExisting();
    void everyNameTaken();
    void fileReplacedAsAWhole();
    void fileInVanishedFolder();
    void check_data();
    void check();
    void folderNotWritable();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestCaptureOutput::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(QDir::setCurrent(m_dir->path()));
}

void TestCaptureOutput::readingFileName_data()
{
    QTest::addColumn<QDateTime>("start");
    QTest::addColumn<int>("attempt");
    QTest::addColumn<QString>("expected");

    QTest::newRow("first") << Start << 1 << "readings-20240307-150409.dat";
    QTest::newRow("second") << Start << 2 << "readings-20240307-150409-2.dat";
    QTest::newRow("last") << Start << CaptureOutput::MaxAttempts
                          << "readings-20240307-150409-1000.dat";
    QTest::newRow("end of a year")
        << QDateTime(QDate(1999, 12, 31), QTime(23, 59, 59)) << 1 << "readings-19991231-235959.dat";
    QTest::newRow("midnight") << QDateTime(QDate(2030, 1, 1), QTime(0, 0, 0)) << 1
                              << "readings-20300101-000000.dat";
}

void TestCaptureOutput::readingFileName()
{
    QFETCH(QDateTime, start);
    QFETCH(int, attempt);
    QFETCH(QString, expected);
    QCOMPARE(CaptureOutput::readingFileName(start, attempt), expected);
}

// Files that are there already keep their content; the capture takes the first free name.
void TestCaptureOutput::newFileBesideExisting_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QStringList>("existing");
    QTest::addColumn<QString>("expected");

    QTest::newRow("free") << "." << QStringList() << "readings-20240307-150409.dat";
    QTest::newRow("in a subfolder") << "sub" << QStringList() << "sub/readings-20240307-150409.dat";
    QTest::newRow("taken once") << "."
                                << QStringList{QStringLiteral("readings-20240307-150409.dat")}
                                << "readings-20240307-150409-2.dat";
    QTest::newRow("taken twice") << "sub"
                                 << QStringList{QStringLiteral("sub/readings-20240307-150409.dat"),
                                                QStringLiteral(
                                                    "sub/readings-20240307-150409-2.dat")}
                                 << "sub/readings-20240307-150409-3.dat";
    QTest::newRow("a later name taken only")
        << "." << QStringList{QStringLiteral("readings-20240307-150409-2.dat")}
        << "readings-20240307-150409.dat";
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

void TestCaptureOutput::fileReplacedAsAWhole()
{
    QVERIFY(writeFile(QStringLiteral("r.dat"), QByteArray(5000, 'o')));
    CaptureOutput output(OutputKind::File, QStringLiteral("r.dat"));
    const CaptureOutput::Result result = output.write("abc", Start);
    QVERIFY2(result.written, qPrintable(result.reason));
    QCOMPARE(result.where, QStringLiteral("r.dat"));
    QCOMPARE(fileContent(QStringLiteral("r.dat")), QByteArray("abc\r\n"));
}

void TestCaptureOutput::fileInVanishedFolder()
{
    QVERIFY(QDir().mkdir(QStringLiteral("gone")));
    const QList<std::pair<OutputKind, QString>> outputs{
        {OutputKind::File, QStringLiteral("gone/r.dat")},
        {OutputKind::Folder, QStringLiteral("gone")}};
    for (const auto &[kind, path] : outputs) {
        CaptureOutput output(kind, path);
        QString reason;
        QVERIFY(output.check(&reason));
        QVERIFY(QDir().rmdir(QStringLiteral("gone")));
        const CaptureOutput::Result result = output.write("abc", Start);
        QVERIFY(!result.written);
        const QString file = kind == OutputKind::File
                                 ? path
                                 : QStringLiteral("gone/") + CaptureOutput::readingFileName(Start);
        QVERIFY2(result.reason.startsWith(QStringLiteral("cannot write %1: ").arg(file)),
                 qPrintable(result.reason));
        QVERIFY2(result.reason.size() > QStringLiteral("cannot write %1: ").arg(file).size(),
                 "no reason given");
        QVERIFY(QDir().mkdir(QStringLiteral("gone")));
    }
}

void TestCaptureOutput::check_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("reason");

    const int folder = int(OutputKind::Folder);
    const int file = int(OutputKind::File);
    QTest::newRow("folder") << folder << "sub" << QString();
    QTest::newRow("working folder") << folder << "." << QString();
    QTest::newRow("missing folder") << folder << "missing"
                                    << "cannot write to missing: there is no such folder";
    QTest::newRow("a file as folder") << folder << "plain.txt"
                                      << "cannot write to plain.txt: it is not a folder";
    QTest::newRow("file") << file << "r.dat" << QString();
    QTest::newRow("existing file") << file << "plain.txt" << QString();
    QTest::newRow("file in a folder") << file << "sub/r.dat" << QString();
    QTest::newRow("file in a missing folder")
        << file << "missing/r.dat"
        << "cannot write missing/r.dat: there is no such folder";
    QTest::newRow("file under a file") << file << "plain.txt/r.dat"
                                       << "cannot write plain.txt/r.dat: it is not a folder";
    QTest::newRow("a folder as file") << file << "sub"
                                      << "cannot write sub: it is a folder";
    QTest::newRow("standard output") << int(OutputKind::StandardOutput) << "-" << QString();
}

void TestCaptureOutput::check()
{
    QFETCH(int, kind);
    QFETCH(QString, path);
    QFETCH(QString, reason);
    QVERIFY(QDir().mkdir(QStringLiteral("sub")));
    QVERIFY(writeFile(QStringLiteral("plain.txt"), "plain"));
    QString found;
    QCOMPARE(CaptureOutput(OutputKind(kind), path).check(&found), reason.isEmpty());
    QCOMPARE(found, reason);
    QCOMPARE(fileContent(QStringLiteral("plain.txt")), QByteArray("plain")); // only looked at
}

void TestCaptureOutput::folderNotWritable()
{
    if (::geteuid() == 0)
        QSKIP("root writes into any folder");
    QVERIFY(QDir().mkdir(QStringLiteral("locked")));
    QVERIFY(QFile::setPermissions(QStringLiteral("locked"), QFile::ReadOwner | QFile::ExeOwner));
    QString reason;
    QVERIFY(!CaptureOutput(OutputKind::Folder, QStringLiteral("locked")).check(&reason));
    QCOMPARE(reason, QStringLiteral("cannot write to locked: the folder is not writable"));
}

QTEST_GUILESS_MAIN(TestCaptureOutput)
#include "tst_capture_output.moc"
