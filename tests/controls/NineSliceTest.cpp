#include "controls/RdScrollBar.h"
#include "controls/TBitmap.h"
#include "controls/TPngGraphic.h"

#include <QPainter>
#include <gtest/gtest.h>

using namespace controls;

namespace {

struct Blit
{
    QRect dest, source;
    bool operator==(const Blit&) const = default;
};

void PrintTo(const Blit& b, std::ostream* os)
{
    *os << "dest(" << b.dest.x() << "," << b.dest.y() << "," << b.dest.width() << "," << b.dest.height()
        << ") src(" << b.source.x() << "," << b.source.y() << "," << b.source.width() << ","
        << b.source.height() << ")";
}

Blit B(int dx, int dy, int dw, int dh, int sx, int sy, int sw, int sh)
{
    return {QRect(dx, dy, dw, dh), QRect(sx, sy, sw, sh)};
}

// A graphic that records the pieces it is asked to put on the device.
class RecordingGraphic : public TGraphic
{
public:
    RecordingGraphic(int w, int h) : m_w(w), m_h(h) {}
    int Width() const override { return m_w; }
    int Height() const override { return m_h; }
    void Draw(QPainter&, const TRect& dest) override { stretched.append(dest); }
    std::unique_ptr<TGraphic> Clone() const override { return std::make_unique<RecordingGraphic>(m_w, m_h); }
    QString ClassName() const override { return "RecordingGraphic"; }
    QImage ToImage() const override { return {}; }
    bool CanDrawPieces() const override { return true; }
    TBlitOperation PieceBlit(QPainter&, const TBlendFunction&) override
    {
        return [this](int dx, int dy, int dw, int dh, int sx, int sy, int sw, int sh) {
            blits.append(B(dx, dy, dw, dh, sx, sy, sw, sh));
        };
    }

    QList<Blit> blits;
    QList<TRect> stretched;

private:
    int m_w, m_h;
};

QList<Blit> Slices(int w, int h, TRect dest, int l, int t, int r, int b, TSuperStretchMode mode)
{
    RecordingGraphic g(w, h);
    QImage target(1, 1, QImage::Format_ARGB32);
    QPainter p(&target);
    DrawNineSlice(TBlendFunction(), p, g, dest, l, t, r, b, mode);
    return g.blits;
}

// A 30 x 30 opaque bitmap whose nine 10 x 10 pieces each have their own colour.
const QRgb kPiece[3][3] = {{0xFFFF0000, 0xFF00FF00, 0xFF0000FF},
                           {0xFFFFFF00, 0xFF00FFFF, 0xFFFF00FF},
                           {0xFF800000, 0xFF008000, 0xFF000080}};

std::unique_ptr<TBitmap> NinePieces()
{
    QImage image(30, 30, QImage::Format_RGB32);
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 30; ++x)
            image.setPixel(x, y, kPiece[y / 10][x / 10]);
    return TBitmap::FromImage(image);
}

QImage Canvas(int w, int h, QRgb fill = 0xFFFF00FF)
{
    QImage image(w, h, QImage::Format_ARGB32);
    image.fill(fill);
    return image;
}

} // namespace

TEST(NineSlice, PieceTableWithAllMargins)
{
    // 40 x 40 picture, margins L3 T4 R5 B6, into 100 x 80 at (10, 20).
    const QList<Blit> blits = Slices(40, 40, TRect::Bounds(10, 20, 100, 80), 3, 4, 5, 6, sdmStretch);
    const QList<Blit> expected = {
        B(10, 20, 3, 4, 0, 0, 3, 4),    B(13, 20, 92, 4, 3, 0, 32, 4),   B(105, 20, 5, 4, 35, 0, 5, 4),
        B(10, 24, 3, 70, 0, 4, 3, 30),  B(105, 24, 5, 70, 35, 4, 5, 30), B(10, 94, 3, 6, 0, 34, 3, 6),
        B(13, 94, 92, 6, 3, 34, 32, 6), B(105, 94, 5, 6, 35, 34, 5, 6),  B(13, 24, 92, 70, 3, 4, 32, 30),
    };
    EXPECT_EQ(blits, expected);
}

