#include "imaging/TPngImage.h"

#include "imaging/EPNGOutMemory.h"
#include "imaging/TPngImageDataList.h"

#include <QBuffer>
#include <QFile>
#include <QPainter>
#include <QtDebug>

#include <cstdlib>
#include <cstring>

namespace imaging {
namespace {

constexpr int DescriptionHeader = 40;

void PutLittleEndian32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = uint8_t(v >> (8 * i));
}

size_t BufferBytes(const TChunkIHDR& h)
{
    return size_t(h.BytesPerRow) * size_t(h.Height);
}

bool SafeToKeepAfterRecolour(const std::array<char, 4>& type)
{
    const QByteArray name(type.data(), 4);
    if (name == "PLTE" || name == "tRNS")
        return false;
    // Colour interpretation does not depend on the sample layout; other unsafe-to-copy chunks do.
    return (type[3] & 0x20) != 0 || name == "gAMA" || name == "cHRM" || name == "sRGB" || name == "iCCP";
}

// Returns the stream to its entry whatever happens while it is out.
class StreamLoan
{
public:
    explicit StreamLoan(TPngImageData& entry) : m_entry(entry), m_stream(TPngImageDataList::TakeStream(entry))
    {
    }
    ~StreamLoan()
    {
        if (m_stream)
            TPngImageDataList::ReturnStream(m_entry, std::move(m_stream));
    }
    StreamLoan(const StreamLoan&) = delete;
    StreamLoan& operator=(const StreamLoan&) = delete;
    QByteArray* Get() const { return m_stream.get(); }
    // Decoded: the entry keeps no stream any more, and the loaned one is dropped.
    void Consume()
    {
        TPngImageDataList::ReturnStream(m_entry, nullptr);
        m_stream.reset();
    }

private:
    TPngImageData& m_entry;
    std::unique_ptr<QByteArray> m_stream;
};

} // namespace

TPngImage::TPngImage() = default;

TPngImage::TPngImage(PngColorType colorType, int bitDepth, int width, int height)
{
    PngHeader h;
    h.width = width;
    h.height = height;
    h.bitDepth = uint8_t(bitDepth);
    h.colorType = uint8_t(colorType);
    PngCodec::Validate(h);
    m_fileHeader = h;
    SetupHeader(h, false);
    SetupPalette();
    AllocateOwnBuffers();
}

TPngImage::TPngImage(const TPngImage& other)
{
    Assign(other);
}

TPngImage& TPngImage::operator=(const TPngImage& other)
{
    Assign(other);
    return *this;
}

TPngImage::~TPngImage()
{
    try {
        ReleasePixelState();
    } catch (const EPNGError& e) {
        // A destructor cannot pass the error on; the buffers stay allocated, which is the safe side.
        qWarning("%s: %s", qPrintable(e.className()), e.what());
    }
}

// ---- header, palette, buffers -------------------------------------------------------------------------

void TPngImage::SetupHeader(const PngHeader& h, bool keyAlpha)
{
    TChunkIHDR& d = m_header;
    d.Width = h.width;
    d.Height = h.height;
    d.BitDepth = h.bitDepth;
    d.ColorType = PngColorType(h.colorType);
    d.Interlace = h.interlace;
    d.BitsPerPixel = PngCodec::SamplesPerPixel(h, keyAlpha) * 8;
    d.BytesPerRow = ((d.BitsPerPixel * d.Width + 31) / 32) * 4;
    d.HasIdat = true;
    m_keyAlpha = keyAlpha;
    uint8_t* bi = d.BitmapHeader.data();
    std::memset(bi, 0, DescriptionHeader);
    PutLittleEndian32(bi, DescriptionHeader);
    PutLittleEndian32(bi + 4, uint32_t(d.Width));
    PutLittleEndian32(bi + 8, uint32_t(-d.Height));
    bi[12] = 1;
    bi[14] = uint8_t(d.BitsPerPixel);
}

