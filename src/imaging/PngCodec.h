#pragma once
// Chunk-level PNG reading and writing, and the libpng decode/encode of pixel rows. Internal to
// TPngImage: reading keeps the IDAT bytes as stored so that decoding can happen later, or never.

#include <QByteArray>

#include <array>
#include <cstdint>
#include <vector>

class QIODevice;

namespace imaging {

struct PngHeader
{
    int width = 0;
    int height = 0;
    uint8_t bitDepth = 0;
    uint8_t colorType = 0;
    uint8_t interlace = 0;
};

enum class ChunkPlace : uint8_t
{
    BeforePlte,
    BeforeIdat,
    AfterIdat
};

struct PngChunk
{
    std::array<char, 4> type;
    QByteArray data;
    ChunkPlace place;
};

// Where the decoded samples go and how they are laid out.
struct PixelTarget
{
    uint8_t* pixels = nullptr;
    uint8_t* extra = nullptr; // low bytes of 16-bit samples, or nullptr
    int bytesPerRow = 0;
    int samplesPerPixel = 1; // 1 (index), 3 (R, G, B) or 4 (B, G, R, A)
};

class PngCodec
{
public:
    static constexpr int MaxDimension = 1 << 16;
    static constexpr int64_t MaxPixels = int64_t(1) << 26;

    struct Parsed
    {
        PngHeader header;
        QByteArray plte;              // raw PLTE data, empty when absent
        QByteArray trns;              // raw tRNS data when valid for the colour type
        std::vector<PngChunk> chunks; // everything but IHDR, IDAT and IEND, in file order
        QByteArray idat;              // first IDAT's data and CRC, then each following IDAT chunk whole
        uint32_t firstIdatLength = 0;
    };

    // Reads one PNG from the stream up to and including IEND, checking every CRC. Throws EPNGError.
    static Parsed Read(QIODevice& stream);
    // Checks a header's values and limits. Throws EPNGError.
    static void Validate(const PngHeader& header);
    static QByteArray HeaderData(const PngHeader& header); // the 13 bytes of IHDR

    // True when a tRNS colour key of this header becomes an alpha channel (grey at 16 bits, RGB).
    static bool KeyBecomesAlpha(const PngHeader& header, const QByteArray& trns);
    static int SamplesPerPixel(const PngHeader& header, bool keyAlpha);

    // Decodes stored IDAT data into the target. Rows decoded before an error stay; returns false and
    // sets `error` on failure.
    static bool Decode(const PngHeader& header, const QByteArray& plte, const QByteArray& trns,
                       uint32_t firstIdatLength, const QByteArray& idat, const PixelTarget& target,
                       QByteArray& error);

    // Encodes rows already converted to PNG sample order (one row = width * channels * bitDepth/8
    // bytes, or packed when bitDepth < 8 is requested through `pack`). Returns the zlib data.
    struct EncodeRows
    {
        PngHeader header;
        QByteArray plte;
        QByteArray trns;
        // Called for each row y; fills `row` in PNG order (one byte per sample for sub-byte depths).
        void (*fillRow)(const void* context, int y, uint8_t* row) = nullptr;
        const void* context = nullptr;
    };
    // A complete PNG file (signature, IHDR, PLTE, tRNS, IDAT, IEND). Throws EPNGError.
    static QByteArray Encode(const EncodeRows& job);

    // False when the device took fewer bytes than given.
    static bool WriteChunk(QIODevice& out, const char* type, const QByteArray& data);
    static bool WriteSignature(QIODevice& out);
    // Splits a file made by Encode back into its chunks (type, data).
    static std::vector<std::pair<std::array<char, 4>, QByteArray>> SplitChunks(const QByteArray& file);
};

} // namespace imaging
