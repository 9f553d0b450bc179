// Loading a reading file in slices: the limit, the text kept until the file is read whole, the
// busy cursor while it lasts.

#include "app/reading_text.h"
#include "files/reading_file.h"
#include "files/reading_file_load.h"
#include "platform/files/file_mapping.h"
#include "platform/files/mapping_watch.h"

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
    void mappedFileIsTheText();
    void cutShortWhileRead_data();
    void cutShortWhileRead();
    void cutShortOnceMapped();

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

// A long file is the text straight from the file: its bytes exactly, and a capture's block added
// to it makes a copy of the text, the file untouched. The file is let go once nothing holds it.
void TestReadingFileLoad::mappedFileIsTheText()
{
#ifdef Q_OS_WIN
    QSKIP("Windows maps no file: a long file is read as a short one is");
#endif
    QByteArray content;
    for (int i = 0; content.size() < ReadingFileLoad::MapSize; ++i)
        content += QByteArray::number(i) + (i % 3 ? "\r\n" : "\r");
    const QString path = m_dir->filePath(QStringLiteral("readings.dat"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(content) == content.size());
    file.close();
    FileMapping::releaseUnused();
    const int mappedBefore = FileMapping::count();
    {
        ReadingText text;
        ReadingFileLoad load(text);
        QSignalSpy finished(&load, &ReadingFileLoad::finished);
        load.start(path);
        QVERIFY(finished.size() == 1 || finished.wait(20000));
        QCOMPARE(finished[0][0].toBool(), true);
        QVERIFY(FileMapping::isMapped(text.bytes()));
        QCOMPARE(text.bytes(), content);
        QCOMPARE(text.bytes().constData()[content.size()], '\0');
        QCOMPARE(text.lines().lineCount(), content.count('\r') + 1);
        QByteArray kept = text.bytes();
        text.append("\nmore");
        QVERIFY(!FileMapping::isMapped(text.bytes()));
        QCOMPARE(text.bytes(), content + "\nmore");
        QCOMPARE(kept, content);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), content);
        file.close();
        // Still held by kept.
        FileMapping::releaseUnused();
        QCOMPARE(FileMapping::count(), mappedBefore + 1);
        // Held by nothing, the file goes as the next text replaces the one shown: its space on
        // the disk is freed once it is removed, without waiting for the next long file.
        kept = QByteArray();
        text.replace(QByteArray("next"));
        QCOMPARE(FileMapping::count(), mappedBefore);
    }
}

// Another program makes the file shorter while it is being read: the load fails with that
// reason, and the text stays as it was. A short file is read in slices; a long one is mapped,
// and a cut shows either as a fault in the pages indexed after it or, past them, in the size.
void TestReadingFileLoad::cutShortWhileRead_data()
{
    QTest::addColumn<qint64>("size");
    QTest::addColumn<qint64>("cutTo");
    QTest::newRow("read in slices") << qint64(3 << 20) << qint64(1 << 20);
    QTest::newRow("mapped, cut before what is still to be indexed")
        << qint64(512 << 20) << qint64(1 << 20);
    QTest::newRow("mapped, one byte shorter") << qint64(512 << 20) << qint64((512 << 20) - 1);
}

void TestReadingFileLoad::cutShortWhileRead()
{
    QFETCH(qint64, size);
    QFETCH(qint64, cutTo);
    const QString path = sparseFile(size, "end\r\n");
    QVERIFY(!path.isEmpty());
    QString reason;
    if (size < ReadingFileLoad::MapSize) {
        FileSlices slices;
        QByteArray bytes;
        QVERIFY(slices.open(path, readingfile::MaxLoadSize));
        QVERIFY(slices.readSlice(&bytes, 1 << 20, &reason));
        QVERIFY(QFile::resize(path, cutTo));
        QVERIFY(slices.cutShort());
        QVERIFY(!slices.readSlice(&bytes, 1 << 20, &reason));
    } else {
        ReadingText text;
        text.replace("before\r\n");
        ReadingFileLoad load(text);
        QSignalSpy finished(&load, &ReadingFileLoad::finished);
        load.start(path);
        QVERIFY(load.running());
        QVERIFY(QFile::resize(path, cutTo));
        QVERIFY(finished.wait(20000));
        QCOMPARE(finished[0][0].toBool(), false);
        reason = finished[0][1].toString();
        QCOMPARE(text.bytes(), QByteArray("before\r\n"));
    }
    QCOMPARE(reason,
             QStringLiteral("another program made the file shorter while it was being read"));
}

// Cut short once mapped, what the file no longer holds reads as NUL bytes, and the program is
// told, instead of ending with SIGBUS.
void TestReadingFileLoad::cutShortOnceMapped()
{
#ifdef Q_OS_WIN
    QSKIP("Windows maps no file: a long file is read as a short one is");
#endif
    const qint64 size = 64 << 20;
    const QString path = sparseFile(size, "end\r\n");
    QVERIFY(!path.isEmpty());
    QSignalSpy cut(&MappingWatch::instance(), &MappingWatch::cut);
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    std::optional<QByteArray> bytes = FileMapping::map(file.handle(), size, path);
    QVERIFY(bytes);
    QCOMPARE(bytes->right(5), QByteArray("end\r\n"));
    QVERIFY(!FileMapping::cutShort(*bytes));
    QVERIFY(QFile::resize(path, 4096 + 10));
    QCOMPARE(bytes->right(5), QByteArray(5, '\0'));
    QCOMPARE(bytes->at(4096 + 20), '\0');
    QString cutPath;
    QVERIFY(FileMapping::cutShort(*bytes, &cutPath));
    QCOMPARE(cutPath, path);
    QVERIFY(cut.wait(5000));
    bytes.reset();
}

QTEST_MAIN(TestReadingFileLoad)
#include "tst_reading_file_load.moc"