void TPngImage::SetupPalette()
{
    TChunkIHDR& d = m_header;
    d.PaletteCount = 0;
    d.Palette.clear();
    if (d.BitsPerPixel != 8)
        return;
    d.Palette = QByteArray(256 * 4, '\0');
    auto* pal = reinterpret_cast<uint8_t*>(d.Palette.data());
    if (d.ColorType == PngColorType::Palette) {
        d.PaletteCount = int(m_plte.size() / 3);
        for (int i = 0; i < 256; ++i) {
            uint8_t* e = pal + 4 * i;
            e[3] = 255;
            if (i < d.PaletteCount) {
                e[2] = uint8_t(m_plte[3 * i]);
                e[1] = uint8_t(m_plte[3 * i + 1]);
                e[0] = uint8_t(m_plte[3 * i + 2]);
                if (i < m_trns.size())
                    e[3] = uint8_t(m_trns[i]);
            }
        }
        return;
    }
    // Grey: one entry per sample value (the high byte for 16-bit samples); a tRNS key clears one alpha.
    const int levels = d.BitDepth >= 8 ? 256 : 1 << d.BitDepth;
    d.PaletteCount = levels;
    const int key =
        (m_trns.size() == 2 && d.BitDepth <= 8) ? (uint8_t(m_trns[0]) << 8 | uint8_t(m_trns[1])) : -1;
    for (int i = 0; i < 256; ++i) {
        uint8_t* e = pal + 4 * i;
        const uint8_t v = i < levels ? uint8_t(i * 255 / (levels - 1)) : 0;
        e[0] = e[1] = e[2] = v;
        e[3] = i == key ? 0 : 255;
    }
}

void TPngImage::AllocateOwnBuffers()
{
    TChunkIHDR& d = m_header;
    const size_t bytes = std::max<size_t>(BufferBytes(d), 1);
    PixelBuffer pixels(static_cast<uint8_t*>(std::calloc(bytes, 1)));
    PixelBuffer extra(d.BitDepth == 16 ? static_cast<uint8_t*>(std::calloc(bytes, 1)) : nullptr);
    d.PixelsInHeap = true;
    if (!pixels || (d.BitDepth == 16 && !extra)) {
        d.ImageData = d.ExtraImageData = nullptr;
        throw EPNGOutMemory(
            QStringLiteral("Not enough memory for a %1 x %2 PNG picture").arg(d.Width).arg(d.Height));
    }
    d.OwnPixels = std::move(pixels);
    d.OwnExtra = std::move(extra);
    d.ImageData = d.OwnPixels.get();
    d.ExtraImageData = d.OwnExtra.get();
}

QByteArray TPngImage::LayoutKey() const
{
    // What decides the shared buffers' layout, so that equal IDAT bytes of different headers never share.
    QByteArray key = PngCodec::HeaderData(m_fileHeader);
    key.append(char(m_header.BitsPerPixel));
    const uint32_t n = m_header.IdatLength;
    key.append(char(n >> 24)).append(char(n >> 16)).append(char(n >> 8)).append(char(n));
    return key;
}

void TPngImage::CopyHeaderFrom(const TPngImage& s)
{
    TChunkIHDR& d = m_header;
    const TChunkIHDR& o = s.m_header;
    d.Width = o.Width;
    d.Height = o.Height;
    d.BitDepth = o.BitDepth;
    d.ColorType = o.ColorType;
    d.Interlace = o.Interlace;
    d.BitsPerPixel = o.BitsPerPixel;
    d.BytesPerRow = o.BytesPerRow;
    d.PaletteCount = o.PaletteCount;
    d.BitmapHeader = o.BitmapHeader;
    d.Palette = o.Palette;
    d.HasIdat = o.HasIdat;
    d.IdatLength = o.IdatLength;
    m_fileHeader = s.m_fileHeader;
    m_chunks = s.m_chunks;
    m_plte = s.m_plte;
    m_trns = s.m_trns;
    m_keyAlpha = s.m_keyAlpha;
    m_opacity = s.m_opacity;
    m_decodeError.clear();
}

// ---- sharing duties -----------------------------------------------------------------------------------

void TPngImage::ReleasePixelState()
{
    TChunkIHDR& d = m_header;
    TPngImageData* entry = d.ShareImageData.load();
    if (entry && entry->RefCount.load() <= 0)
        throw EPNGOutMemory(QStringLiteral("PNG, ShareImageData.RefCount <= 0"));
    FreePixels(entry);
    d.ImageData = nullptr;
    d.ExtraImageData = nullptr;
    d.PixelsInHeap = true;
}

void TPngImage::FreePixels(TPngImageData* entry)
{
    TChunkIHDR& d = m_header;
    ReleaseCanvas();
    // What the share entry holds belongs to the entry; only this image's own buffers go here.
    d.OwnDib.reset();
    d.Dib = nullptr;
    d.OwnPixels.reset();
    d.OwnExtra.reset();
    if (entry) {
        if (TPngImageDataList* list = TPngImageDataList::Instance())
            list->ReleaseShare(d.ShareImageData);
        else
            d.ShareImageData.store(nullptr);
    }
}

