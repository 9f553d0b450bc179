#include "port/config_file.h"
#include "support/file_bytes.h"
#include "support/system_fixtures.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <future>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace tvx;

class TestConfigFile : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void read_data();
    void read();
    void readMissingFile();
    void writeBytes_data();
    void writeBytes();
    void writeThenReadEveryNumber();
    void writeReplacesLongerFile();
    void failedWriteKeepsOldFile_data();
    void failedWriteKeepsOldFile();
    void onlyTheFileWritableIsWrittenInPlace();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestConfigFile::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(QDir::setCurrent(m_dir->path()));
}

void TestConfigFile::read_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("expected"); // -100000: no value
    QTest::addColumn<QString>("why");  // then the reason after "tvx.cfg: no usable port number: "

    const int none = -100000;
    QTest::newRow("written by the program") << QByteArray("2\r\n\r\n") << 2 << "";
    QTest::newRow("line 1 only") << QByteArray("3\r\n") << 3 << "";
    QTest::newRow("no line end") << QByteArray("4") << 4 << "";
    QTest::newRow("further lines ignored") << QByteArray("4\r\nxyz\r\n9") << 4 << "";
    QTest::newRow("further values ignored") << QByteArray("4,7") << 4 << "";
    QTest::newRow("blanks around") << QByteArray("  3 \t\r\n") << 3 << "";
    QTest::newRow("LF only") << QByteArray("1\n\n") << 1 << "";
    QTest::newRow("zero") << QByteArray("0\r\n") << 0 << "";
    QTest::newRow("negative") << QByteArray("-5\r\n\r\n") << -5 << "";
    QTest::newRow("plus sign") << QByteArray("+2") << 2 << "";
    QTest::newRow("leading zeros") << QByteArray("007") << 7 << "";
    QTest::newRow("lowest") << QByteArray("-32768") << -32768 << "";
    QTest::newRow("highest") << QByteArray("32767") << 32767 << "";
    QTest::newRow("empty") << QByteArray() << none << "the file is empty";
    QTest::newRow("blank lines only") << QByteArray("\r\n\r\n") << none << "it holds no number";
    QTest::newRow("letters") << QByteArray("abc\r\n") << none << "\"abc\" is not a port number";
    QTest::newRow("digits then letters")
        << QByteArray("2x") << none << "\"2x\" is not a port number";
    QTest::newRow("fraction") << QByteArray("1.5") << none << "\"1.5\" is not a port number";
    QTest::newRow("blank inside") << QByteArray("1 2") << none << "\"1 2\" is not a port number";
    QTest::newRow("sign only") << QByteArray("-") << none << "\"-\" is not a port number";
    QTest::newRow("too high") << QByteArray("99999") << none << "\"99999\" is not a port number";
    QTest::newRow("one over") << QByteArray("32768") << none << "\"32768\" is not a port number";
    QTest::newRow("too low") << QByteArray("-32769") << none << "\"-32769\" is not a port number";
    // Quoted up to 20 characters of text; longer values and control bytes are only described.
    QTest::newRow("20 characters quoted") << QByteArray("abcdefghijklmnopqrst") << none
                                          << "\"abcdefghijklmnopqrst\" is not a port number";
    QTest::newRow("21 characters described")
        << QByteArray("abcdefghijklmnopqrstu") << none << "its first value is not a port number";
    QTest::newRow("binary") << QByteArray("\x00\x01\xff\xfe\x7f", 5) << none
                            << "its first value is not a port number";
}

void TestConfigFile::read()
{
    QFETCH(QByteArray, content);
    QFETCH(int, expected);
    QFETCH(QString, why);
    QVERIFY(test::writeFile(configfile::fileName(), content));
    QString reason;
    const auto value = configfile::read(&reason);
    if (expected == -100000) {
        QVERIFY(!value.has_value());
        QCOMPARE(reason, QStringLiteral("tvx.cfg: no usable port number: ") + why);
    } else {
        QVERIFY(value.has_value());
        QCOMPARE(int(*value), expected);
    }
    // Closed again on every outcome: the file can be replaced at once.
    QVERIFY(QFile::remove(configfile::fileName()));
}

