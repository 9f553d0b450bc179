#include "svg_icon.h"

#include <QColor>

namespace tvx {

QByteArray svgIcon(const QImage &picture)
{
    const QImage image = picture.convertToFormat(QImage::Format_ARGB32);
    QString svg = QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                                 "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%1\" "
                                 "height=\"%2\" viewBox=\"0 0 %1 %2\" "
                                 "shape-rendering=\"crispEdges\">\n")
                      .arg(image.width())
                      .arg(image.height());
    for (int y = 0; y < image.height(); ++y) {
        const auto *row = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        for (int x = 0; x < image.width();) {
            int end = x + 1;
            while (end < image.width() && row[end] == row[x])
                ++end;
            const int alpha = qAlpha(row[x]);
            if (alpha > 0) {
                svg += QStringLiteral("<rect x=\"%1\" y=\"%2\" width=\"%3\" height=\"1\" "
                                      "fill=\"%4\"")
                           .arg(x)
                           .arg(y)
                           .arg(end - x)
                           .arg(QColor(row[x]).name());
                if (alpha < 255)
                    svg += QStringLiteral(" fill-opacity=\"%1\"").arg(alpha / 255.0, 0, 'f', 3);
                svg += QStringLiteral("/>\n");
            }
            x = end;
        }
    }
    svg += QStringLiteral("</svg>\n");
    return svg.toUtf8();
}

} // namespace tvx
