#include "info/info_resources.h"

#include <QColor>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

namespace {

const QString picturePath = QStringLiteral(":/info/instrument.bmp");

QByteArray picture()
{
    tvx::loadInfoResources();
    QFile file(picturePath);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

quint32 field32(const QByteArray &bytes, int offset)
{
    return qFromLittleEndian<quint32>(bytes.constData() + offset);
}

quint16 field16(const QByteArray &bytes, int offset)
{
    return qFromLittleEndian<quint16>(bytes.constData() + offset);
}

} // namespace

class TestBitmap : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void fileSize();
    void headerFields_data();
    void headerFields();
    void standardPalette_data();
    void standardPalette();
    void qtLoadsIt();
    void generatorRemakesIt();
};

void TestBitmap::fileSize()
{
    const QByteArray bytes = picture();
    QCOMPARE(bytes.size(), 2806);
    QVERIFY(bytes.startsWith("BM"));
}

void TestBitmap::headerFields_data()
{
    QTest::addColumn<int>("offset");
    QTest::addColumn<int>("bytes");
    QTest::addColumn<quint32>("expected");

    QTest::newRow("file size") << 2 << 4 << 2806u;
    QTest::newRow("reserved") << 6 << 4 << 0u;
    QTest::newRow("pixels offset") << 10 << 4 << 118u;
    QTest::newRow("info header size") << 14 << 4 << 40u;
    QTest::newRow("width") << 18 << 4 << 54u;
    QTest::newRow("height, bottom row first") << 22 << 4 << 96u;
    QTest::newRow("planes") << 26 << 2 << 1u;
    QTest::newRow("bits per pixel") << 28 << 2 << 4u;
    QTest::newRow("no compression") << 30 << 4 << 0u;
    QTest::newRow("image size") << 34 << 4 << 2688u;
    QTest::newRow("pixels per metre across") << 38 << 4 << 3790u;
    QTest::newRow("pixels per metre down") << 42 << 4 << 3780u;
    QTest::newRow("palette entries") << 46 << 4 << 16u;
}

void TestBitmap::headerFields()
{
    QFETCH(int, offset);
    QFETCH(int, bytes);
    QFETCH(quint32, expected);
    const QByteArray file = picture();
    QVERIFY(file.size() >= 118);
    const quint32 value = bytes == 2 ? field16(file, offset) : field32(file, offset);
    QCOMPARE(value, expected);
}

void TestBitmap::standardPalette_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QColor>("colour");

    const QColor colours[16] = {
        {0, 0, 0},       {128, 0, 0},   {0, 128, 0},   {128, 128, 0},
        {0, 0, 128},     {128, 0, 128}, {0, 128, 128}, {192, 192, 192},
        {128, 128, 128}, {255, 0, 0},   {0, 255, 0},   {255, 255, 0},
        {0, 0, 255},     {255, 0, 255}, {0, 255, 255}, {255, 255, 255},
    };
    for (int i = 0; i < 16; ++i)
        QTest::addRow("entry %d", i) << i << colours[i];
}

void TestBitmap::standardPalette()
{
    QFETCH(int, index);
    QFETCH(QColor, colour);
    const QByteArray file = picture();
    QVERIFY(file.size() >= 118);
    // Entries are blue, green, red and a zero byte.
    const int at = 54 + 4 * index;
    const QColor stored(quint8(file.at(at + 2)), quint8(file.at(at + 1)), quint8(file.at(at)));
    QCOMPARE(stored, colour);
    QCOMPARE(file.at(at + 3), '\0');
}

void TestBitmap::qtLoadsIt()
{
    tvx::loadInfoResources();
    const QImage image(picturePath);
    QVERIFY(!image.isNull());
    QCOMPARE(image.size(), QSize(54, 96));
    QCOMPARE(image.dotsPerMeterX(), 3790);
    QCOMPARE(image.dotsPerMeterY(), 3780);

    // A drawing, not an empty field: several colours, and something other than the
    // background near the middle of the picture.
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            colours.insert(image.pixel(x, y));
    QVERIFY2(colours.size() >= 5, qPrintable(QString::number(colours.size())));
    QVERIFY(image.pixel(27, 40) != image.pixel(0, 0));
}

void TestBitmap::generatorRemakesIt()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString out = dir.filePath(QStringLiteral("instrument.bmp"));
    QProcess generator;
    generator.start(QStringLiteral(TVX_BMPGEN), {out});
    QVERIFY2(generator.waitForFinished(), qPrintable(generator.errorString()));
    QCOMPARE(generator.exitStatus(), QProcess::NormalExit);
    QCOMPARE(generator.exitCode(), 0);

    QFile made(out);
    QVERIFY(made.open(QIODevice::ReadOnly));
    QVERIFY2(made.readAll() == picture(), "the built-in picture differs from the generator's");
}

QTEST_GUILESS_MAIN(TestBitmap)
#include "tst_bitmap.moc"
