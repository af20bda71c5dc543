#pragma once
// Peak signal-to-noise ratio of a picture against its original, over the three colour channels.

#include <QImage>
#include <cmath>
#include <limits>

namespace crashtest {

inline double Psnr(const QImage& original, const QImage& copy)
{
    const QImage a = original.convertToFormat(QImage::Format_RGB32);
    const QImage b = copy.convertToFormat(QImage::Format_RGB32);
    if (a.size() != b.size() || a.isNull())
        return 0;
    double squared = 0;
    for (int y = 0; y < a.height(); ++y) {
        const auto* ra = reinterpret_cast<const QRgb*>(a.constScanLine(y));
        const auto* rb = reinterpret_cast<const QRgb*>(b.constScanLine(y));
        for (int x = 0; x < a.width(); ++x) {
            const double dr = qRed(ra[x]) - qRed(rb[x]), dg = qGreen(ra[x]) - qGreen(rb[x]),
                         db = qBlue(ra[x]) - qBlue(rb[x]);
            squared += dr * dr + dg * dg + db * db;
        }
    }
    const double mean = squared / (3.0 * a.width() * a.height());
    return mean == 0 ? std::numeric_limits<double>::infinity() : 10 * std::log10(255.0 * 255.0 / mean);
}

} // namespace crashtest
