#pragma once
// The picture framework's graphic: something with a size that can be drawn stretched into a
// rectangle of a canvas and copied. TBitmap and the PNG image are the two kinds the drawing code
// knows by name; TImageGraphic carries any other picture Qt can read.

#include "platform/DrawText.h"

#include <QImage>
#include <QString>
#include <functional>
#include <memory>

class QPainter;

namespace controls {

using platform::TRect;

// The platform's alpha-blend description.
struct TBlendFunction
{
    quint8 BlendOp = 0; // source over
    quint8 BlendFlags = 0;
    quint8 SourceConstantAlpha = 255;
    quint8 AlphaFormat = 1; // the source has per-pixel alpha
};

// Scales the source piece (sx, sy, sw, sh) into the destination piece (dx, dy, dw, dh).
using TBlitOperation = std::function<void(int dx, int dy, int dw, int dh, int sx, int sy, int sw, int sh)>;

class TGraphic
{
public:
    virtual ~TGraphic() = default;
    virtual int Width() const = 0;
    virtual int Height() const = 0;
    bool Empty() const { return Width() <= 0 || Height() <= 0; }
    // The canvas's StretchDraw: the whole graphic scaled into `dest`.
    virtual void Draw(QPainter& canvas, const TRect& dest) = 0;
    virtual std::unique_ptr<TGraphic> Clone() const = 0;
    virtual QString ClassName() const = 0;
    // The picture as straight-alpha ARGB32 pixels, for converting it to another kind.
    virtual QImage ToImage() const = 0;
    // Whether nine-slice drawing can take pieces straight from this graphic (bitmaps and PNG
    // images); other kinds are first rendered into a bitmap.
    virtual bool CanDrawPieces() const { return false; }
    // How nine-slice drawing puts pieces of this graphic on `dc`; the operation refers to this
    // graphic and `dc`. Empty unless CanDrawPieces().
    virtual TBlitOperation PieceBlit(QPainter& dc, const TBlendFunction& blend)
    {
        (void)dc;
        (void)blend;
        return {};
    }
};

// Any picture that is neither a bitmap nor a PNG image.
class TImageGraphic : public TGraphic
{
public:
    TImageGraphic() = default;
    explicit TImageGraphic(QImage image);
    int Width() const override { return m_image.width(); }
    int Height() const override { return m_image.height(); }
    void Draw(QPainter& canvas, const TRect& dest) override;
    std::unique_ptr<TGraphic> Clone() const override;
    QString ClassName() const override { return QStringLiteral("TImageGraphic"); }
    QImage ToImage() const override;

private:
    QImage m_image;
};

} // namespace controls
