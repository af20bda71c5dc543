#pragma once
// A PNG image as a picture's graphic. Copies share the image data; nine-slice drawing takes its
// pieces straight from the PNG with its alpha and opacity.

#include "controls/TGraphic.h"
#include "imaging/TPngImage.h"

namespace controls {

class TPngGraphic : public TGraphic
{
public:
    TPngGraphic() = default;
    explicit TPngGraphic(const imaging::TPngImage& png) : m_png(png) {}

    imaging::TPngImage& Png() { return m_png; }
    const imaging::TPngImage& Png() const { return m_png; }

    int Width() const override { return m_png.Width(); }
    int Height() const override { return m_png.Height(); }
    void Draw(QPainter& canvas, const TRect& dest) override;
    std::unique_ptr<TGraphic> Clone() const override;
    QString ClassName() const override { return QStringLiteral("TPngImage"); }
    QImage ToImage() const override;
    bool CanDrawPieces() const override { return true; }
    TBlitOperation PieceBlit(QPainter& dc, const TBlendFunction& blend) override;

    // The PNG image's assignment: null empties, a PNG image is shared, a bitmap is converted;
    // any other graphic is refused with platform::Exception.
    void Assign(const TGraphic* source);

private:
    imaging::TPngImage m_png;
};

} // namespace controls
