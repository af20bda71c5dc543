#include "platform/DrawText.h"

#include <QImage>
#include <QPainter>
#include <gtest/gtest.h>

using namespace platform;

namespace {

// A white page with black 14-pixel text, as a button's canvas would have it.
struct Page
{
    QImage image;
    QPainter painter;

    explicit Page(int w = 300, int h = 200) : image(w, h, QImage::Format_ARGB32)
    {
        image.fill(Qt::white);
        painter.begin(&image);
        QFont font(QStringLiteral("DejaVu Sans"));
        font.setPixelSize(14);
        painter.setFont(font);
        painter.setPen(Qt::black);
    }
    int LineHeight() { return TextHeight(painter, QStringLiteral("`ghj_")); }
    const QImage& Done()
    {
        painter.end();
        return image;
    }
};

// Bounding box of everything that is not white, inside `area`.
QRect Ink(const QImage& image, QRect area = {})
{
    if (area.isNull())
        area = image.rect();
    QRect box;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (qGray(image.pixel(x, y)) < 160)
                box |= QRect(x, y, 1, 1);
    return box;
}

int Measure(const QString& text, unsigned format, TRect& rect)
{
    Page page;
    return DrawText(page.painter, text, rect, format | DT_CALCRECT);
}

} // namespace

TEST(DrawText, CalcRectMeasuresOneLineAndDrawsNothing)
{
    Page page;
    const int lh = page.LineHeight();
    ASSERT_GT(lh, 10);
    TRect r{10, 20, 200, 25};
    EXPECT_EQ(DrawText(page.painter, "Hello", r, DT_SINGLELINE | DT_CALCRECT), lh);
    EXPECT_EQ(r.Left, 10);
    EXPECT_EQ(r.Top, 20);
    EXPECT_EQ(r.Bottom, 20 + lh);
    EXPECT_GT(r.Width(), 20);
    EXPECT_LT(r.Width(), 60) << "the right side bounds the text, not the old rectangle";
    EXPECT_TRUE(Ink(page.Done()).isNull()) << "calculate-rectangle must not draw";
}

TEST(DrawText, EmptyTextReturnsOneLineHeight)
{
    Page page;
    const int lh = page.LineHeight();
    TRect single{5, 5, 100, 100};
    EXPECT_EQ(DrawText(page.painter, "", single, DT_SINGLELINE | DT_CALCRECT), lh);
    EXPECT_EQ(single, (TRect{5, 5, 5, 5 + lh}));
    TRect multi{5, 5, 100, 100};
    DrawText(page.painter, "", multi, DT_WORDBREAK | DT_CALCRECT);
    EXPECT_EQ(multi, (TRect{5, 5, 5, 5}));
    EXPECT_EQ(TextHeight(page.painter, ""), 0);
}

TEST(DrawText, AcceleratorPrefixes)
{
    TRect withPrefix{0, 0, 300, 0}, plain{0, 0, 300, 0}, literal{0, 0, 300, 0}, doubled{0, 0, 300, 0};
    Measure("&File", DT_SINGLELINE, withPrefix);
    Measure("File", DT_SINGLELINE, plain);
    EXPECT_EQ(withPrefix.Width(), plain.Width()) << "the & is not shown";
    Measure("&File", DT_SINGLELINE | DT_NOPREFIX, literal);
    EXPECT_GT(literal.Width(), plain.Width()) << "no-prefix shows the &";
    Measure("a&&b", DT_SINGLELINE, doubled);
    TRect shown{0, 0, 300, 0};
    Measure("a&b", DT_SINGLELINE | DT_NOPREFIX, shown);
    EXPECT_EQ(doubled.Width(), shown.Width()) << "&& shows one &";

    // The accelerator character is underlined: ink appears below the baseline of a "W".
    Page underlined, bare;
    TRect a{10, 10, 200, 60}, b{10, 10, 200, 60};
    DrawText(underlined.painter, "&W", a, DT_SINGLELINE);
    DrawText(bare.painter, "W", b, DT_SINGLELINE);
    const QRect inkU = Ink(underlined.Done()), inkB = Ink(bare.Done());
    ASSERT_FALSE(inkB.isNull());
    EXPECT_GT(inkU.bottom(), inkB.bottom());
    EXPECT_EQ(Ink(underlined.image, QRect(0, 0, 300, inkB.bottom() + 1)), inkB)
        << "the letter itself is the same";
}

TEST(DrawText, LineBreaksAndWordBreak)
{
    Page page;
    const int lh = page.LineHeight();
    TRect single{0, 0, 300, 0};
    EXPECT_EQ(DrawText(page.painter, "one\r\ntwo", single, DT_SINGLELINE | DT_CALCRECT), lh)
        << "a single line ignores line breaks";
    TRect multi{0, 0, 300, 0};
    EXPECT_EQ(DrawText(page.painter, "one\r\ntwo\nthree", multi, DT_CALCRECT), 3 * lh);

    TRect wrapped{0, 0, 60, 0};
    const int h = DrawText(page.painter, "one two three four", wrapped, DT_WORDBREAK | DT_CALCRECT);
    EXPECT_GE(h, 2 * lh);
    EXPECT_EQ(h % lh, 0);
    EXPECT_EQ(wrapped.Height(), h);
    EXPECT_LE(wrapped.Width(), 60) << "wrapped lines fit and the width shrinks to the widest";

    // A word longer than the line: kept whole (and the width grows) unless edit-control rules apply.
    TRect longWord{0, 0, 40, 0};
    DrawText(page.painter, "Incomprehensibilities", longWord, DT_WORDBREAK | DT_CALCRECT);
    EXPECT_GT(longWord.Width(), 40);
    EXPECT_EQ(longWord.Height(), lh);
    TRect broken{0, 0, 40, 0};
    DrawText(page.painter, "Incomprehensibilities", broken, DT_WORDBREAK | DT_EDITCONTROL | DT_CALCRECT);
    EXPECT_LE(broken.Width(), 40);
    EXPECT_GT(broken.Height(), lh);
}