TEST(NineSlice, SameHeightGivesThreeHorizontalPieces)
{
    const QList<Blit> blits = Slices(30, 30, TRect::Bounds(0, 0, 100, 30), 10, 10, 10, 10, sdmStretch);
    const QList<Blit> expected = {B(0, 0, 10, 30, 0, 0, 10, 30), B(90, 0, 10, 30, 20, 0, 10, 30),
                                  B(10, 0, 80, 30, 10, 0, 10, 30)};
    EXPECT_EQ(blits, expected);
}

TEST(NineSlice, WithinOnePixelNoSlicingOnThatAxis)
{
    // Width 31 against 30: no left and right slices; height 60: top, middle and bottom rows.
    const QList<Blit> blits = Slices(30, 30, TRect::Bounds(0, 0, 31, 60), 10, 10, 10, 10, sdmStretch);
    const QList<Blit> expected = {B(0, 0, 31, 10, 0, 0, 30, 10), B(0, 50, 31, 10, 0, 20, 30, 10),
                                  B(0, 10, 31, 40, 0, 10, 30, 10)};
    EXPECT_EQ(blits, expected);
    EXPECT_EQ(Slices(30, 30, TRect::Bounds(0, 0, 29, 29), 10, 10, 10, 10, sdmStretch).size(), 1);
    EXPECT_EQ(Slices(30, 30, TRect::Bounds(0, 0, 32, 30), 10, 10, 10, 10, sdmStretch).size(), 3);
}

TEST(NineSlice, FrameSkipsCentreAndDefaultMeansStretch)
{
    const QList<Blit> frame = Slices(30, 30, TRect::Bounds(0, 0, 90, 90), 10, 10, 10, 10, sdmFrame);
    EXPECT_EQ(frame.size(), 8);
    for (const Blit& b : frame)
        EXPECT_FALSE(b.dest.intersects(QRect(10, 10, 70, 70)));
    EXPECT_EQ(Slices(30, 30, TRect::Bounds(0, 0, 90, 90), 10, 10, 10, 10, sdmDefault),
              Slices(30, 30, TRect::Bounds(0, 0, 90, 90), 10, 10, 10, 10, sdmStretch));
}

TEST(NineSlice, FillTilesOnlyPiecesAboveThreeByThree)
{
    // Middle column 3 pixels wide: the top edge, bottom edge and centre are stretched in one blit;
    // the left and right edges (10 x 10 pieces) are tiled down 40 pixels.
    const QList<Blit> blits = Slices(23, 30, TRect::Bounds(0, 0, 100, 60), 10, 10, 10, 10, sdmFill);
    EXPECT_TRUE(blits.contains(B(10, 0, 80, 10, 10, 0, 3, 10)));
    EXPECT_TRUE(blits.contains(B(10, 10, 80, 40, 10, 10, 3, 10)));
    int leftEdge = 0;
    for (const Blit& b : blits) {
        if (b.dest.x() == 0 && b.dest.y() >= 10 && b.dest.y() < 50) {
            ++leftEdge;
            EXPECT_EQ(b.dest.size(), b.source.size()) << "tiles are 1:1";
        }
    }
    EXPECT_EQ(leftEdge, 4);
    // Margins that overrun the picture give negative extents: those pieces are skipped.
    for (const Blit& b : Slices(10, 10, TRect::Bounds(0, 0, 50, 50), 8, 8, 8, 8, sdmStretch))
        EXPECT_TRUE(b.dest.width() > 0 && b.dest.height() > 0 && b.source.width() > 0 &&
                    b.source.height() > 0);
}

