#pragma once
// Xiaolin Wu's colour quantizer ("Efficient Statistical Computations for Optimal Color
// Quantization", Graphics Gems II): the colours go into a 32×32×32 histogram with cumulative
// moments, so the variance of any box of colour space costs a few lookups; the box with the
// largest variance is cut where the two halves' summed variance is smallest, until there are as
// many boxes as palette entries. A picture with no more colours than the palette holds keeps them
// exactly. Each box's mean colour is a palette entry; every pixel is then
// mapped to its nearest entry (distinct colours are looked up once).

#include <QImage>
#include <QList>
#include <QRgb>
#include <QtGlobal>
#include <vector>

namespace imaging {

class WuQuantizer
{
public:
    // A palette of at most maxColors (1 to 256) colours for the opaque pixels of `image`.
    static QList<QRgb> buildPalette(const QImage& image, int maxColors = 256);
    // The picture as palette indices (Format_Indexed8) with the palette as its colour table.
    static QImage quantize(const QImage& image, int maxColors = 256);
    // Nearest palette entry of each pixel, row by row.
    static std::vector<quint8> mapToPalette(const QImage& image, const QList<QRgb>& palette);
};

} // namespace imaging