void TPngImage::PrepareBuffers() const
{
    TChunkIHDR& d = m_header;
    TPngImageData* entry = d.ShareImageData.load();
    if (!entry) {
        const_cast<TPngImage*>(this)->AllocateOwnBuffers();
        return;
    }
    const size_t bytes = BufferBytes(d);
    if (d.BitDepth == 16)
        d.ExtraImageData = TPngImageDataList::AcquireSharedBuffer(entry->ExtraPixels, bytes);
    std::function<void(uint8_t*)> fill;
    if (uint8_t* dib = entry->DibBits)
        fill = [dib, bytes](uint8_t* buffer) { std::memcpy(buffer, dib, bytes); };
    d.ImageData = TPngImageDataList::AcquireSharedBuffer(entry->Pixels, bytes, nullptr, fill);
    d.PixelsInHeap = true;
}

void TPngImage::EnsureDecoded() const
{
    TChunkIHDR& d = m_header;
    TPngImageData* entry = d.ShareImageData.load();
    if (!entry || d.ImageData || !d.HasIdat)
        return;
    StreamLoan loan(*entry);
    PrepareBuffers();
    if (!loan.Get())
        return; // decoded already by another holder, or nothing to decode
    if (d.ImageData) {
        const PixelTarget target{d.ImageData, d.ExtraImageData, d.BytesPerRow, SamplesPerPixel()};
        QByteArray error;
        if (!PngCodec::Decode(m_fileHeader, m_plte, m_trns, d.IdatLength, *loan.Get(), target, error))
            m_decodeError = QStringLiteral("Broken PNG picture: %1").arg(QString::fromUtf8(error));
    }
    loan.Consume();
}

// ---- loading ------------------------------------------------------------------------------------------

void TPngImage::LoadFromFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw EPNGError(
            QStringLiteral("Cannot open the PNG picture \"%1\": %2").arg(path, file.errorString()));
    LoadFromStream(file);
}

void TPngImage::LoadFromData(const QByteArray& data)
{
    QBuffer buffer;
    buffer.setData(data);
    buffer.open(QIODevice::ReadOnly);
    LoadFromStream(buffer);
}

void TPngImage::LoadFromStream(QIODevice& stream)
{
    PngCodec::Parsed parsed = PngCodec::Read(stream);
    const bool keyAlpha = PngCodec::KeyBecomesAlpha(parsed.header, parsed.trns);

    ReleasePixelState();
    m_fileHeader = parsed.header;
    m_chunks = std::move(parsed.chunks);
    m_plte = parsed.plte;
    m_trns = parsed.trns;
    m_decodeError.clear();
    SetupHeader(parsed.header, keyAlpha);
    SetupPalette();
    m_header.IdatLength = parsed.firstIdatLength;

    if (TPngImageDataList* list = TPngImageDataList::Instance()) {
        // Keep the compressed bytes; the pixels are decoded when first used.
        m_header.ShareImageData.store(
            list->ShareCompressedData(std::make_unique<QByteArray>(std::move(parsed.idat)), LayoutKey()));
        return;
    }
    AllocateOwnBuffers();
    const PixelTarget target{m_header.ImageData, m_header.ExtraImageData, m_header.BytesPerRow,
                             SamplesPerPixel()};
    QByteArray error;
    if (!PngCodec::Decode(m_fileHeader, m_plte, m_trns, m_header.IdatLength, parsed.idat, target, error)) {
        Clear();
        throw EPNGError(QStringLiteral("Broken PNG picture: %1").arg(QString::fromUtf8(error)));
    }
}

// ---- assigning ----------------------------------------------------------------------------------------

void TPngImage::Assign(const TPngImage& source)
{
    if (&source == this)
        return;
    ReleasePixelState();
    if (source.Empty()) {
        Clear();
        return;
    }
    CopyHeaderFrom(source);
    TPngImageDataList* list = TPngImageDataList::Instance();
    TPngImageData* entry = list ? list->ShareDecodedImage(const_cast<TPngImage&>(source)) : nullptr;
    if (entry) {
        m_header.ShareImageData.store(entry);
        return;
    }
    source.EnsureDecoded();
    AllocateOwnBuffers();
    const size_t bytes = BufferBytes(m_header);
    if (source.m_header.ImageData)
        std::memcpy(m_header.ImageData, source.m_header.ImageData, bytes);
    if (m_header.ExtraImageData && source.m_header.ExtraImageData)
        std::memcpy(m_header.ExtraImageData, source.m_header.ExtraImageData, bytes);
}

