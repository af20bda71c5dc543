#include "controls/TBitmap.h"

#include <QPainter>

namespace controls {

namespace {

bool Drawable(const QRect& dest, const QRect& source)
{
    return dest.width() > 0 && dest.height() > 0 && source.width() > 0 && source.height() > 0;
}

// Pixel by pixel, as the system stretches bitmaps, with no smoothing.
QImage Scaled(const QImage& piece, const QSize& size)
{
    return piece.size() == size ? piece : piece.scaled(size, Qt::IgnoreAspectRatio, Qt::FastTransformation);
}

} // namespace

TBitmap::TBitmap(int width, int height, TPixelFormat format) : m_format(format)
{
    SetSize(width, height);
}

std::unique_ptr<TBitmap> TBitmap::FromImage(const QImage& image, TAlphaFormat alpha)
{
    auto bitmap = std::make_unique<TBitmap>();
    if (image.isNull())
        return bitmap;
    if (image.hasAlphaChannel()) {
        bitmap->m_pixels = image.convertToFormat(QImage::Format_ARGB32);
        bitmap->m_format = pf32bit;
        bitmap->SetAlphaFormat(alpha);
    } else {
        bitmap->m_pixels = image.convertToFormat(QImage::Format_RGB32).convertToFormat(QImage::Format_ARGB32);
        bitmap->m_format = pf24bit;
    }
    return bitmap;
}

void TBitmap::SetSize(int width, int height)
{
    width = std::max(width, 0);
    height = std::max(height, 0);
    if (width == Width() && height == Height() && !m_pixels.isNull())
        return;
    if (width == 0 || height == 0) {
        m_pixels = QImage();
        return;
    }
    QImage resized(width, height, QImage::Format_ARGB32);
    resized.fill(0);
    if (!m_pixels.isNull()) {
        QPainter p(&resized);
        p.setCompositionMode(QPainter::CompositionMode_Source);
        p.drawImage(0, 0, m_pixels);
    }
    m_pixels = resized;
}

void TBitmap::SetPixelFormat(TPixelFormat format)
{
    if (format == m_format)
        return;
    if (format == pf32bit) {
        for (int y = 0; y < Height(); ++y) {
            uchar* row = ScanLine(y);
            for (int x = 0; x < Width(); ++x)
                row[x * 4 + 3] = 0;
        }
    } else {
        m_alphaFormat = afIgnored;
    }
    m_format = format;
}

void TBitmap::SetAlphaFormat(TAlphaFormat format)
{
    if (format == m_alphaFormat)
        return;
    const bool premultiply = format == afDefined && m_alphaFormat == afIgnored;
    const bool unpremultiply = format == afIgnored && m_alphaFormat == afDefined;
    for (int y = 0; (premultiply || unpremultiply) && y < Height(); ++y) {
        uchar* p = ScanLine(y);
        for (int x = 0; x < Width(); ++x, p += 4) {
            const int a = p[3];
            for (int c = 0; c < 3; ++c) {
                if (premultiply)
                    p[c] = uchar((p[c] * a + 127) / 255);
                else if (a != 0)
                    p[c] = uchar(std::min(255, (p[c] * 255 + a / 2) / a));
            }
        }
    }
    m_alphaFormat = format;
}

TColor TBitmap::TransparentColor() const
{
    if (m_transparentMode == tmFixed || Empty())
        return m_transparentColor;
    const uchar* p = ScanLine(Height() - 1);
    return TColor(p[2] | (p[1] << 8) | (p[0] << 16));
}

void TBitmap::SetTransparentColor(TColor color)
{
    m_transparentColor = color;
    m_transparentMode = color == clDefault ? tmAuto : tmFixed;
}

uchar* TBitmap::ScanLine(int y)
{
    return m_pixels.scanLine(y);
}

const uchar* TBitmap::ScanLine(int y) const
{
    return m_pixels.constScanLine(y);
}

void TBitmap::Assign(const TGraphic* source)
{
    if (source == this)
        return;
    if (!source) {
        *this = TBitmap();
        return;
    }
    if (auto bitmap = dynamic_cast<const TBitmap*>(source)) {
        *this = *bitmap;
        return;
    }
    *this = std::move(*FromImage(source->ToImage()));
}

void TBitmap::Draw(QPainter& canvas, const TRect& dest)
{
    const QRect whole(0, 0, Width(), Height());
    if (m_transparent)
        TransparentBltTo(canvas, dest.ToQRect(), whole, ColorToRGB(TransparentColor()));
    else if (m_format == pf32bit && m_alphaFormat != afIgnored)
        AlphaBlendTo(canvas, dest.ToQRect(), whole);
    else
        StretchBltTo(canvas, dest.ToQRect(), whole);
}

std::unique_ptr<TGraphic> TBitmap::Clone() const
{
    return std::make_unique<TBitmap>(*this);
}

QImage TBitmap::ToImage() const
{
    if (m_pixels.isNull())
        return {};
    if (m_format == pf32bit && m_alphaFormat != afIgnored) {
        QImage premultiplied(m_pixels.constBits(), Width(), Height(), m_pixels.bytesPerLine(),
                             QImage::Format_ARGB32_Premultiplied);
        return premultiplied.convertToFormat(QImage::Format_ARGB32);
    }
    return Opaque(m_pixels.rect()).convertToFormat(QImage::Format_ARGB32);
}

TBlitOperation TBitmap::PieceBlit(QPainter& dc, const TBlendFunction& blend)
{
    if (m_format == pf32bit) {
        if (m_alphaFormat == afIgnored)
            SetAlphaFormat(afDefined);
        const quint8 alpha = blend.SourceConstantAlpha;
        return [this, &dc, alpha](int dx, int dy, int dw, int dh, int sx, int sy, int sw, int sh) {
            AlphaBlendTo(dc, QRect(dx, dy, dw, dh), QRect(sx, sy, sw, sh), alpha);
        };
    }
    if (m_transparent) {
        const TColor key = ColorToRGB(TransparentColor());
        return [this, &dc, key](int dx, int dy, int dw, int dh, int sx, int sy, int sw, int sh) {
            TransparentBltTo(dc, QRect(dx, dy, dw, dh), QRect(sx, sy, sw, sh), key);
        };
    }
    return [this, &dc](int dx, int dy, int dw, int dh, int sx, int sy, int sw, int sh) {
        StretchBltTo(dc, QRect(dx, dy, dw, dh), QRect(sx, sy, sw, sh));
    };
}

QImage TBitmap::Opaque(const QRect& source) const
{
    QImage piece = m_pixels.copy(source);
    for (int y = 0; y < piece.height(); ++y) {
        uchar* p = piece.scanLine(y);
        for (int x = 0; x < piece.width(); ++x)
            p[x * 4 + 3] = 0xFF;
    }
    piece.reinterpretAsFormat(QImage::Format_RGB32);
    return piece;
}

void TBitmap::AlphaBlendTo(QPainter& dc, const QRect& dest, const QRect& source, quint8 constantAlpha) const
{
    if (!Drawable(dest, source) || m_pixels.isNull())
        return;
    const QImage premultiplied(m_pixels.constBits(), Width(), Height(), m_pixels.bytesPerLine(),
                               QImage::Format_ARGB32_Premultiplied);
    dc.save();
    dc.setCompositionMode(QPainter::CompositionMode_SourceOver);
    dc.setOpacity(dc.opacity() * constantAlpha / 255.0);
    dc.drawImage(dest.topLeft(), Scaled(premultiplied.copy(source), dest.size()));
    dc.restore();
}

void TBitmap::TransparentBltTo(QPainter& dc, const QRect& dest, const QRect& source, TColor key) const
{
    if (!Drawable(dest, source) || m_pixels.isNull())
        return;
    QImage piece = Scaled(Opaque(source), dest.size()).convertToFormat(QImage::Format_ARGB32);
    const QRgb keyRgb = ToQColor(key).rgb() & 0xFFFFFF;
    for (int y = 0; y < piece.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(piece.scanLine(y));
        for (int x = 0; x < piece.width(); ++x)
            if ((row[x] & 0xFFFFFF) == keyRgb)
                row[x] = 0;
    }
    dc.save();
    dc.setCompositionMode(QPainter::CompositionMode_SourceOver);
    dc.drawImage(dest.topLeft(), piece);
    dc.restore();
}

void TBitmap::StretchBltTo(QPainter& dc, const QRect& dest, const QRect& source) const
{
    if (!Drawable(dest, source) || m_pixels.isNull())
        return;
    dc.save();
    dc.setCompositionMode(QPainter::CompositionMode_SourceOver);
    dc.drawImage(dest.topLeft(), Scaled(Opaque(source), dest.size()));
    dc.restore();
}

void MakeGrayscale(TBitmap& bitmap)
{
    bitmap.SetPixelFormat(pf32bit);
    for (int y = 0; y < bitmap.Height(); ++y) {
        uchar* p = bitmap.ScanLine(y);
        for (int x = 0; x < bitmap.Width(); ++x, p += 4) {
            const uchar v = uchar((28 * p[0] + 151 * p[1] + 77 * p[2]) >> 8);
            p[0] = p[1] = p[2] = v;
        }
    }
}

} // namespace controls
