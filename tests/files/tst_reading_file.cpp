#include "files/reading_file.h"
#include "support/file_bytes.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

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
    void largestAcceptedFileLoads();
    void tooLargeFileIsRefused();

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

void ReadingFileTest::largestAcceptedFileLoads()
{
    // A sparse file: 64 MiB long without taking the disk space.
    QFile file(path("big.dat"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    QVERIFY(file.resize(readingfile::MaxLoadSize));
    file.close();
    QByteArray text;
    QString reason;
    QVERIFY2(readingfile::load(path("big.dat"), &text, &reason), qPrintable(reason));
    QCOMPARE(text.size(), readingfile::MaxLoadSize);
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
    QVERIFY2(reason.contains(QStringLiteral("67108865 bytes")), qPrintable(reason));
}

QTEST_APPLESS_MAIN(ReadingFileTest)
#include "tst_reading_file.moc"