void TPngImage::Assign(const QImage& source)
{
    ReleasePixelState();
    Clear();
    if (source.isNull())
        return;
    const bool alpha = source.hasAlphaChannel();
    const QImage converted = source.convertToFormat(alpha ? QImage::Format_ARGB32 : QImage::Format_RGB888);
    PngHeader h;
    h.width = converted.width();
    h.height = converted.height();
    h.bitDepth = 8;
    h.colorType = alpha ? 6 : 2;
    PngCodec::Validate(h);
    m_fileHeader = h;
    SetupHeader(h, false);
    SetupPalette();
    AllocateOwnBuffers();
    const size_t rowBytes = size_t(h.width) * (alpha ? 4 : 3);
    for (int y = 0; y < h.height; ++y)
        std::memcpy(m_header.ImageData + size_t(y) * m_header.BytesPerRow, converted.constScanLine(y),
                    rowBytes);
}

void TPngImage::SetSize(int width, int height)
{
    PngHeader h = m_fileHeader;
    if (Empty()) {
        h.bitDepth = 8;
        h.colorType = 2;
    }
    h.width = width;
    h.height = height;
    h.interlace = 0;
    PngCodec::Validate(h);
    ReleasePixelState();
    m_fileHeader = h;
    SetupHeader(h, m_keyAlpha); // the palette stays
    m_header.IdatLength = 0;
    AllocateOwnBuffers();
}

void TPngImage::Clear()
{
    ReleasePixelState();
    const auto share = m_header.ShareImageData.load();
    Q_ASSERT(!share);
    m_header.Width = m_header.Height = 0;
    m_header.BitDepth = 0;
    m_header.BitsPerPixel = m_header.BytesPerRow = m_header.PaletteCount = 0;
    m_header.HasIdat = false;
    m_header.IdatLength = 0;
    m_header.BitmapHeader.fill(0);
    m_header.Palette.clear();
    m_fileHeader = PngHeader();
    m_chunks.clear();
    m_plte.clear();
    m_trns.clear();
    m_keyAlpha = false;
    m_decodeError.clear();
}

// ---- pixel access -------------------------------------------------------------------------------------

bool TPngImage::HasTransparency() const
{
    if (SamplesPerPixel() == 4)
        return true;
    if (SamplesPerPixel() != 1)
        return false;
    for (int i = 0; i < m_header.PaletteCount; ++i)
        if (uint8_t(m_header.Palette[4 * i + 3]) != 255)
            return true;
    return false;
}

const uint8_t* TPngImage::Scanline(int y) const
{
    if (y < 0 || y >= m_header.Height)
        return nullptr;
    EnsureDecoded();
    return m_header.ImageData ? m_header.ImageData + size_t(y) * m_header.BytesPerRow : nullptr;
}

uint8_t* TPngImage::Scanline(int y)
{
    return const_cast<uint8_t*>(std::as_const(*this).Scanline(y));
}

const uint8_t* TPngImage::ExtraScanline(int y) const
{
    if (y < 0 || y >= m_header.Height)
        return nullptr;
    EnsureDecoded();
    return m_header.ExtraImageData ? m_header.ExtraImageData + size_t(y) * m_header.BytesPerRow : nullptr;
}

uint8_t* TPngImage::ExtraScanline(int y)
{
    return const_cast<uint8_t*>(std::as_const(*this).ExtraScanline(y));
}

QRgb TPngImage::Pixel(int x, int y) const
{
    if (x < 0 || x >= m_header.Width)
        return 0;
    const uint8_t* row = Scanline(y);
    if (!row)
        return 0;
    switch (SamplesPerPixel()) {
    case 1:
        return PaletteEntry(row[x]);
    case 3:
        return qRgb(row[3 * x], row[3 * x + 1], row[3 * x + 2]);
    default:
        return qRgba(row[4 * x + 2], row[4 * x + 1], row[4 * x], row[4 * x + 3]);
    }
}

