// Loading a reading file in slices: the limit, the text kept until the file is read whole, the
// busy cursor while it lasts.

#include "app/reading_text.h"
#include "files/reading_file.h"
#include "files/reading_file_load.h"

#include <QFile>
#include <QGuiApplication>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace tvx;

class TestReadingFileLoad : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void limit_data();
    void limit();
    void longFileLoadsInTurns();

private:
    // A file of size bytes that takes no disk space, with tail written at its end.
    QString sparseFile(qint64 size, const QByteArray &tail = QByteArray());

    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestReadingFileLoad::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

QString TestReadingFileLoad::sparseFile(qint64 size, const QByteArray &tail)
{
    const QString path = m_dir->filePath(QStringLiteral("readings.dat"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || !file.resize(size - tail.size()) ||
        !file.seek(size - tail.size()) || file.write(tail) != tail.size())
        return QString();
    return path;
}

// A file of the largest length is read; one byte more is refused at once. Either way the
// reading text stays as it was until the whole file has been read, also when the load is given
// up part of the way (the open window closed).
void TestReadingFileLoad::limit_data()
{
    QTest::addColumn<qint64>("size");
    QTest::addColumn<QString>("refusal");
    QTest::newRow("largest") << readingfile::MaxLoadSize << QString();
    QTest::newRow("one byte more") << readingfile::MaxLoadSize + 1
                                   << "the file is 1073741825 bytes long; files over 1073741824 "
                                      "bytes are not loaded";
}

void TestReadingFileLoad::limit()
{
    QFETCH(qint64, size);
    QFETCH(QString, refusal);
    const QString path = sparseFile(size);
    QVERIFY(!path.isEmpty());
    ReadingText text;
    text.replace("before\r\n");
    auto load = std::make_unique<ReadingFileLoad>(text);
    QSignalSpy finished(load.get(), &ReadingFileLoad::finished);
    load->start(path);
    if (!refusal.isEmpty()) {
        QCOMPARE(finished.size(), 1);
        QCOMPARE(finished[0][0].toBool(), false);
        QCOMPARE(finished[0][1].toString(), refusal);
    } else {
        QVERIFY(load->running());
        QVERIFY(QGuiApplication::overrideCursor());
        QCOMPARE(QGuiApplication::overrideCursor()->shape(), Qt::BusyCursor);
        QTest::qWait(50); // a few turns
        QVERIFY(load->running());
        load.reset();
        QCOMPARE(finished.size(), 0);
    }
    QVERIFY(!QGuiApplication::overrideCursor());
    QCOMPARE(text.bytes(), QByteArray("before\r\n"));
    QCOMPARE(text.lines().lineCount(), 2);
}

void TestReadingFileLoad::longFileLoadsInTurns()
{
    const qint64 size = 200 * 1024 * 1024;
    const QString path = sparseFile(size, "\r\nlast\nend");
    QVERIFY(!path.isEmpty());
    ReadingText text;
    text.replace("before");
    ReadingFileLoad load(text);
    QSignalSpy finished(&load, &ReadingFileLoad::finished);
    QSignalSpy replaced(&text, &ReadingText::replaced);
    load.start(path);
    QVERIFY(load.running());
    QCOMPARE(text.bytes(), QByteArray("before"));
    QVERIFY(finished.wait(20000));
    QCOMPARE(finished[0][0].toBool(), true);
    QVERIFY(!load.running());
    // Over, it takes no notice of a transmission: nothing more is said.
    text.setReceiving(true);
    text.setReceiving(false);
    QTest::qWait(20);
    QCOMPARE(finished.size(), 1);
    QCOMPARE(replaced.size(), 1);
    QVERIFY(!QGuiApplication::overrideCursor());
    QCOMPARE(text.bytes().size(), size);
    QVERIFY(text.bytes().endsWith("\r\nlast\nend"));
    // The index built slice by slice: three lines, the first of 200 MiB less the tail.
    QCOMPARE(text.lines().lineCount(), 3);
    QCOMPARE(text.lines().lineEnd(text.bytes(), 0), size - 10);
    QCOMPARE(text.lines().lineStart(text.bytes(), 2), size - 3);
}

QTEST_MAIN(TestReadingFileLoad)
#include "tst_reading_file_load.moc"
