// Any bytes as a PNG picture, with and without the sharing list: loading either refuses with
// EPNGError or gives an image whose pixels, drawing, copies, canvas and saving all stay in bounds.
// A custom mutator repairs chunk checksums, so mutants get past them into the chunks and the data.
// Seed it with the PngSuite pictures, e.g.
//   build-fuzz/bin/fuzz_png_image -max_total_time=60 /tmp/png-corpus tests/data/pngsuite/png
#include "imaging/EPNGError.h"
#include "imaging/TPngImage.h"
#include "imaging/TPngImageDataList.h"

#include <QGuiApplication>
#include <QPainter>

#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

// Pictures that claim millions of pixels only make every run slow; the loader's own limit is higher.
bool TooLarge(const QByteArray& data)
{
    if (data.size() < 24)
        return false;
    const auto* p = reinterpret_cast<const uint8_t*>(data.constData());
    const uint64_t w = uint64_t(p[16]) << 24 | p[17] << 16 | p[18] << 8 | p[19];
    const uint64_t h = uint64_t(p[20]) << 24 | p[21] << 16 | p[22] << 8 | p[23];
    return w * h > (1u << 20);
}

void Exercise(const QByteArray& data)
{
    imaging::TPngImage image;
    try {
        image.LoadFromData(data);
    } catch (const imaging::EPNGError&) {
        return;
    }
    QImage target(16, 16, QImage::Format_ARGB32_Premultiplied);
    target.fill(0);
    {
        QPainter painter(&target);
        image.Draw(painter, QRect(0, 0, 16, 16), QRect(1, 1, image.Width(), image.Height()), 128);
    }
    const int w = image.Width(), h = image.Height();
    uint32_t sum = 0;
    for (int y = 0; y < h; y += std::max(1, h / 8))
        for (int x = 0; x < w; x += std::max(1, w / 8))
            sum += image.Pixel(x, y) + image.Pixel16(x, y)[3];
    (void)sum;

    imaging::TPngImage copy(image);
    const QByteArray saved = image.SaveToData();
    imaging::TPngImage again;
    again.LoadFromData(saved); // what was saved must load again
    if (again.Width() != w || again.Height() != h)
        std::abort();
    copy.Canvas().fillRect(0, 0, 2, 2, Qt::blue);
    copy.ReleaseCanvas();
    (void)copy.SaveToData();
}

// Mutated chunks mostly fail their checksum, which ends the load before anything else is tried.
// Most mutants get their chunk CRCs put right again; some keep them broken for the refusal path.
void RepairChunkCrcs(uint8_t* data, size_t size)
{
    size_t at = 8;
    while (at + 12 <= size) {
        const uint32_t length = uint32_t(data[at]) << 24 | uint32_t(data[at + 1]) << 16 |
                                uint32_t(data[at + 2]) << 8 | data[at + 3];
        if (length > size - at - 12)
            return;
        const uint32_t crc = uint32_t(crc32(0, data + at + 4, uInt(length + 4)));
        uint8_t* out = data + at + 8 + length;
        out[0] = uint8_t(crc >> 24);
        out[1] = uint8_t(crc >> 16);
        out[2] = uint8_t(crc >> 8);
        out[3] = uint8_t(crc);
        at += 12 + size_t(length);
    }
}

} // namespace

extern "C" size_t LLVMFuzzerMutate(uint8_t* data, size_t size, size_t maxSize);

extern "C" size_t LLVMFuzzerCustomMutator(uint8_t* data, size_t size, size_t maxSize, unsigned int seed)
{
    size = LLVMFuzzerMutate(data, size, maxSize);
    if (seed % 8 != 0)
        RepairChunkCrcs(data, size);
    return size;
}

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static QGuiApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    if (TooLarge(bytes))
        return 0;
    Exercise(bytes);
    imaging::InitializePngSharing();
    Exercise(bytes);
    // Every image is gone, so every hold must have been given back.
    if (!imaging::FinalizePngSharing())
        std::abort();
    return 0;
}