void TPngImage::SetPixel(int x, int y, QRgb colour)
{
    if (x < 0 || x >= m_header.Width)
        return;
    uint8_t* row = Scanline(y);
    if (!row)
        return;
    uint8_t* extra = ExtraScanline(y);
    switch (SamplesPerPixel()) {
    case 1: {
        int best = 0;
        int bestDistance = INT32_MAX;
        for (int i = 0; i < std::max(1, m_header.PaletteCount); ++i) {
            const QRgb p = PaletteEntry(i);
            const int dr = qRed(p) - qRed(colour), dg = qGreen(p) - qGreen(colour),
                      db = qBlue(p) - qBlue(colour), da = qAlpha(p) - qAlpha(colour);
            const int distance = dr * dr + dg * dg + db * db + da * da;
            if (distance < bestDistance) {
                bestDistance = distance;
                best = i;
            }
        }
        row[x] = uint8_t(best);
        if (extra)
            extra[x] = uint8_t(best);
        return;
    }
    case 3: {
        const uint8_t v[3] = {uint8_t(qRed(colour)), uint8_t(qGreen(colour)), uint8_t(qBlue(colour))};
        std::memcpy(row + 3 * x, v, 3);
        if (extra)
            std::memcpy(extra + 3 * x, v, 3);
        return;
    }
    default: {
        const uint8_t v[4] = {uint8_t(qBlue(colour)), uint8_t(qGreen(colour)), uint8_t(qRed(colour)),
                              uint8_t(qAlpha(colour))};
        std::memcpy(row + 4 * x, v, 4);
        if (extra)
            std::memcpy(extra + 4 * x, v, 4);
    }
    }
}

uint8_t TPngImage::Alpha(int x, int y) const
{
    return uint8_t(qAlpha(Pixel(x, y)));
}

void TPngImage::SetAlpha(int x, int y, uint8_t alpha)
{
    if (SamplesPerPixel() != 4 || x < 0 || x >= m_header.Width)
        return;
    uint8_t* row = Scanline(y);
    if (!row)
        return;
    row[4 * x + 3] = alpha;
    if (uint8_t* extra = ExtraScanline(y))
        extra[4 * x + 3] = alpha;
}

std::array<uint16_t, 4> TPngImage::Pixel16(int x, int y) const
{
    std::array<uint16_t, 4> out{};
    if (x < 0 || x >= m_header.Width)
        return out;
    const uint8_t* row = Scanline(y);
    if (!row)
        return out;
    const uint8_t* extra = ExtraScanline(y);
    auto wide = [&](int offset) -> uint16_t {
        return uint16_t(row[offset] << 8 | (extra ? extra[offset] : row[offset]));
    };
    switch (SamplesPerPixel()) {
    case 1: {
        if (extra) {
            const uint16_t g = wide(x);
            out = {g, g, g, uint16_t(qAlpha(PaletteEntry(row[x])) * 257)};
        } else {
            const QRgb c = PaletteEntry(row[x]);
            out = {uint16_t(qRed(c) * 257), uint16_t(qGreen(c) * 257), uint16_t(qBlue(c) * 257),
                   uint16_t(qAlpha(c) * 257)};
        }
        break;
    }
    case 3:
        out = {wide(3 * x), wide(3 * x + 1), wide(3 * x + 2), 0xFFFF};
        break;
    default:
        out = {wide(4 * x + 2), wide(4 * x + 1), wide(4 * x), wide(4 * x + 3)};
    }
    return out;
}

int TPngImage::PaletteCount() const
{
    return m_header.PaletteCount;
}

QRgb TPngImage::PaletteEntry(int index) const
{
    if (index < 0 || index > 255)
        return 0;
    EnsureDecoded();
    if (m_header.Palette.isEmpty())
        return 0;
    const auto* e = reinterpret_cast<const uint8_t*>(m_header.Palette.constData()) + 4 * index;
    return qRgba(e[2], e[1], e[0], e[3]);
}

void TPngImage::SetPaletteEntry(int index, QRgb colour)
{
    if (index < 0 || index >= m_header.PaletteCount)
        return;
    EnsureDecoded();
    auto* e = reinterpret_cast<uint8_t*>(m_header.Palette.data()) + 4 * index;
    e[0] = uint8_t(qBlue(colour));
    e[1] = uint8_t(qGreen(colour));
    e[2] = uint8_t(qRed(colour));
    e[3] = uint8_t(qAlpha(colour));
}

// ---- canvas and drawing -------------------------------------------------------------------------------