TEST(NineSlice, TileBlitColumnsThenRowsWithRemainders)
{
    QList<Blit> blits;
    QImage target(1, 1, QImage::Format_ARGB32);
    QPainter p(&target);
    TileBlit([&](int dx, int dy, int dw, int dh, int sx, int sy, int sw,
                 int sh) { blits.append(B(dx, dy, dw, dh, sx, sy, sw, sh)); },
             p, 5, 7, 25, 10, 2, 3, 10, 4);
    const QList<Blit> expected = {
        B(5, 7, 10, 4, 2, 3, 10, 4),  B(5, 11, 10, 4, 2, 3, 10, 4),  B(5, 15, 10, 2, 2, 3, 10, 2),
        B(15, 7, 10, 4, 2, 3, 10, 4), B(15, 11, 10, 4, 2, 3, 10, 4), B(15, 15, 10, 2, 2, 3, 10, 2),
        B(25, 7, 5, 4, 2, 3, 5, 4),   B(25, 11, 5, 4, 2, 3, 5, 4),   B(25, 15, 5, 2, 2, 3, 5, 2),
    };
    EXPECT_EQ(blits, expected);

    // An exact multiple: the last column and row are drawn whole by the remainder step.
    blits.clear();
    TileBlit([&](int dx, int dy, int dw, int dh, int sx, int sy, int sw,
                 int sh) { blits.append(B(dx, dy, dw, dh, sx, sy, sw, sh)); },
             p, 0, 0, 20, 4, 0, 0, 10, 4);
    EXPECT_EQ(blits, (QList<Blit>{B(0, 0, 10, 4, 0, 0, 10, 4), B(10, 0, 10, 4, 0, 0, 10, 4)}));
}

TEST(DrawDesignRect, EmptyRectangleStretchesOrTilesTheWholePicture)
{
    RecordingGraphic g(20, 20);
    TDesignRect rect;
    QImage target = Canvas(10, 10);
    QPainter p(&target);
    for (TSuperStretchMode mode : {sdmDefault, sdmStretch, sdmFrame}) {
        rect.SetStretchMode(mode);
        DrawDesignRect(&p, &g, TRect::Bounds(1, 2, 50, 60), &rect);
    }
    EXPECT_EQ(g.stretched.size(), 3) << "the canvas stretches the whole picture";
    EXPECT_TRUE(g.blits.isEmpty());

    rect.SetStretchMode(sdmFill);
    DrawDesignRect(&p, &g, TRect::Bounds(0, 0, 50, 30), &rect);
    EXPECT_EQ(g.blits.size(), 6) << "filled: 3 columns x 2 rows of 1:1 tiles";

    RecordingGraphic small(3, 3);
    DrawDesignRect(&p, &small, TRect::Bounds(0, 0, 50, 30), &rect);
    EXPECT_EQ(small.blits, (QList<Blit>{B(0, 0, 50, 30, 0, 0, 3, 3)})) << "3 x 3 is stretched, not tiled";
}

TEST(DrawDesignRect, NothingToDraw)
{
    RecordingGraphic zero(0, 5), g(10, 10);
    TDesignRect rect;
    rect.SetMargins(2, 2, 2, 2);
    QImage target = Canvas(10, 10);
    QPainter p(&target);
    DrawDesignRect(&p, nullptr, TRect::Bounds(0, 0, 5, 5), &rect);
    DrawDesignRect(&p, &zero, TRect::Bounds(0, 0, 5, 5), &rect);
    DrawDesignRect(nullptr, &g, TRect::Bounds(0, 0, 5, 5), &rect, nullptr);
    EXPECT_TRUE(zero.blits.isEmpty());
    EXPECT_TRUE(g.blits.isEmpty());
    DrawDesignRect(nullptr, &g, TRect::Bounds(0, 0, 30, 30), &rect, &p);
    EXPECT_EQ(g.blits.size(), 9) << "a device context alone is enough";
}

TEST(DrawDesignRect, PixelsOfAStretchedMiddle)
{
    auto bitmap = NinePieces();
    TDesignRect rect;
    rect.SetMargins(10, 10, 10, 10);
    QImage target = Canvas(100, 30);
    {
        QPainter p(&target);
        DrawDesignRect(&p, bitmap.get(), TRect::Bounds(0, 0, 100, 30), &rect);
    }
    EXPECT_EQ(target.pixel(0, 0), kPiece[0][0]);
    EXPECT_EQ(target.pixel(9, 15), kPiece[1][0]);
    EXPECT_EQ(target.pixel(10, 0), kPiece[0][1]);
    EXPECT_EQ(target.pixel(89, 29), kPiece[2][1]);
    EXPECT_EQ(target.pixel(50, 15), kPiece[1][1]);
    EXPECT_EQ(target.pixel(90, 0), kPiece[0][2]);
    EXPECT_EQ(target.pixel(99, 29), kPiece[2][2]);
}

