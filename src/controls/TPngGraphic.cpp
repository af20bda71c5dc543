#include "controls/TPngGraphic.h"

#include "controls/TBitmap.h"
#include "platform/Exception.h"

#include <QPainter>

namespace controls {

void TPngGraphic::Draw(QPainter& canvas, const TRect& dest)
{
    if (Empty() || dest.Width() <= 0 || dest.Height() <= 0)
        return;
    m_png.Draw(canvas, dest.ToQRect());
}

std::unique_ptr<TGraphic> TPngGraphic::Clone() const
{
    return std::make_unique<TPngGraphic>(m_png);
}

QImage TPngGraphic::ToImage() const
{
    if (Empty())
        return {};
    return m_png.View().convertToFormat(QImage::Format_ARGB32);
}

TBlitOperation TPngGraphic::PieceBlit(QPainter& dc, const TBlendFunction& blend)
{
    (void)blend; // the PNG blends by its own alpha and opacity
    return [this, &dc](int dx, int dy, int dw, int dh, int sx, int sy, int sw, int sh) {
        m_png.DrawPartial(dc, QRect(dx, dy, dw, dh), QRect(sx, sy, sw, sh));
    };
}

void TPngGraphic::Assign(const TGraphic* source)
{
    if (source == this)
        return;
    if (!source) {
        m_png.Clear();
        return;
    }
    if (auto png = dynamic_cast<const TPngGraphic*>(source)) {
        m_png.Assign(png->m_png);
        return;
    }
    if (dynamic_cast<const TBitmap*>(source)) {
        m_png.Assign(source->ToImage());
        return;
    }
    throw platform::Exception(QStringLiteral("Cannot assign a %1 to a TPngImage").arg(source->ClassName()));
}

} // namespace controls