QPainter& TPngImage::Canvas()
{
    if (Empty())
        throw EPNGError(QStringLiteral("An empty PNG picture has no canvas"));
    EnsureDecoded();
    TChunkIHDR& d = m_header;
    TPngImageData* entry = d.ShareImageData.load();
    if (d.PixelsInHeap || entry) {
        // Drawing makes the image private: its own canvas image, 8 bits per sample, no palette.
        const int from = SamplesPerPixel();
        const int to = from == 1 ? (HasTransparency() ? 4 : 3) : from;
        auto dib =
            std::make_unique<QImage>(d.Width, d.Height, to == 4 ? QImage::Format_ARGB32 : QImage::Format_RGB888);
        if (dib->isNull()) {
            throw EPNGOutMemory(QStringLiteral("Not enough memory for the canvas of a %1 x %2 PNG picture")
                                    .arg(d.Width)
                                    .arg(d.Height));
        }
        const size_t bytesPerRow = size_t(((to * 8 * d.Width + 31) / 32) * 4);
        Q_ASSERT(size_t(dib->bytesPerLine()) == bytesPerRow);
        if (!d.ImageData) {
            dib->fill(0);
        } else if (from == to) {
            std::memcpy(dib->bits(), d.ImageData, bytesPerRow * size_t(d.Height));
        } else {
            for (int y = 0; y < d.Height; ++y) {
                const uint8_t* src = d.ImageData + size_t(y) * d.BytesPerRow;
                uint8_t* dst = dib->scanLine(y);
                for (int x = 0; x < d.Width; ++x) {
                    const QRgb c = PaletteEntry(src[x]);
                    if (to == 4) {
                        dst[4 * x] = uint8_t(qBlue(c));
                        dst[4 * x + 1] = uint8_t(qGreen(c));
                        dst[4 * x + 2] = uint8_t(qRed(c));
                        dst[4 * x + 3] = uint8_t(qAlpha(c));
                    } else {
                        dst[3 * x] = uint8_t(qRed(c));
                        dst[3 * x + 1] = uint8_t(qGreen(c));
                        dst[3 * x + 2] = uint8_t(qBlue(c));
                    }
                }
            }
        }
        FreePixels(entry);
        d.ExtraImageData = nullptr;
        d.OwnDib = std::move(dib);
        d.Dib = d.OwnDib.get();
        d.ImageData = d.Dib->bits();
        d.PixelsInHeap = false;

        if (to != from || d.BitDepth != 8 || m_keyAlpha) {
            PngHeader h = m_fileHeader;
            h.bitDepth = 8;
            h.colorType = to == 4 ? (d.ColorType == PngColorType::GrayscaleAlpha ? 4 : 6) : 2;
            const PngHeader old = m_fileHeader;
            m_plte.clear();
            m_trns.clear();
            m_fileHeader = h;
            SetupHeader(h, false);
            SetupPalette();
            if (old.colorType != h.colorType || old.bitDepth != h.bitDepth)
                std::erase_if(m_chunks, [](const PngChunk& c) { return !SafeToKeepAfterRecolour(c.type); });
        }
    }
    if (!d.DC)
        d.DC = std::make_unique<QPainter>(d.Dib);
    return *d.DC;
}

void TPngImage::ReleaseCanvas()
{
    if (m_header.DC) {
        m_header.DC->end();
        m_header.DC.reset();
    }
}

QImage TPngImage::View() const
{
    EnsureDecoded();
    const TChunkIHDR& d = m_header;
    if (!d.ImageData)
        return QImage();
    const int spp = SamplesPerPixel();
    const QImage::Format format = spp == 1   ? QImage::Format_Indexed8
                                  : spp == 3 ? QImage::Format_RGB888
                                             : QImage::Format_ARGB32;
    QImage view(d.ImageData, d.Width, d.Height, d.BytesPerRow, format);
    if (spp == 1) {
        QList<QRgb> table(256);
        for (int i = 0; i < 256; ++i)
            table[i] = PaletteEntry(i);
        view.setColorTable(table);
    }
    return view;
}

void TPngImage::Draw(QPainter& painter, const QRect& dest, const QRect& source, uint8_t opacity) const
{
    if (Empty() || opacity == 0 || dest.width() <= 0 || dest.height() <= 0 || source.width() <= 0 ||
        source.height() <= 0)
        return;
    const QImage view = View();
    if (view.isNull())
        return;
    const qreal before = painter.opacity();
    if (opacity != 255)
        painter.setOpacity(before * opacity / 255.0);
    if (view.format() == QImage::Format_Indexed8) {
        // The painter would convert the whole picture for every piece; convert only the piece.
        painter.drawImage(QRectF(dest),
                          view.copy(source).convertToFormat(QImage::Format_ARGB32_Premultiplied));
    } else {
        painter.drawImage(QRectF(dest), view, QRectF(source));
    }
    if (opacity != 255)
        painter.setOpacity(before);
}