TEST(DrawText, EditControlLeavesOutPartlyVisibleLastLine)
{
    const QString text = "first\nsecond\nthird";
    Page edit, plain;
    const int lh = edit.LineHeight();
    // Room for two whole lines and half of the third.
    TRect r1{0, 0, 200, 2 * lh + lh / 2}, r2 = r1;
    EXPECT_EQ(DrawText(edit.painter, text, r1, DT_WORDBREAK | DT_EDITCONTROL), 2 * lh);
    EXPECT_EQ(DrawText(plain.painter, text, r2, DT_WORDBREAK), 3 * lh);
    const QRect thirdLine(0, 2 * lh, 200, lh / 2);
    EXPECT_TRUE(Ink(edit.Done(), thirdLine).isNull());
    EXPECT_FALSE(Ink(plain.Done(), thirdLine).isNull()) << "without edit-control the cut line shows";
    EXPECT_TRUE(Ink(plain.image, QRect(0, 2 * lh + lh / 2, 200, 40)).isNull()) << "clipped at the bottom";

    // Even when no whole line fits, the first line is drawn.
    Page tiny;
    TRect r3{0, 0, 200, lh / 2};
    EXPECT_EQ(DrawText(tiny.painter, text, r3, DT_WORDBREAK | DT_EDITCONTROL), lh);
    EXPECT_FALSE(Ink(tiny.Done()).isNull());
}

TEST(DrawText, EndEllipsis)
{
    const QString text = "A caption that is far too long for its box";
    TRect cut{0, 0, 80, 0}, full{0, 0, 80, 0};
    Measure(text, DT_SINGLELINE | DT_END_ELLIPSIS, cut);
    Measure(text, DT_SINGLELINE, full);
    EXPECT_LE(cut.Width(), 80);
    EXPECT_GT(full.Width(), 80);

    // Drawn with the ellipsis, the text ends inside the box; clipped without, it runs to the edge.
    Page a, b;
    TRect ra{0, 0, 80, 30}, rb = ra;
    DrawText(a.painter, text, ra, DT_SINGLELINE | DT_END_ELLIPSIS);
    DrawText(b.painter, text, rb, DT_SINGLELINE);
    EXPECT_LE(Ink(a.Done()).right(), 79);
    EXPECT_NE(a.image, b.Done());

    // Wrapped text cut off below: the last shown line ends in the ellipsis.
    Page c, d;
    const int lh = c.LineHeight();
    TRect rc{0, 0, 120, 2 * lh}, rd = rc;
    EXPECT_EQ(DrawText(c.painter, text, rc, DT_WORDBREAK | DT_EDITCONTROL | DT_END_ELLIPSIS), 2 * lh);
    DrawText(d.painter, text, rd, DT_WORDBREAK | DT_EDITCONTROL);
    const QRect first(0, 0, 120, lh), second(0, lh, 120, lh);
    c.Done();
    d.Done();
    EXPECT_EQ(c.image.copy(first), d.image.copy(first)) << "lines above the cut are unchanged";
    EXPECT_NE(c.image.copy(second), d.image.copy(second));
}

TEST(DrawText, ClippingAndNoClip)
{
    Page clipped, free;
    TRect r1{10, 10, 40, 40}, r2 = r1;
    DrawText(clipped.painter, "Wide wide text", r1, DT_SINGLELINE);
    DrawText(free.painter, "Wide wide text", r2, DT_SINGLELINE | DT_NOCLIP);
    EXPECT_LE(Ink(clipped.Done()).right(), 39);
    EXPECT_GT(Ink(free.Done()).right(), 60);
}

TEST(DrawText, HorizontalAlignment)
{
    auto inkOf = [](unsigned align) {
        Page page;
        TRect r{20, 10, 220, 40};
        DrawText(page.painter, "Mid", r, DT_SINGLELINE | align);
        return Ink(page.Done());
    };
    const QRect left = inkOf(DT_LEFT), centre = inkOf(DT_CENTER), right = inkOf(DT_RIGHT);
    EXPECT_LE(left.left(), 22);
    EXPECT_GE(right.right(), 216);
    EXPECT_LE(right.right(), 219);
    const int leftGap = centre.left() - 20, rightGap = 219 - centre.right();
    EXPECT_LE(std::abs(leftGap - rightGap), 3);
    EXPECT_EQ(left.width(), centre.width());
    EXPECT_EQ(left.width(), right.width());
}
