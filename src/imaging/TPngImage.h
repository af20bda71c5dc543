#pragma once
// The program's PNG picture. Loads and saves every PNG colour type and bit depth (palettes with tRNS,
// Adam7), gives pixel, scan-line, alpha and palette access, a canvas, a partial draw and a QImage view.
//
// While the process-wide TPngImageDataList exists, images with identical content share one stored copy
// of their compressed data and one set of decoded buffers: loading keeps the IDAT bytes and decodes
// nothing; the pixels are decoded on first use, once for all holders; a copy shares its source's data;
// drawing on the canvas makes an image private again. A write through Scanline/SetPixel/SetAlpha of a
// shared image shows in every holder.
//
// Pixel rows (BytesPerRow each, top row first) hold 8-bit samples in one of three layouts:
//   8 bits per pixel:  palette index (colour types 0 up to 8 bits, and 3); Palette() gives the colours,
//                      grey levels for colour type 0, alpha from tRNS;
//   24 bits per pixel: R, G, B (colour type 2 without tRNS);
//   32 bits per pixel: B, G, R, A, i.e. QImage::Format_ARGB32, not premultiplied (colour types 4, 6, and
//                      0 at 16 bits and 2 with a tRNS colour key, where the key becomes alpha 0).
// 16-bit images keep the high bytes there and the low bytes at the same offsets in ExtraScanline().
//
// One image object is not for concurrent use by several threads (like QImage); the shared data behind
// it is. An image may be the source of Assign in other threads while its own thread only reads it.

#include "imaging/PngCodec.h"
#include "imaging/TPngImageData.h"

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QRect>
#include <QRgb>
#include <QString>

#include <QPainter>

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

class QIODevice;

namespace imaging {

class TPngImageDataList;

enum class PngColorType : uint8_t
{
    Grayscale = 0,
    Rgb = 2,
    Palette = 3,
    GrayscaleAlpha = 4,
    RgbAlpha = 6
};

// Per-image header state: the size, the pixel layout, the 1064-byte bitmap description and the
// image's hold on shared data. The description is the 40-byte bitmap header followed by 256 palette
// entries (B, G, R, A); the palette part is kept apart and shared by copies until one changes it, and
// is empty (all zero) for layouts without a palette, so a picture costs little beyond its pixels.
struct TChunkIHDR
{
    int Width = 0;
    int Height = 0;
    uint8_t BitDepth = 0;
    PngColorType ColorType = PngColorType::Grayscale;
    uint8_t Interlace = 0;
    int BitsPerPixel = 0; // 8, 24 or 32
    int BytesPerRow = 0;  // ((BitsPerPixel * Width + 31) / 32) * 4
    int PaletteCount = 0;
    std::array<uint8_t, 40> BitmapHeader{};
    QByteArray Palette; // 1024 bytes or empty

    // Set by other threads that copy this image, hence atomic.
    std::atomic<TPngImageData*> ShareImageData{nullptr};
    uint8_t* ImageData = nullptr;      // the pixels: OwnPixels, the entry's Pixels or the canvas's memory
    uint8_t* ExtraImageData = nullptr; // OwnExtra or the entry's ExtraPixels
    PixelBuffer OwnPixels;             // buffers of this image alone
    PixelBuffer OwnExtra;
    bool PixelsInHeap = true; // false: ImageData is the canvas image's memory
    bool HasIdat = false;     // the image has image data (decoded or still stored)
    uint32_t IdatLength = 0;  // data length of the first IDAT chunk, for a stored stream
    QImage* Dib = nullptr;    // canvas image (OwnDib, or the entry's DibHandle once shared)
    std::unique_ptr<QImage> OwnDib;
    std::unique_ptr<QPainter> DC; // painter given out on Dib; goes before the image it paints on
};

class TPngImage
{
public:
    TPngImage();
    // A blank image (all samples 0) of the given kind, e.g. the 1 x 1 8-bit RGB mask of a button.
    TPngImage(PngColorType colorType, int bitDepth, int width, int height);
    TPngImage(const TPngImage& other);            // shares other's data, as Assign
    TPngImage& operator=(const TPngImage& other); // Assign
    ~TPngImage();

    // Loading replaces the picture; on EPNGError the image keeps what it held. The stream is left
    // positioned after the IEND chunk.
    void LoadFromFile(const QString& path);
    void LoadFromStream(QIODevice& stream);
    void LoadFromData(const QByteArray& data);
    // Saving a picture that was never drawn on writes its IDAT chunks exactly as read.
    void SaveToFile(const QString& path) const;
    void SaveToStream(QIODevice& stream) const;
    QByteArray SaveToData() const;

    void Assign(const TPngImage& source);
    // A private copy of a Qt image: 32 bits per pixel when it has alpha, else 24.
    void Assign(const QImage& source);
    // Recreates the image blank at another size, keeping colour type and bit depth.
    void SetSize(int width, int height);
    void Clear();

