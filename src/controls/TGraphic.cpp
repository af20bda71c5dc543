#include "controls/TGraphic.h"

#include <QPainter>

namespace controls {

TImageGraphic::TImageGraphic(QImage image) : m_image(std::move(image)) {}

void TImageGraphic::Draw(QPainter& canvas, const TRect& dest)
{
    if (Empty() || dest.Width() <= 0 || dest.Height() <= 0)
        return;
    canvas.drawImage(dest.ToQRect(), m_image);
}

std::unique_ptr<TGraphic> TImageGraphic::Clone() const
{
    return std::make_unique<TImageGraphic>(m_image);
}

QImage TImageGraphic::ToImage() const
{
    return m_image.convertToFormat(QImage::Format_ARGB32);
}

} // namespace controls