void TPngImage::DrawPartial(QPainter& painter, const QRect& dest, const QRect& source) const
{
    Draw(painter, dest, source, m_opacity);
}

void TPngImage::Draw(QPainter& painter, const QRect& dest) const
{
    Draw(painter, dest, QRect(0, 0, Width(), Height()), m_opacity);
}

// ---- saving -------------------------------------------------------------------------------------------

void TPngImage::SaveToFile(const QString& path) const
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw EPNGError(
            QStringLiteral("Cannot create the PNG picture \"%1\": %2").arg(path, file.errorString()));
    SaveToStream(file);
    if (!file.flush())
        throw EPNGError(
            QStringLiteral("Cannot write the PNG picture \"%1\": %2").arg(path, file.errorString()));
}

QByteArray TPngImage::SaveToData() const
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    SaveToStream(buffer);
    return buffer.data();
}

void TPngImage::SaveToStream(QIODevice& out) const
{
    if (Empty())
        throw EPNGError(QStringLiteral("Cannot save an empty PNG picture"));
    if (TPngImageData* entry = m_header.ShareImageData.load()) {
        StreamLoan loan(*entry);
        if (loan.Get()) {
            WriteStored(out, *loan.Get());
            return;
        }
    }
    EnsureDecoded();
    WriteEncoded(out);
}

namespace {

struct WriteSink
{
    QIODevice& out;
    bool failed = false;
    void Signature() { failed |= !PngCodec::WriteSignature(out); }
    void Chunk(const char* type, const QByteArray& data) { failed |= !PngCodec::WriteChunk(out, type, data); }
    void Raw(const char* data, qint64 size) { failed |= out.write(data, size) != size; }
    void Finish() const
    {
        if (failed)
            throw EPNGError(QStringLiteral("Cannot write the PNG picture: %1").arg(out.errorString()));
    }
};

} // namespace

void TPngImage::WriteStored(QIODevice& out, const QByteArray& stream) const
{
    WriteSink sink{out};
    sink.Signature();
    sink.Chunk("IHDR", PngCodec::HeaderData(m_fileHeader));
    for (const PngChunk& c : m_chunks)
        if (c.place != ChunkPlace::AfterIdat)
            sink.Chunk(c.type.data(), c.data);
    // The first IDAT's length and type, then the stored bytes, which carry that chunk's data and CRC
    // and every IDAT chunk after it.
    const uint32_t n = m_header.IdatLength;
    const char head[8] = {char(n >> 24), char(n >> 16), char(n >> 8), char(n), 'I', 'D', 'A', 'T'};
    sink.Raw(head, 8);
    sink.Raw(stream.constData(), stream.size());
    for (const PngChunk& c : m_chunks)
        if (c.place == ChunkPlace::AfterIdat)
            sink.Chunk(c.type.data(), c.data);
    sink.Chunk("IEND", QByteArray());
    sink.Finish();
}

