#pragma once
// Shared helpers of the imaging tests: the PngSuite folder, its reference pixels, and a scope that
// switches the process-wide sharing list on or off.
//
// tests/data/pngsuite holds the suite's pictures (png/) and, for each picture that decodes, its
// reference samples (reference/<name>.gz): R, G, B, A of every pixel, row by row, as 16-bit
// little-endian numbers, gzip-compressed.

#include "imaging/PngCodec.h"
#include "imaging/TPngImage.h"
#include "imaging/TPngImageDataList.h"
#include "support/TempDir.h"

#include <QDir>
#include <QStringList>

#include <gtest/gtest.h>
#include <zlib.h>

#include <vector>

namespace imagingtest {

inline QString SuiteDir()
{
    return testsupport::TestDataDir() + QStringLiteral("/pngsuite");
}

inline QString SuitePng(const QString& name)
{
    return SuiteDir() + QStringLiteral("/png/") + name + QStringLiteral(".png");
}

// Base names of the suite's pictures; `broken` selects the x* files that must be refused.
inline QStringList SuiteNames(bool broken)
{
    QStringList names;
    const QStringList files = QDir(SuiteDir() + QStringLiteral("/png"))
                                  .entryList({QStringLiteral("*.png")}, QDir::Files, QDir::Name);
    for (const QString& f : files)
        if (f.startsWith(QLatin1Char('x')) == broken)
            names << f.chopped(4);
    return names;
}

// Reference samples R, G, B, A per pixel (16-bit values for 16-bit pictures); empty when missing
// or damaged.
inline std::vector<int> ReferencePixels(const QString& name)
{
    const QByteArray packed =
        testsupport::ReadAll(SuiteDir() + QStringLiteral("/reference/") + name + QStringLiteral(".gz"));
    z_stream z{};
    if (packed.isEmpty() || inflateInit2(&z, 16 + MAX_WBITS) != Z_OK)
        return {};
    QByteArray raw;
    char chunk[65536];
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(packed.constData()));
    z.avail_in = uInt(packed.size());
    int status = Z_OK;
    while (status == Z_OK) {
        z.next_out = reinterpret_cast<Bytef*>(chunk);
        z.avail_out = sizeof chunk;
        status = inflate(&z, Z_NO_FLUSH);
        raw.append(chunk, qsizetype(sizeof chunk - z.avail_out));
    }
    inflateEnd(&z);
    if (status != Z_STREAM_END || raw.size() % 2)
        return {};
    std::vector<int> values(size_t(raw.size() / 2));
    const auto* p = reinterpret_cast<const uint8_t*>(raw.constData());
    for (size_t i = 0; i < values.size(); ++i)
        values[i] = p[2 * i] | p[2 * i + 1] << 8;
    return values;
}

// A minimal PNG with the given header fields, palette (when not empty) and raw image bytes (each row
// led by its filter byte).
inline QByteArray MakePng(int width, int height, int bitDepth, int colorType, const QByteArray& raw,
                          const QByteArray& plte = QByteArray())
{
    QByteArray file("\x89PNG\r\n\x1a\n", 8);
    auto chunk = [&file](const char* type, const QByteArray& data) {
        auto be = [](uint32_t v) {
            return QByteArray(1, char(v >> 24)) + char(v >> 16) + char(v >> 8) + char(v);
        };
        const QByteArray body = QByteArray(type, 4) + data;
        file += be(uint32_t(data.size())) + body +
                be(uint32_t(crc32(0, reinterpret_cast<const Bytef*>(body.constData()), uInt(body.size()))));
    };
    imaging::PngHeader h{width, height, uint8_t(bitDepth), uint8_t(colorType), 0};
    chunk("IHDR", imaging::PngCodec::HeaderData(h));
    if (!plte.isEmpty())
        chunk("PLTE", plte);
    QByteArray packed(int(compressBound(uLong(raw.size()))), '\0');
    uLongf size = uLongf(packed.size());
    compress(reinterpret_cast<Bytef*>(packed.data()), &size, reinterpret_cast<const Bytef*>(raw.constData()),
             uLong(raw.size()));
    chunk("IDAT", packed.left(qsizetype(size)));
    chunk("IEND", QByteArray());
    return file;
}

// Switches the sharing list on (creating it) or off (destroying it, which needs every image gone).
class SharingScope
{
public:
    explicit SharingScope(bool on) : m_on(on)
    {
        if (on)
            imaging::InitializePngSharing();
        else
            imaging::FinalizePngSharing();
        EXPECT_EQ(imaging::TPngImageDataList::Instance() != nullptr, on);
    }
    ~SharingScope()
    {
        // Destroying the list succeeds only when every entry has been released: a leak check.
        if (m_on) {
            EXPECT_TRUE(imaging::FinalizePngSharing()) << "entries left in the sharing list";
        }
    }

private:
    bool m_on;
};

// Number of samples that differ from the reference; the first difference is described in `first`.
// The IDAT chunks of a PNG file, each whole.
inline QList<QByteArray> IdatChunks(const QByteArray& file)
{
    QList<QByteArray> chunks;
    qsizetype at = 8;
    while (at + 12 <= file.size()) {
        const auto* p = reinterpret_cast<const uint8_t*>(file.constData() + at);
        const qsizetype n =
            qsizetype(uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]);
        if (file.mid(at + 4, 4) == "IDAT")
            chunks << file.mid(at, n + 12);
        at += n + 12;
    }
    return chunks;
}

inline int CompareWithReference(const imaging::TPngImage& image, const std::vector<int>& ref,
                                std::string& first)
{
    int bad = 0;
    if (size_t(image.Width()) * size_t(image.Height()) * 4 != ref.size()) {
        first = "size differs";
        return int(ref.size());
    }
    const bool wide = image.BitDepth() == 16;
    for (int y = 0; y < image.Height(); ++y)
        for (int x = 0; x < image.Width(); ++x) {
            int got[4];
            if (wide) {
                const auto p = image.Pixel16(x, y);
                for (int k = 0; k < 4; ++k)
                    got[k] = p[size_t(k)];
            } else {
                const QRgb p = image.Pixel(x, y);
                got[0] = qRed(p), got[1] = qGreen(p), got[2] = qBlue(p), got[3] = qAlpha(p);
            }
            const size_t at = (size_t(y) * size_t(image.Width()) + size_t(x)) * 4;
            for (int k = 0; k < 4; ++k)
                if (got[k] != ref[at + size_t(k)] && bad++ == 0)
                    first = "pixel " + std::to_string(x) + "," + std::to_string(y) + " sample " +
                            std::to_string(k) + ": " + std::to_string(got[k]) + " instead of " +
                            std::to_string(ref[at + size_t(k)]);
        }
    return bad;
}

} // namespace imagingtest