void TestConfigFile::readMissingFile()
{
    QString reason;
    QVERIFY(!configfile::read(&reason).has_value());
    // A first start: said as it is, with the folder the file was looked for in.
    QCOMPARE(reason, QStringLiteral("tvx.cfg: no such file in %1").arg(QDir::currentPath()));
    QVERIFY(!QFile::exists(configfile::fileName())); // reading never creates it

#ifndef Q_OS_WIN // Windows has no named pipes in its folders
    // A named pipe with no writer is refused at once rather than waited on, and left alone. The
    // reading runs on a thread of its own: should it wait on the pipe after all, the test becomes
    // the pipe's writer after a few seconds, which lets it go, and fails.
    const QByteArray pipe = QFile::encodeName(configfile::fileName());
    QVERIFY(::mkfifo(pipe.constData(), 0600) == 0);
    auto reading = std::async(std::launch::async, [&reason] { return configfile::read(&reason); });
    const bool waited = reading.wait_for(std::chrono::seconds(3)) == std::future_status::timeout;
    if (waited)
        ::close(::open(pipe.constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC));
    QVERIFY2(!waited, "the reading waited on the named pipe");
    QVERIFY(!reading.get().has_value());
    QCOMPARE(reason, QStringLiteral("tvx.cfg: no usable port number: not a regular file"));
    QVERIFY(!QFileInfo(configfile::fileName()).isFile());
    QVERIFY(QFile::remove(configfile::fileName()));
#endif
}

void TestConfigFile::writeBytes_data()
{
    QTest::addColumn<int>("port");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("port 2") << 2 << QByteArray("\x32\x0d\x0a\x0d\x0a");
    QTest::newRow("port 3") << 3 << QByteArray("\x33\x0d\x0a\x0d\x0a");
    QTest::newRow("two digits") << 12 << QByteArray("12\r\n\r\n");
    QTest::newRow("negative") << -4 << QByteArray("-4\r\n\r\n");
    QTest::newRow("zero") << 0 << QByteArray("0\r\n\r\n");
}

void TestConfigFile::writeBytes()
{
    QFETCH(int, port);
    QFETCH(QByteArray, bytes);
    QString reason;
    QVERIFY2(configfile::write(qint16(port), &reason), qPrintable(reason));
    QCOMPARE(test::fileContent(configfile::fileName()), bytes);
}

void TestConfigFile::writeThenReadEveryNumber()
{
    for (int port = -32768; port <= 32767; port += 97) {
        QVERIFY(configfile::write(qint16(port)));
        QCOMPARE(configfile::read(), std::optional<qint16>(qint16(port)));
    }
}

void TestConfigFile::writeReplacesLongerFile()
{
    QVERIFY(test::writeFile(configfile::fileName(), "32767\r\n\r\nlots of old text"));
    QVERIFY(configfile::write(1));
    QCOMPARE(test::fileContent(configfile::fileName()), QByteArray("1\r\n\r\n"));
}

void TestConfigFile::failedWriteKeepsOldFile_data()
{
    QTest::addColumn<QString>("path");
    QTest::newRow("missing folder") << QStringLiteral("no-such-folder/tvx.cfg");
    QTest::newRow("a folder in the way") << QStringLiteral("taken");
}

void TestConfigFile::failedWriteKeepsOldFile()
{
    QFETCH(QString, path);
    QVERIFY(QDir().mkdir(QStringLiteral("taken")));
    QVERIFY(test::writeFile(configfile::fileName(), "3\r\n\r\n"));
    QString reason;
    QVERIFY(!configfile::write(2, &reason, path));
    QVERIFY(!reason.isEmpty());
    QVERIFY(QFileInfo(QStringLiteral("taken")).isDir());
    QCOMPARE(configfile::read(), std::optional<qint16>(3));
}

void TestConfigFile::onlyTheFileWritableIsWrittenInPlace()
{
    // A working folder the user may not add to, holding a tvx.cfg the user may write.
    const QString file = m_dir->filePath(configfile::fileName());
    QVERIFY(test::writeFile(file, "3\r\n\r\n"));
    const auto everyone = QFileDevice::ReadOwner | QFileDevice::ReadOther;
    QVERIFY(
        QFile::setPermissions(file, everyone | QFileDevice::WriteOwner | QFileDevice::WriteOther));
    const auto enter = everyone | QFileDevice::ExeOwner | QFileDevice::ExeOther;
    QVERIFY(QFile::setPermissions(m_dir->path(), enter));
    const uint owner = QFileInfo(file).ownerId();
    const quint64 inode = test::inodeOf(file);
    QString reason;
    bool written = false;
    {
        test::OrdinaryUser user;
        if (!user.active())
            QSKIP("cannot run as an ordinary user here, and root writes into any folder");
        written = configfile::write(2, &reason);
    }
    QFile::setPermissions(m_dir->path(), enter | QFileDevice::WriteOwner);
    QVERIFY2(written, qPrintable(reason));
    QCOMPARE(test::fileContent(file), QByteArray("2\r\n\r\n"));
    QCOMPARE(QFileInfo(file).ownerId(), owner);
    QCOMPARE(test::inodeOf(file), inode);
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList(configfile::fileName()));
}

QTEST_GUILESS_MAIN(TestConfigFile)
#include "tst_config_file.moc"