TEST(DrawDesignRect, FrameLeavesTheCentreUntouched)
{
    auto bitmap = NinePieces();
    TDesignRect rect;
    rect.SetMargins(10, 10, 10, 10);
    rect.SetStretchMode(sdmFrame);
    const QRgb sentinel = 0xFF123456;
    QImage target = Canvas(80, 80, sentinel);
    {
        QPainter p(&target);
        DrawDesignRect(&p, bitmap.get(), TRect::Bounds(0, 0, 80, 80), &rect);
    }
    EXPECT_EQ(target.pixel(40, 40), sentinel);
    EXPECT_EQ(target.pixel(10, 10), sentinel);
    EXPECT_EQ(target.pixel(69, 69), sentinel);
    EXPECT_EQ(target.pixel(9, 9), kPiece[0][0]);
    EXPECT_EQ(target.pixel(40, 5), kPiece[0][1]);
    EXPECT_EQ(target.pixel(75, 40), kPiece[1][2]);
}

TEST(DrawDesignRect, FillTilesPixels)
{
    QImage image(4, 4, QImage::Format_RGB32);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            image.setPixel(x, y, qRgb(x * 60, y * 60, 0));
    auto bitmap = TBitmap::FromImage(image);
    TDesignRect rect;
    rect.SetStretchMode(sdmFill);
    QImage target = Canvas(10, 10);
    {
        QPainter p(&target);
        DrawDesignRect(&p, bitmap.get(), TRect::Bounds(0, 0, 10, 10), &rect);
    }
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 10; ++x)
            ASSERT_EQ(target.pixel(x, y), image.pixel(x % 4, y % 4)) << x << "," << y;
}

TEST(DrawDesignRect, ThirtyTwoBitBitmapWithIgnoredAlphaIsSwitchedAndBlended)
{
    QImage image(30, 30, QImage::Format_ARGB32);
    image.fill(qRgba(200, 100, 0, 128));
    auto bitmap = TBitmap::FromImage(image, afIgnored);
    ASSERT_EQ(bitmap->PixelFormat(), pf32bit);
    ASSERT_EQ(bitmap->AlphaFormat(), afIgnored);
    TDesignRect rect;
    rect.SetMargins(10, 10, 10, 10);
    QImage target = Canvas(60, 60, 0xFFFFFFFF);
    {
        QPainter p(&target);
        DrawDesignRect(&p, bitmap.get(), TRect::Bounds(0, 0, 60, 60), &rect);
    }
    EXPECT_EQ(bitmap->AlphaFormat(), afDefined) << "the caller's bitmap changed";
    const uchar* px = bitmap->ScanLine(0);
    EXPECT_EQ(px[2], (200 * 128 + 127) / 255) << "premultiplied red";
    EXPECT_EQ(px[3], 128);
    // Half-transparent orange over white.
    const QRgb blended = target.pixel(30, 30);
    EXPECT_NEAR(qRed(blended), 200 * 128 / 255 + 127, 2);
    EXPECT_NEAR(qGreen(blended), 100 * 128 / 255 + 127, 2);
    EXPECT_NEAR(qBlue(blended), 127, 2);
}