    bool Empty() const { return m_header.Width == 0 || m_header.Height == 0; }
    int Width() const { return m_header.Width; }
    int Height() const { return m_header.Height; }
    QSize Size() const { return QSize(m_header.Width, m_header.Height); }
    PngColorType ColorType() const { return m_header.ColorType; }
    int BitDepth() const { return m_header.BitDepth; }
    bool Interlaced() const { return m_header.Interlace != 0; }
    int BitsPerPixel() const { return m_header.BitsPerPixel; }
    int BytesPerRow() const { return m_header.BytesPerRow; }
    // True when some pixel can be less than opaque (alpha channel, tRNS).
    bool HasTransparency() const;

    // Opacity used by DrawPartial (255 unless changed).
    uint8_t Opacity() const { return m_opacity; }
    void SetOpacity(uint8_t value) { m_opacity = value; }

    // Row y of the pixel rows (decodes on first use); nullptr when y is outside or there are no pixels.
    uint8_t* Scanline(int y);
    const uint8_t* Scanline(int y) const;
    // Low bytes of the 16-bit samples of row y; nullptr for 8-bit images.
    uint8_t* ExtraScanline(int y);
    const uint8_t* ExtraScanline(int y) const;

    // Colour of a pixel, not premultiplied; 0 outside the image.
    QRgb Pixel(int x, int y) const;
    // Palette images take the nearest palette colour; 16-bit samples become v * 257.
    void SetPixel(int x, int y, QRgb colour);
    uint8_t Alpha(int x, int y) const;
    // Only images with 32 bits per pixel carry per-pixel alpha; others ignore the write.
    void SetAlpha(int x, int y, uint8_t alpha);
    // 16-bit samples of a pixel as R, G, B, A (8-bit images give v * 257).
    std::array<uint16_t, 4> Pixel16(int x, int y) const;

    int PaletteCount() const;
    QRgb PaletteEntry(int index) const;
    void SetPaletteEntry(int index, QRgb colour);

    // A painter on the image's own pixels. The image becomes private (stops sharing) and is switched
    // to 8 bits per sample, 24 or 32 bits per pixel. Valid until ReleaseCanvas or the next reload.
    QPainter& Canvas();
    void ReleaseCanvas();
    bool HasCanvas() const { return m_header.DC != nullptr; }

    // Draws `source` (image coordinates) scaled into `dest`, blended by the image's alpha and
    // transparency and by `opacity` on top of the painter's own opacity.
    void Draw(QPainter& painter, const QRect& dest, const QRect& source, uint8_t opacity = 255) const;
    // The same at the image's own Opacity().
    void DrawPartial(QPainter& painter, const QRect& dest, const QRect& source) const;
    // The whole image stretched into dest at Opacity().
    void Draw(QPainter& painter, const QRect& dest) const;

    // A QImage over the decoded pixels, no copy: Indexed8, RGB888 or ARGB32 by BitsPerPixel. Writes
    // through it change the pixels like Scanline does; draw through Canvas() instead. Valid while this
    // image lives and is not reloaded, reassigned, resized or given its canvas.
    QImage View() const;

    // Sharing state, for inspection.
    TPngImageData* ShareImageData() const { return m_header.ShareImageData.load(); }
    bool IsDecoded() const { return m_header.ImageData != nullptr; }
    // Message of a failed deferred decode (the pixels then stay as far as they were decoded).
    QString DecodeError() const { return m_decodeError; }

private:
    friend class TPngImageDataList;

    void EnsureDecoded() const;
    void PrepareBuffers() const;
    void ReleasePixelState();
    // Ends the canvas and frees the canvas image and pixel buffers (those of the share entry stay
    // with it) and leaves the share; the caller sets the pixel pointers anew.
    void FreePixels(TPngImageData* entry);
    void SetupHeader(const PngHeader& header, bool keyAlpha);
    void SetupPalette();
    void AllocateOwnBuffers();
    int SamplesPerPixel() const { return m_header.BitsPerPixel / 8; }
    QByteArray LayoutKey() const;
    void CopyHeaderFrom(const TPngImage& source);
    void WriteStored(QIODevice& out, const QByteArray& stream) const;
    void WriteEncoded(QIODevice& out) const;

    mutable TChunkIHDR m_header;
    PngHeader m_fileHeader;         // as read (or as created): what the chunks below belong to
    std::vector<PngChunk> m_chunks; // chunks as read except IHDR, IDAT and IEND
    QByteArray m_plte;              // raw PLTE of a palette image
    QByteArray m_trns;              // raw tRNS when valid
    bool m_keyAlpha = false;        // a grey/RGB colour key became an alpha channel
    uint8_t m_opacity = 255;
    mutable QString m_decodeError;
};

} // namespace imaging
