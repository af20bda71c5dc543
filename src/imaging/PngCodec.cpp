#include "imaging/PngCodec.h"

#include "imaging/Crc64.h"
#include "imaging/EPNGError.h"

#include <QIODevice>

#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace imaging {
namespace {

const uint8_t Signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

uint32_t BigEndian32(const char* p)
{
    const auto* u = reinterpret_cast<const uint8_t*>(p);
    return uint32_t(u[0]) << 24 | uint32_t(u[1]) << 16 | uint32_t(u[2]) << 8 | u[3];
}

void PutBigEndian32(char* p, uint32_t v)
{
    p[0] = char(v >> 24);
    p[1] = char(v >> 16);
    p[2] = char(v >> 8);
    p[3] = char(v);
}

QString TypeText(const char* type)
{
    return QString::fromLatin1(type, 4);
}

[[noreturn]] void Refuse(const QString& message)
{
    throw EPNGError(message);
}

// Appends exactly n bytes, read in blocks, so a length claimed by a broken file allocates only what is
// really there.
bool AppendExactly(QIODevice& in, qint64 n, QByteArray& out)
{
    constexpr qint64 Block = 1 << 20;
    const qsizetype end = out.size() + n;
    while (out.size() < end) {
        const qint64 want = std::min(Block, end - out.size());
        const qsizetype old = out.size();
        out.resize(old + want);
        const qint64 got = in.read(out.data() + old, want);
        if (got <= 0) {
            out.resize(old);
            if (got == 0 && in.waitForReadyRead(30000))
                continue;
            return false;
        }
        out.resize(old + got);
    }
    return true;
}

bool ReadExactly(QIODevice& in, qint64 n, QByteArray& out)
{
    out.clear();
    return AppendExactly(in, n, out);
}

bool IsLetter(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool IsCritical(const char* type)
{
    return (type[0] & 0x20) == 0;
}

uint32_t ChunkCrc(const char* type, const QByteArray& data)
{
    return Crc64::Crc32(Crc64::Crc32(0, type, 4), data.constData(), size_t(data.size()));
}

// ---- libpng decoding -------------------------------------------------------------------------------

struct ErrorSink
{
    char message[200] = {};
};

void OnPngError(png_structp png, png_const_charp message)
{
    auto* sink = static_cast<ErrorSink*>(png_get_error_ptr(png));
    std::snprintf(sink->message, sizeof sink->message, "%s", message ? message : "libpng error");
    png_longjmp(png, 1);
}

void OnPngWarning(png_structp, png_const_charp) {}

// The reason for a failure libpng did not name itself.
bool OutOfMemory(ErrorSink* sink)
{
    std::snprintf(sink->message, sizeof sink->message, "out of memory");
    return false;
}

// Serves the rebuilt file from three pieces: signature and leading chunks, stored IDAT bytes, IEND.
struct MemorySource
{
    const uint8_t* part[3];
    size_t size[3];
    int current = 0;
    size_t offset = 0;
};

void ReadFromMemory(png_structp png, png_bytep out, size_t n)
{
    auto* src = static_cast<MemorySource*>(png_get_io_ptr(png));
    while (n > 0) {
        if (src->current >= 3)
            png_error(png, "image data ends early");
        const size_t left = src->size[src->current] - src->offset;
        if (left == 0) {
            ++src->current;
            src->offset = 0;
            continue;
        }
        const size_t take = std::min(left, n);
        std::memcpy(out, src->part[src->current] + src->offset, take);
        src->offset += take;
        out += take;
        n -= take;
    }
}

struct Pass
{
    int x0, y0, dx, dy;
};
const Pass Adam7[7] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                       {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};
const Pass Progressive = {0, 0, 1, 1};

// Puts one decoded row of a pass into the target, splitting 16-bit samples into high and low bytes.
void StoreRow(const uint8_t* raw, int count, int y, const Pass& pass, bool wide, const PixelTarget& t)
{
    const int s = t.samplesPerPixel;
    uint8_t* hi = t.pixels + size_t(y) * t.bytesPerRow;
    if (!wide) {
        if (pass.dx == 1) {
            std::memcpy(hi + size_t(pass.x0) * s, raw, size_t(count) * s);
            return;
        }
        for (int i = 0; i < count; ++i)
            std::memcpy(hi + size_t(pass.x0 + i * pass.dx) * s, raw + size_t(i) * s, s);
        return;
    }
    uint8_t* lo = t.extra ? t.extra + size_t(y) * t.bytesPerRow : nullptr;
    for (int i = 0; i < count; ++i) {
        const size_t to = size_t(pass.x0 + i * pass.dx) * s;
        const uint8_t* from = raw + size_t(i) * s * 2;
        for (int k = 0; k < s; ++k) {
            hi[to + k] = from[2 * k];
            if (lo)
                lo[to + k] = from[2 * k + 1];
        }
    }
}

// The libpng set-up that decoding and encoding share: the structures, the error jump and their
// release. `work(png, info, scratch)` runs inside the jump's reach with plain data only (a libpng
// error longjmps out of it, past any destructor); the scratch row it asks for is freed here on
// either way out.
enum class PngDirection
{
    Read,
    Write
};

struct ScratchRow
{
    uint8_t* volatile data = nullptr;

    uint8_t* Allocate(png_structp png, size_t bytes)
    {
        data = static_cast<uint8_t*>(std::malloc(bytes));
        if (!data)
            png_error(png, "out of memory");
        return data;
    }
};

template <typename Work> bool RunLibpng(PngDirection direction, ErrorSink* sink, Work work)
{
    const bool reading = direction == PngDirection::Read;
    png_structp png = reading ? png_create_read_struct(PNG_LIBPNG_VER_STRING, sink, OnPngError, OnPngWarning)
                              : png_create_write_struct(PNG_LIBPNG_VER_STRING, sink, OnPngError, OnPngWarning);
    if (!png)
        return OutOfMemory(sink);
    png_infop info = png_create_info_struct(png);
    ScratchRow scratch;
    auto release = [&] {
        std::free(scratch.data);
        if (reading)
            png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
        else
            png_destroy_write_struct(&png, info ? &info : nullptr);
    };
    if (!info || setjmp(png_jmpbuf(png))) {
        release();
        return sink->message[0] ? false : OutOfMemory(sink);
    }
    work(png, info, scratch);
    release();
    return true;
}

// Inside RunLibpng: plain data only.
void DecodeRows(png_structp png, png_infop info, MemorySource* source, const PngHeader* header, bool keyAlpha,
                const PixelTarget* target, ScratchRow& scratch)
{
    png_set_read_fn(png, source, ReadFromMemory);
    png_set_user_limits(png, PngCodec::MaxDimension, PngCodec::MaxDimension);
    png_read_info(png, info);

    const int type = header->colorType;
    const bool wide = header->bitDepth == 16;
    if (header->bitDepth < 8)
        png_set_packing(png);
    if (keyAlpha)
        png_set_tRNS_to_alpha(png);
    if (type == PNG_COLOR_TYPE_GRAY_ALPHA || (type == PNG_COLOR_TYPE_GRAY && keyAlpha))
        png_set_gray_to_rgb(png);
    if (target->samplesPerPixel == 4)
        png_set_bgr(png);
    png_read_update_info(png, info);

    const size_t rowBytes = png_get_rowbytes(png, info);
    const size_t expected = size_t(header->width) * target->samplesPerPixel * (wide ? 2 : 1);
    if (rowBytes != expected || png_get_channels(png, info) != target->samplesPerPixel)
        png_error(png, "unexpected row layout");
    uint8_t* const row = scratch.Allocate(png, rowBytes);

    const int passes = header->interlace ? 7 : 1;
    for (int p = 0; p < passes; ++p) {
        const Pass& pass = header->interlace ? Adam7[p] : Progressive;
        if (header->width <= pass.x0 || header->height <= pass.y0)
            continue;
        const int count = (header->width - pass.x0 + pass.dx - 1) / pass.dx;
        const int rows = (header->height - pass.y0 + pass.dy - 1) / pass.dy;
        for (int r = 0; r < rows; ++r) {
            const int y = pass.y0 + r * pass.dy;
            if (!wide && !header->interlace) {
                // Straight into the target row: nothing to rearrange.
                png_read_row(png, target->pixels + size_t(y) * target->bytesPerRow, nullptr);
                continue;
            }
            png_read_row(png, row, nullptr);
            StoreRow(row, count, y, pass, wide, *target);
        }
    }
}

bool DecodeWithLibpng(MemorySource* source, const PngHeader* header, bool keyAlpha, const PixelTarget* target,
                      ErrorSink* sink)
{
    return RunLibpng(PngDirection::Read, sink, [&](png_structp png, png_infop info, ScratchRow& scratch) {
        DecodeRows(png, info, source, header, keyAlpha, target, scratch);
    });
}

// ---- libpng encoding -------------------------------------------------------------------------------

void WriteToBuffer(png_structp png, png_bytep data, size_t n)
{
    auto* out = static_cast<QByteArray*>(png_get_io_ptr(png));
    out->append(reinterpret_cast<const char*>(data), qsizetype(n));
}

void FlushNothing(png_structp) {}

// Inside RunLibpng: plain data only.
void EncodeRowsWithLibpng(png_structp png, png_infop info, const PngCodec::EncodeRows* job, QByteArray* out,
                          ScratchRow& scratch)
{
    const PngHeader& h = job->header;
    png_set_write_fn(png, out, WriteToBuffer, FlushNothing);
    png_set_IHDR(png, info, png_uint_32(h.width), png_uint_32(h.height), h.bitDepth, h.colorType,
                 h.interlace ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    if (!job->plte.isEmpty()) {
        png_color colours[256];
        const int n = int(std::min<qsizetype>(job->plte.size() / 3, 256));
        for (int i = 0; i < n; ++i) {
            colours[i].red = uint8_t(job->plte[3 * i]);
            colours[i].green = uint8_t(job->plte[3 * i + 1]);
            colours[i].blue = uint8_t(job->plte[3 * i + 2]);
        }
        png_set_PLTE(png, info, colours, n);
    }
    if (!job->trns.isEmpty()) {
        if (h.colorType == PNG_COLOR_TYPE_PALETTE) {
            png_set_tRNS(png, info, reinterpret_cast<png_const_bytep>(job->trns.constData()),
                         int(job->trns.size()), nullptr);
        } else {
            png_color_16 key{};
            const auto* t = reinterpret_cast<const uint8_t*>(job->trns.constData());
            if (h.colorType == PNG_COLOR_TYPE_GRAY) {
                key.gray = png_uint_16(t[0] << 8 | t[1]);
            } else {
                key.red = png_uint_16(t[0] << 8 | t[1]);
                key.green = png_uint_16(t[2] << 8 | t[3]);
                key.blue = png_uint_16(t[4] << 8 | t[5]);
            }
            png_set_tRNS(png, info, nullptr, 0, &key);
        }
    }
    png_write_info(png, info);
    if (h.bitDepth < 8)
        png_set_packing(png);
    const int passes = png_set_interlace_handling(png);
    const int channels = h.colorType == 2 ? 3 : h.colorType == 4 ? 2 : h.colorType == 6 ? 4 : 1;
    const size_t rowBytes = size_t(h.width) * channels * (h.bitDepth == 16 ? 2 : 1);
    uint8_t* const row = scratch.Allocate(png, rowBytes);
    for (int p = 0; p < passes; ++p)
        for (int y = 0; y < h.height; ++y) {
            job->fillRow(job->context, y, row);
            png_write_row(png, row);
        }
    png_write_end(png, info);
}

bool EncodeWithLibpng(const PngCodec::EncodeRows* job, QByteArray* out, ErrorSink* sink)
{
    return RunLibpng(PngDirection::Write, sink, [&](png_structp png, png_infop info, ScratchRow& scratch) {
        EncodeRowsWithLibpng(png, info, job, out, scratch);
    });
}

} // namespace

void PngCodec::Validate(const PngHeader& h)
{
    if (h.width <= 0 || h.height <= 0)
        Refuse(QStringLiteral("Broken PNG picture: width and height must be positive"));
    if (h.width > MaxDimension || h.height > MaxDimension || int64_t(h.width) * h.height > MaxPixels)
        Refuse(QStringLiteral("PNG picture too large (%1 x %2)").arg(h.width).arg(h.height));
    bool depthOk = false;
    switch (h.colorType) {
    case 0:
        depthOk =
            h.bitDepth == 1 || h.bitDepth == 2 || h.bitDepth == 4 || h.bitDepth == 8 || h.bitDepth == 16;
        break;
    case 3:
        depthOk = h.bitDepth == 1 || h.bitDepth == 2 || h.bitDepth == 4 || h.bitDepth == 8;
        break;
    case 2:
    case 4:
    case 6:
        depthOk = h.bitDepth == 8 || h.bitDepth == 16;
        break;
    default:
        Refuse(QStringLiteral("Broken PNG picture: unknown colour type %1").arg(h.colorType));
    }
    if (!depthOk)
        Refuse(QStringLiteral("Broken PNG picture: bit depth %1 is not allowed with colour type %2")
                   .arg(h.bitDepth)
                   .arg(h.colorType));
    if (h.interlace > 1)
        Refuse(QStringLiteral("Broken PNG picture: unknown interlace method %1").arg(h.interlace));
}

QByteArray PngCodec::HeaderData(const PngHeader& h)
{
    QByteArray d(13, '\0');
    PutBigEndian32(d.data(), uint32_t(h.width));
    PutBigEndian32(d.data() + 4, uint32_t(h.height));
    d[8] = char(h.bitDepth);
    d[9] = char(h.colorType);
    d[12] = char(h.interlace);
    return d;
}

bool PngCodec::KeyBecomesAlpha(const PngHeader& h, const QByteArray& trns)
{
    return !trns.isEmpty() && (h.colorType == 2 || (h.colorType == 0 && h.bitDepth == 16));
}

int PngCodec::SamplesPerPixel(const PngHeader& h, bool keyAlpha)
{
    if (h.colorType == 4 || h.colorType == 6 || keyAlpha)
        return 4;
    return h.colorType == 2 ? 3 : 1;
}

PngCodec::Parsed PngCodec::Read(QIODevice& in)
{
    Parsed result;
    QByteArray buffer;
    if (!ReadExactly(in, 8, buffer) || std::memcmp(buffer.constData(), Signature, 8) != 0)
        Refuse(QStringLiteral("Not a PNG picture: the signature is wrong"));

    bool haveHeader = false;
    bool idatDone = false;
    bool sawIdat = false;
    bool sawPlte = false;
    for (;;) {
        QByteArray head;
        if (!ReadExactly(in, 8, head))
            Refuse(QStringLiteral("Truncated PNG picture: it ends before the IEND chunk"));
        const uint32_t length = BigEndian32(head.constData());
        const char* type = head.constData() + 4;
        if (length > 0x7FFFFFFFu)
            Refuse(QStringLiteral("Broken PNG picture: chunk length out of range"));
        if (!IsLetter(type[0]) || !IsLetter(type[1]) || !IsLetter(type[2]) || !IsLetter(type[3]))
            Refuse(QStringLiteral("Broken PNG picture: invalid chunk type"));
        QByteArray data;
        QByteArray crc;
        if (!ReadExactly(in, length, data) || !ReadExactly(in, 4, crc))
            Refuse(QStringLiteral("Truncated PNG picture: chunk %1 is cut short").arg(TypeText(type)));
        if (ChunkCrc(type, data) != BigEndian32(crc.constData()))
            Refuse(QStringLiteral("Broken PNG picture: CRC error in chunk %1").arg(TypeText(type)));

        const QByteArray name(type, 4);
        if (!haveHeader) {
            if (name != "IHDR" || length != 13)
                Refuse(QStringLiteral("Broken PNG picture: the IHDR chunk does not come first"));
            const char* d = data.constData();
            const uint32_t w = BigEndian32(d), h = BigEndian32(d + 4);
            if (w > 0x7FFFFFFFu || h > 0x7FFFFFFFu)
                Refuse(QStringLiteral("Broken PNG picture: width or height out of range"));
            result.header.width = int(std::min<uint32_t>(w, MaxDimension + 1));
            result.header.height = int(std::min<uint32_t>(h, MaxDimension + 1));
            result.header.bitDepth = uint8_t(d[8]);
            result.header.colorType = uint8_t(d[9]);
            result.header.interlace = uint8_t(d[12]);
            if (d[10] != 0 || d[11] != 0)
                Refuse(QStringLiteral("Broken PNG picture: unknown compression or filter method"));
            Validate(result.header);
            haveHeader = true;
            continue;
        }
        const PngHeader& h = result.header;
        if (name == "IHDR")
            Refuse(QStringLiteral("Broken PNG picture: more than one IHDR chunk"));
        if (name == "IEND")
            break;
        if (name == "IDAT") {
            if (idatDone)
                Refuse(QStringLiteral("Broken PNG picture: its IDAT chunks are not consecutive"));
            if (h.colorType == 3 && result.plte.isEmpty())
                Refuse(QStringLiteral("Broken PNG picture: the palette is missing"));
            sawIdat = true;
            result.firstIdatLength = length;
            result.idat = std::move(data);
            result.idat.append(crc);
            // The following IDAT chunks go in whole; the first other chunk stays unread in the stream.
            QByteArray& idat = result.idat;
            for (;;) {
                const QByteArray next = in.peek(8);
                if (next.size() < 8 || std::memcmp(next.constData() + 4, "IDAT", 4) != 0)
                    break;
                const uint32_t n = BigEndian32(next.constData());
                const qsizetype at = idat.size();
                if (n > 0x7FFFFFFFu || !AppendExactly(in, qint64(n) + 12, idat))
                    Refuse(QStringLiteral("Truncated PNG picture: chunk IDAT is cut short"));
                const char* chunk = idat.constData() + at;
                if (Crc64::Crc32(0, chunk + 4, size_t(n) + 4) != BigEndian32(chunk + 8 + n))
                    Refuse(QStringLiteral("Broken PNG picture: CRC error in chunk IDAT"));
            }
            idatDone = true;
            continue;
        }
        if (name == "PLTE") {
            if (sawIdat || sawPlte)
                Refuse(QStringLiteral("Broken PNG picture: misplaced PLTE chunk"));
            sawPlte = true;
            if (h.colorType == 0 || h.colorType == 4)
                Refuse(QStringLiteral("Broken PNG picture: a grey picture has a PLTE chunk"));
            const qsizetype entries = data.size() / 3;
            if (data.size() % 3 != 0 || entries == 0 || entries > 256 ||
                (h.colorType == 3 && entries > (1 << h.bitDepth)))
                Refuse(QStringLiteral("Broken PNG picture: invalid PLTE chunk"));
            if (h.colorType == 3)
                result.plte = data;
            result.chunks.push_back({{type[0], type[1], type[2], type[3]}, data, ChunkPlace::BeforeIdat});
            continue;
        }
        if (IsCritical(type))
            Refuse(QStringLiteral("Unsupported PNG picture: unknown critical chunk %1").arg(TypeText(type)));
        if (name == "tRNS" && !sawIdat) {
            // An invalid tRNS is an ancillary fault: it is ignored, as its meaning is unclear.
            const bool valid =
                (h.colorType == 3 && !result.plte.isEmpty() && data.size() <= result.plte.size() / 3) ||
                (h.colorType == 0 && data.size() == 2) || (h.colorType == 2 && data.size() == 6);
            if (valid && result.trns.isEmpty())
                result.trns = data;
            else
                continue;
        }
        const ChunkPlace place = sawIdat   ? ChunkPlace::AfterIdat
                                 : sawPlte ? ChunkPlace::BeforeIdat
                                           : ChunkPlace::BeforePlte;
        result.chunks.push_back({{type[0], type[1], type[2], type[3]}, data, place});
    }
    if (!sawIdat)
        Refuse(QStringLiteral("Broken PNG picture: it has no image data (IDAT)"));
    return result;
}

bool PngCodec::Decode(const PngHeader& header, const QByteArray& plte, const QByteArray& trns,
                      uint32_t firstIdatLength, const QByteArray& idat, const PixelTarget& target,
                      QByteArray& error)
{
    const bool keyAlpha = KeyBecomesAlpha(header, trns);
    // Signature, IHDR, PLTE, tRNS (only when libpng must turn the key into alpha), IDAT length and type.
    QByteArray lead(reinterpret_cast<const char*>(Signature), 8);
    auto append = [&lead](const char* type, const QByteArray& data) {
        char len[4];
        PutBigEndian32(len, uint32_t(data.size()));
        lead.append(len, 4).append(type, 4).append(data);
        char crc[4];
        PutBigEndian32(crc, ChunkCrc(type, data));
        lead.append(crc, 4);
    };
    append("IHDR", HeaderData(header));
    if (header.colorType == 3)
        append("PLTE", plte);
    if (keyAlpha)
        append("tRNS", trns);
    char idatHead[8];
    PutBigEndian32(idatHead, firstIdatLength);
    std::memcpy(idatHead + 4, "IDAT", 4);
    lead.append(idatHead, 8);
    static const uint8_t End[12] = {0, 0, 0, 0, 'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82};

    MemorySource source{{reinterpret_cast<const uint8_t*>(lead.constData()),
                         reinterpret_cast<const uint8_t*>(idat.constData()), End},
                        {size_t(lead.size()), size_t(idat.size()), sizeof End}};
    ErrorSink sink;
    if (DecodeWithLibpng(&source, &header, keyAlpha, &target, &sink))
        return true;
    error = QByteArray(sink.message);
    return false;
}

QByteArray PngCodec::Encode(const EncodeRows& job)
{
    QByteArray out;
    ErrorSink sink;
    if (!EncodeWithLibpng(&job, &out, &sink))
        Refuse(QStringLiteral("Cannot encode the PNG picture: %1").arg(QString::fromUtf8(sink.message)));
    return out;
}

bool PngCodec::WriteSignature(QIODevice& out)
{
    return out.write(reinterpret_cast<const char*>(Signature), 8) == 8;
}

bool PngCodec::WriteChunk(QIODevice& out, const char* type, const QByteArray& data)
{
    char head[8];
    PutBigEndian32(head, uint32_t(data.size()));
    std::memcpy(head + 4, type, 4);
    char crc[4];
    PutBigEndian32(crc, ChunkCrc(type, data));
    return out.write(head, 8) == 8 && out.write(data) == data.size() && out.write(crc, 4) == 4;
}

std::vector<std::pair<std::array<char, 4>, QByteArray>> PngCodec::SplitChunks(const QByteArray& file)
{
    std::vector<std::pair<std::array<char, 4>, QByteArray>> chunks;
    qsizetype at = 8;
    while (at + 12 <= file.size()) {
        const uint32_t n = BigEndian32(file.constData() + at);
        const char* t = file.constData() + at + 4;
        if (qsizetype(n) > file.size() - at - 12)
            break;
        chunks.push_back({{t[0], t[1], t[2], t[3]}, file.mid(at + 8, n)});
        at += 12 + qsizetype(n);
    }
    return chunks;
}

} // namespace imaging