TEST(DrawDesignRect, TransparentColourAndPlainCopy)
{
    // A 24-bit bitmap whose bottom-left pixel colour (blue) is the transparent colour.
    QImage image(30, 30, QImage::Format_RGB32);
    image.fill(qRgb(0, 0, 255));
    image.setPixel(15, 15, qRgb(255, 0, 0));
    auto keyed = TBitmap::FromImage(image);
    keyed->SetTransparent(true);
    EXPECT_EQ(ColorToRGB(keyed->TransparentColor()), clBlue);
    auto plain = TBitmap::FromImage(image);

    TDesignRect rect;
    rect.SetMargins(5, 5, 5, 5);
    const QRgb sentinel = 0xFF00FF00;
    QImage a = Canvas(30, 30, sentinel), b = Canvas(30, 30, sentinel);
    {
        QPainter pa(&a), pb(&b);
        DrawDesignRect(&pa, keyed.get(), TRect::Bounds(0, 0, 30, 30), &rect);
        DrawDesignRect(&pb, plain.get(), TRect::Bounds(0, 0, 30, 30), &rect);
    }
    EXPECT_EQ(a.pixel(2, 2), sentinel);
    EXPECT_EQ(a.pixel(15, 15), qRgb(255, 0, 0));
    EXPECT_EQ(b.pixel(2, 2), qRgb(0, 0, 255));
    EXPECT_EQ(b.pixel(15, 15), qRgb(255, 0, 0));

    keyed->SetTransparentColor(clRed);
    QImage c = Canvas(30, 30, sentinel);
    {
        QPainter pc(&c);
        DrawDesignRect(&pc, keyed.get(), TRect::Bounds(0, 0, 30, 30), &rect);
    }
    EXPECT_EQ(c.pixel(15, 15), sentinel);
    EXPECT_EQ(c.pixel(2, 2), qRgb(0, 0, 255));
}

TEST(DrawDesignRect, OtherGraphicsGoThroughABitmap)
{
    QImage image(30, 30, QImage::Format_ARGB32);
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 30; ++x)
            image.setPixel(x, y, kPiece[y / 10][x / 10]);
    TImageGraphic graphic(image);
    TDesignRect rect;
    rect.SetMargins(10, 10, 10, 10);
    QImage target = Canvas(100, 100);
    {
        QPainter p(&target);
        DrawDesignRect(&p, &graphic, TRect::Bounds(0, 0, 100, 100), &rect);
    }
    EXPECT_EQ(target.pixel(5, 5), kPiece[0][0]);
    EXPECT_EQ(target.pixel(50, 50), kPiece[1][1]);
    EXPECT_EQ(target.pixel(95, 50), kPiece[1][2]);
    EXPECT_EQ(target.pixel(95, 95), kPiece[2][2]);
}

TEST(DrawDesignRect, PngPiecesBlendByAlphaAndOpacity)
{
    // A 30 x 30 PNG: opaque red frame, half-transparent blue centre.
    QImage image(30, 30, QImage::Format_ARGB32);
    image.fill(qRgba(255, 0, 0, 255));
    for (int y = 10; y < 20; ++y)
        for (int x = 10; x < 20; ++x)
            image.setPixel(x, y, qRgba(0, 0, 255, 128));
    TPngGraphic png;
    png.Png().Assign(image);
    TDesignRect rect;
    rect.SetMargins(10, 10, 10, 10);
    QImage target = Canvas(90, 60, 0xFFFFFFFF);
    {
        QPainter p(&target);
        DrawDesignRect(&p, &png, TRect::Bounds(0, 0, 90, 60), &rect);
    }
    EXPECT_EQ(target.pixel(85, 55), qRgb(255, 0, 0));
    EXPECT_EQ(target.pixel(45, 5), qRgb(255, 0, 0));
    const QRgb centre = target.pixel(45, 30);
    EXPECT_NEAR(qRed(centre), 127, 2) << "half blue over white";
    EXPECT_NEAR(qBlue(centre), 255, 1);

    // The image's opacity byte scales every piece.
    png.Png().SetOpacity(0);
    QImage untouched = Canvas(90, 60, 0xFF00FF00);
    {
        QPainter p(&untouched);
        DrawDesignRect(&p, &png, TRect::Bounds(0, 0, 90, 60), &rect);
    }
    EXPECT_EQ(untouched.pixel(5, 5), 0xFF00FF00u);
    png.Png().SetOpacity(128);
    QImage half = Canvas(90, 60, 0xFFFFFFFF);
    {
        QPainter p(&half);
        DrawDesignRect(&p, &png, TRect::Bounds(0, 0, 90, 60), &rect);
    }
    EXPECT_NEAR(qGreen(half.pixel(5, 5)), 127, 2);
    EXPECT_EQ(qRed(half.pixel(5, 5)), 255);
}
