#include "imaging/CompactPng.h"

#include "imaging/WuQuantizer.h"

#include <QFile>
#include <QSaveFile>
#include <array>
#include <csetjmp>
#include <cstdlib>
#include <png.h>
#include <vector>

namespace imaging {

namespace {

void AppendToBuffer(png_structp png, png_bytep data, png_size_t length)
{
    static_cast<QByteArray*>(png_get_io_ptr(png))
        ->append(reinterpret_cast<const char*>(data), qsizetype(length));
}

void NoFlush(png_structp) {}

// Palette PNG of `bitDepth` (4 or 8) from packed rows; empty on any libpng error.
QByteArray EncodePalettePng(int width, int height, int bitDepth, const std::vector<png_color>& palette,
                            const std::vector<png_bytep>& rows)
{
    QByteArray out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (!png)
        return {};
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        return {};
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return {};
    }
    png_set_write_fn(png, &out, AppendToBuffer, NoFlush);
    png_set_IHDR(png, info, png_uint_32(width), png_uint_32(height), bitDepth, PNG_COLOR_TYPE_PALETTE,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_PLTE(png, info, palette.data(), int(palette.size()));
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE); // filter type 0 on every row
    png_set_compression_level(png, 9);
    png_write_info(png, info);
    png_write_image(png, const_cast<png_bytepp>(rows.data()));
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return out;
}

bool Usable(const QImage& image)
{
    return !image.isNull() && image.width() > 0 && image.height() > 0 && image.width() <= 1000000 &&
           image.height() <= 1000000;
}

} // namespace

int CompactPng::sizeCodeForDepth(int depth)
{
    switch (depth) {
    case 4:
        return 1;
    case 51200:
        return 2;
    case 102400:
        return 3;
    case 204800:
        return 4;
    case 307200:
        return 5;
    default:
        return 0;
    }
}

int CompactPng::sizeLimit(int sizeCode)
{
    switch (sizeCode) {
    case 2:
        return 51200;
    case 3:
        return 102400;
    case 4:
        return 204800;
    case 5:
        return 307200;
    default:
        return 0;
    }
}

QByteArray CompactPng::encodeColour(const QImage& image)
{
    if (!Usable(image))
        return {};
    const QList<QRgb> palette = WuQuantizer::buildPalette(image, 256);
    if (palette.isEmpty())
        return {};
    std::vector<quint8> indices = WuQuantizer::mapToPalette(image, palette);
    std::vector<png_color> colours;
    for (QRgb c : palette)
        colours.push_back({png_byte(qRed(c)), png_byte(qGreen(c)), png_byte(qBlue(c))});
    std::vector<png_bytep> rows(size_t(image.height()));
    for (int y = 0; y < image.height(); ++y)
        rows[size_t(y)] = indices.data() + size_t(y) * size_t(image.width());
    return EncodePalettePng(image.width(), image.height(), 8, colours, rows);
}

QByteArray CompactPng::encodeGrey(const QImage& source)
{
    if (!Usable(source))
        return {};
    const QImage image = source.convertToFormat(QImage::Format_RGB32);
    // Nearest of the 16 levels for each brightness 0..255.
    std::array<quint8, 256> level{};
    for (int v = 0; v < 256; ++v) {
        int best = 0;
        for (int i = 1; i < 16; ++i)
            if (std::abs(GreyLevels[i] - v) < std::abs(GreyLevels[best] - v))
                best = i;
        level[size_t(v)] = quint8(best);
    }
    const size_t stride = size_t(image.width() + 1) / 2;
    std::vector<quint8> packed(stride * size_t(image.height()), 0);
    std::vector<png_bytep> rows(size_t(image.height()));
    for (int y = 0; y < image.height(); ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        quint8* out = packed.data() + stride * size_t(y);
        rows[size_t(y)] = out;
        for (int x = 0; x < image.width(); ++x) {
            const int brightness = (77 * qRed(row[x]) + 151 * qGreen(row[x]) + 28 * qBlue(row[x])) / 256;
            const quint8 index = level[size_t(brightness)];
            out[x / 2] |= (x % 2 == 0) ? quint8(index << 4) : index;
        }
    }
    std::vector<png_color> colours;
    for (int g : GreyLevels)
        colours.push_back({png_byte(g), png_byte(g), png_byte(g)});
    return EncodePalettePng(image.width(), image.height(), 4, colours, rows);
}

QByteArray CompactPng::encode(const QImage& image, int sizeCode)
{
    QByteArray colour;
    if (sizeCode != 1)
        colour = encodeColour(image);
    const int limit = sizeLimit(sizeCode);
    if (sizeCode == 1 || colour.isEmpty() || (limit > 0 && colour.size() > limit)) {
        const QByteArray grey = encodeGrey(image);
        if (!grey.isEmpty() && (colour.isEmpty() || grey.size() < colour.size()))
            return grey;
    }
    return colour;
}

bool CompactPng::write(const QImage& image, const QString& fileName, int sizeCode)
{
    const QByteArray png = encode(image, sizeCode);
    if (png.isEmpty())
        return false;
    QSaveFile file(fileName);
    return file.open(QIODevice::WriteOnly) && file.write(png) == png.size() && file.commit();
}

} // namespace imaging
