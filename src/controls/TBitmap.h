#pragma once
// The framework's device-independent bitmap: pixels in the Windows 32-bit layout (bytes B, G, R
// and a fourth byte per pixel, rows top down), a nominal pixel format, an alpha format telling how
// the fourth byte is meant, and an optional transparent colour.

#include "controls/ControlTypes.h"
#include "controls/TGraphic.h"

namespace controls {

enum TPixelFormat : quint8
{
    pfDevice,
    pf1bit,
    pf4bit,
    pf8bit,
    pf15bit,
    pf16bit,
    pf24bit,
    pf32bit,
    pfCustom
};
enum TAlphaFormat : quint8
{
    afIgnored,
    afDefined,
    afPremultiplied
};
enum TTransparentMode : quint8
{
    tmAuto,
    tmFixed
};

class TBitmap : public TGraphic
{
public:
    TBitmap() = default;
    TBitmap(int width, int height, TPixelFormat format = pf24bit);
    // An image with an alpha channel becomes a 32-bit bitmap of the given alpha format (defined:
    // premultiplied; ignored: the straight bytes as they are), any other a 24-bit one.
    static std::unique_ptr<TBitmap> FromImage(const QImage& image, TAlphaFormat alpha = afDefined);

    int Width() const override { return m_pixels.width(); }
    int Height() const override { return m_pixels.height(); }
    void SetSize(int width, int height);

    TPixelFormat PixelFormat() const { return m_format; }
    // Changing to 32 bits per pixel from fewer leaves the fourth bytes 0, as the system's copy does.
    void SetPixelFormat(TPixelFormat format);
    TAlphaFormat AlphaFormat() const { return m_alphaFormat; }
    // Ignored to defined premultiplies the pixels by their alpha; defined to ignored undoes it.
    void SetAlphaFormat(TAlphaFormat format);

    bool Transparent() const { return m_transparent; }
    void SetTransparent(bool value) { m_transparent = value; }
    TTransparentMode TransparentMode() const { return m_transparentMode; }
    // In automatic mode the colour of the bottom-left pixel.
    TColor TransparentColor() const;
    void SetTransparentColor(TColor color);

    uchar* ScanLine(int y);
    const uchar* ScanLine(int y) const;
    // The raw pixels: always QImage::Format_ARGB32 over the B, G, R, fourth-byte layout.
    QImage& Pixels() { return m_pixels; }
    const QImage& Pixels() const { return m_pixels; }

    void Assign(const TGraphic* source);
    void Draw(QPainter& canvas, const TRect& dest) override;
    std::unique_ptr<TGraphic> Clone() const override;
    QString ClassName() const override { return QStringLiteral("TBitmap"); }
    QImage ToImage() const override;
    // A 32-bit bitmap is alpha-blended (its alpha format switched from ignored to defined first,
    // which premultiplies this bitmap), a transparent one keyed, any other copied.
    bool CanDrawPieces() const override { return true; }
    TBlitOperation PieceBlit(QPainter& dc, const TBlendFunction& blend) override;

    // The three ways the system puts a bitmap's pixels on a device, each scaling the source
    // rectangle into the destination rectangle pixel by pixel.
    // AlphaBlend: premultiplied per-pixel alpha, further scaled by `constantAlpha`.
    void AlphaBlendTo(QPainter& dc, const QRect& dest, const QRect& source, quint8 constantAlpha = 255) const;
    // TransparentBlt: every pixel of colour `key` (RGB) is left out.
    void TransparentBltTo(QPainter& dc, const QRect& dest, const QRect& source, TColor key) const;
    // StretchBlt with SRCCOPY: the colour bytes copied, the fourth byte ignored.
    void StretchBltTo(QPainter& dc, const QRect& dest, const QRect& source) const;

private:
    QImage Opaque(const QRect& source) const;

    QImage m_pixels;
    TPixelFormat m_format = pf24bit;
    TAlphaFormat m_alphaFormat = afIgnored;
    bool m_transparent = false;
    TTransparentMode m_transparentMode = tmAuto;
    TColor m_transparentColor = clDefault;
};

// Greys the bitmap in place by luminance (28 B + 151 G + 77 R) / 256, after making it 32 bits
// per pixel; the fourth byte is kept.
void MakeGrayscale(TBitmap& bitmap);

} // namespace controls