void TPngImage::WriteEncoded(QIODevice& out) const
{
    const TChunkIHDR& d = m_header;
    if (!d.ImageData)
        throw EPNGError(QStringLiteral("Cannot save the PNG picture: it has no pixels"));
    const int spp = SamplesPerPixel();
    const bool wide = d.BitDepth == 16 && d.ExtraImageData;

    PngCodec::EncodeRows job;
    job.header.width = d.Width;
    job.header.height = d.Height;
    job.header.interlace = 0;
    if (spp == 1) {
        job.header.colorType = d.ColorType == PngColorType::Palette ? 3 : 0;
        job.header.bitDepth = d.ColorType == PngColorType::Palette ? std::min<uint8_t>(d.BitDepth, 8)
                              : wide                               ? 16
                                                                   : std::min<uint8_t>(d.BitDepth, 8);
        if (job.header.colorType == 3) {
            // Indices past the palette show as its unused entries (opaque black); libpng refuses to
            // write indices that the palette does not cover, so the written palette covers them.
            const int mask = job.header.bitDepth < 8 ? (1 << job.header.bitDepth) - 1 : 0xFF;
            int entries = d.PaletteCount;
            for (int y = 0; y < d.Height; ++y) {
                const uint8_t* row = d.ImageData + size_t(y) * d.BytesPerRow;
                for (int x = 0; x < d.Width; ++x)
                    entries = std::max(entries, (row[x] & mask) + 1);
            }
            int lastTranslucent = -1;
            for (int i = 0; i < entries; ++i) {
                const QRgb c = PaletteEntry(i);
                job.plte.append(char(qRed(c))).append(char(qGreen(c))).append(char(qBlue(c)));
                if (qAlpha(c) != 255)
                    lastTranslucent = i;
            }
            for (int i = 0; i <= lastTranslucent; ++i)
                job.trns.append(char(qAlpha(PaletteEntry(i))));
        } else if (job.header.bitDepth <= 8) {
            for (int i = 0; i < d.PaletteCount; ++i)
                if (qAlpha(PaletteEntry(i)) == 0) {
                    job.trns = QByteArray(1, '\0').append(char(i));
                    break;
                }
        }
    } else {
        job.header.colorType = spp == 3 ? 2 : (d.ColorType == PngColorType::GrayscaleAlpha ? 4 : 6);
        job.header.bitDepth = wide ? 16 : 8;
    }

    struct Context
    {
        const TChunkIHDR* d;
        int spp;
        bool wide;
        int colorType;
        int bitDepth;
    } context{&d, spp, wide, job.header.colorType, job.header.bitDepth};
    job.context = &context;
    job.fillRow = [](const void* p, int y, uint8_t* row) {
        const auto& c = *static_cast<const Context*>(p);
        const uint8_t* hi = c.d->ImageData + size_t(y) * c.d->BytesPerRow;
        const uint8_t* lo = c.wide ? c.d->ExtraImageData + size_t(y) * c.d->BytesPerRow : hi;
        const int w = c.d->Width;
        auto put = [&](int& at, int offset) {
            row[at++] = hi[offset];
            if (c.wide)
                row[at++] = lo[offset];
        };
        int at = 0;
        if (c.spp == 1) {
            const int mask = c.bitDepth < 8 ? (1 << c.bitDepth) - 1 : 0xFF;
            for (int x = 0; x < w; ++x) {
                if (c.wide) {
                    put(at, x);
                } else {
                    row[at++] = uint8_t(hi[x] & mask);
                }
            }
        } else if (c.spp == 3) {
            for (int x = 0; x < w * 3; ++x)
                put(at, x);
        } else if (c.colorType == 4) {
            for (int x = 0; x < w; ++x) {
                put(at, 4 * x + 1);
                put(at, 4 * x + 3);
            }
        } else {
            for (int x = 0; x < w; ++x) {
                put(at, 4 * x + 2);
                put(at, 4 * x + 1);
                put(at, 4 * x);
                put(at, 4 * x + 3);
            }
        }
    };
    const QByteArray encoded = PngCodec::Encode(job);

    // Splice the picture's other chunks around the new header, palette and image data.
    const bool sameLayout =
        job.header.colorType == m_fileHeader.colorType && job.header.bitDepth == m_fileHeader.bitDepth;
    auto keep = [&](const PngChunk& c) {
        const QByteArray name(c.type.data(), 4);
        if (name == "PLTE" || name == "tRNS")
            return false;
        return sameLayout || SafeToKeepAfterRecolour(c.type);
    };
    WriteSink sink{out};
    sink.Signature();
    const auto parts = PngCodec::SplitChunks(encoded);
    auto writeOwn = [&](ChunkPlace place) {
        for (const PngChunk& c : m_chunks)
            if (c.place == place && keep(c))
                sink.Chunk(c.type.data(), c.data);
    };
    bool beforePlteDone = false;
    bool beforeIdatDone = false;
    for (const auto& [type, data] : parts) {
        const QByteArray name(type.data(), 4);
        if (name == "IEND")
            break;
        if (name != "IHDR" && !beforePlteDone) {
            writeOwn(ChunkPlace::BeforePlte);
            beforePlteDone = true;
        }
        if (name == "IDAT" && !beforeIdatDone) {
            writeOwn(ChunkPlace::BeforeIdat);
            beforeIdatDone = true;
        }
        sink.Chunk(type.data(), data);
    }
    writeOwn(ChunkPlace::AfterIdat);
    sink.Chunk("IEND", QByteArray());
    sink.Finish();
}

} // namespace imaging
