// The scalable icon: the icons' picture drawn pixel for pixel, so that painted back rectangle by
// rectangle it gives the very pixels of the picture, each once, and nothing where it is
// transparent.

#include "info/icon_image.h"
#include "svg_icon.h"

#include <QTest>
#include <QXmlStreamReader>

using namespace tvx;

namespace {

// The SVG painted back at one pixel a unit; pixels drawn twice are counted in overdrawn.
QImage paintBack(const QByteArray &svg, int *overdrawn)
{
    QXmlStreamReader xml(svg);
    QImage image;
    QImage drawn;
    *overdrawn = 0;
    while (xml.readNextStartElement()) {
        const QXmlStreamAttributes a = xml.attributes();
        const auto number = [&a](const char *name) { return a.value(QLatin1String(name)).toInt(); };
        if (xml.name() == QLatin1String("svg")) {
            if (a.value(QLatin1String("viewBox")) !=
                QStringLiteral("0 0 %1 %2").arg(number("width")).arg(number("height")))
                return QImage();
            image = QImage(number("width"), number("height"), QImage::Format_ARGB32);
            image.fill(Qt::transparent);
            drawn = QImage(image.size(), QImage::Format_Mono);
            drawn.fill(0);
            continue; // into its rectangles
        }
        QColor colour(a.value(QLatin1String("fill")).toString());
        if (a.hasAttribute(QLatin1String("fill-opacity")))
            colour.setAlphaF(a.value(QLatin1String("fill-opacity")).toFloat());
        const QRect rect(number("x"), number("y"), number("width"), number("height"));
        for (int y = rect.top(); y <= rect.bottom(); ++y) {
            for (int x = rect.left(); x <= rect.right(); ++x) {
                *overdrawn += drawn.pixelIndex(x, y);
                drawn.setPixel(x, y, 1);
                image.setPixel(x, y, colour.rgba());
            }
        }
        xml.skipCurrentElement();
    }
    return xml.hasError() ? QImage() : image;
}

} // namespace

class TestSvgIcon : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void drawsThePicture_data();
    void drawsThePicture();
};

void TestSvgIcon::drawsThePicture_data()
{
    QTest::addColumn<QImage>("picture");
    QTest::newRow("the icons' picture") << iconPicture(QImage(QStringLiteral(TVX_PICTURE)));

    // Runs that begin and end at the edges, a transparent gap, a half-transparent pixel, and
    // one colour in two rows.
    const QRgb red = qRgb(200, 0, 0), blue = qRgb(0, 0, 255);
    const QRgb pixels[] = {red, red, qRgba(0, 0, 0, 0), blue, qRgba(0, 255, 0, 128), red, red, red};
    QImage small(reinterpret_cast<const uchar *>(pixels), 4, 2, QImage::Format_ARGB32);
    QTest::newRow("edges, gaps and transparency") << small.copy();
}

void TestSvgIcon::drawsThePicture()
{
    QFETCH(QImage, picture);
    QVERIFY(!picture.isNull());
    int overdrawn = 0;
    const QImage drawn = paintBack(svgIcon(picture), &overdrawn);
    QCOMPARE(overdrawn, 0);
    QCOMPARE(drawn, picture.convertToFormat(QImage::Format_ARGB32));
}

QTEST_MAIN(TestSvgIcon)
#include "tst_svg_icon.moc"
