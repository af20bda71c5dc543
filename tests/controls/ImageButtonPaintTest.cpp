#include "ButtonTestSupport.h"
#include "support/TempDir.h"

#include <QFile>
#include <QSignalSpy>
#include <gtest/gtest.h>

using namespace controls;
using namespace buttontest;

namespace {

const QRgb kGrey = 0xFF808080;

QFont TestFont(int pixels = 14, bool bold = false)
{
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(pixels);
    font.setBold(bold);
    return font;
}

int LineHeight(const QFont& font)
{
    return QFontMetrics(font).height();
}

bool IsWhite(QRgb c)
{
    return qRed(c) > 230 && qGreen(c) > 230 && qBlue(c) > 230;
}

// A step marker as the main window's form data makes it.
void MakeStepMarker(TRdImageButton& b, const QString& caption)
{
    b.Loading();
    b.SetBounds(0, 0, 30, 30);
    b.setProperty("Caption", caption);
    b.setProperty("Font", TestFont(14, true));
    b.setProperty("FontColor", clWhite);
    TPicture picture;
    picture.LoadFromFile(StepMarkerPath());
    b.setProperty("ImageNormal", QVariant::fromValue(&picture));
    b.Loaded();
}

} // namespace

TEST(ImageButtonPaint, StepMarkerShowsItsPictureStretchedAndTheNumberCentredInWhite)
{
    ASSERT_TRUE(QFile::exists(StepMarkerPath())) << StepMarkerPath().toStdString();
    TRdImageButton b;
    MakeStepMarker(b, "1");
    const QImage image = Render(b, kGrey);

    QImage picture(StepMarkerPath());
    picture = picture.convertToFormat(QImage::Format_ARGB32);
    // Transparent corners of the picture show the parent; opaque parts show the picture's colours.
    EXPECT_EQ(image.pixel(0, 0), kGrey);
    EXPECT_EQ(image.pixel(29, 29), kGrey);
    EXPECT_TRUE(Near(image.pixel(15, 3), picture.pixel(15, 3), 2));
    EXPECT_TRUE(Near(image.pixel(3, 15), picture.pixel(3, 15), 2));

    const QRect text = Where(image, IsWhite);
    ASSERT_FALSE(text.isNull()) << "the caption is drawn in white";
    EXPECT_NEAR(text.center().x(), 14.5, 2.0);
    EXPECT_NEAR(text.center().y(), 14.5, 2.5);
    EXPECT_GE(text.height(), 8);
    EXPECT_EQ(b.TextRect().Width(), text.width() + (b.TextRect().Width() - text.width()))
        << "caption box set";
    EXPECT_FALSE(b.FoundTextEllipsis());
    EXPECT_FALSE(b.FoundTextWordBreak());

    // The bold caption is heavier than a regular one.
    TRdImageButton regular;
    MakeStepMarker(regular, "1");
    regular.setFont(TestFont(14, false));
    const QImage thin = Render(regular, kGrey);
    int boldInk = 0, thinInk = 0;
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 30; ++x) {
            boldInk += IsWhite(image.pixel(x, y));
            thinInk += IsWhite(thin.pixel(x, y));
        }
    EXPECT_GT(boldInk, thinInk);
}

TEST(ImageButtonPaint, StepMarkerArtefact)
{
    QWidget form;
    form.setAutoFillBackground(true);
    QPalette palette = form.palette();
    palette.setColor(QPalette::Window, QColor(0xF0, 0xF0, 0xF0));
    form.setPalette(palette);
    form.resize(130, 50);
    for (int i = 0; i < 3; ++i) {
        auto marker = new TRdImageButton(&form);
        MakeStepMarker(*marker, QString::number(i + 1));
        marker->SetBounds(10 + 40 * i, 10, 30, 30);
    }
    QImage shot(form.size(), QImage::Format_ARGB32);
    form.render(&shot);
    const QString path = testsupport::ArtifactDir() + "/step_markers.png";
    ASSERT_TRUE(shot.save(path));
    // The markers really are in the picture: blue-ish centres with white digits, light grey between.
    for (int i = 0; i < 3; ++i) {
        const QRect cell(10 + 40 * i, 10, 30, 30);
        EXPECT_FALSE(Where(shot.copy(cell), IsWhite).isNull()) << i;
        EXPECT_GT(qBlue(shot.pixel(cell.left() + 4, cell.center().y())), 150) << i;
    }
    EXPECT_EQ(shot.pixel(5, 5), qRgb(0xF0, 0xF0, 0xF0));
}

TEST(ImageButtonPaint, BackgroundByState)
{
    const QRgb normal = 0xFF0000FF, down = 0xFFFF0000, over = 0xFF00FF00, selected = 0xFFFFFF00,
               disabled = 0xFF404040, expand = 0xFF00FFFF;
    TRdImageButton b;
    b.SetBounds(0, 0, 20, 20);
    b.SetImageNormal(PngPicture(&b, 20, 20, normal));
    b.SetImageDown(PngPicture(&b, 20, 20, down));
    b.SetImageOver(PngPicture(&b, 20, 20, over));
    b.SetImageSelected(PngPicture(&b, 20, 20, selected));
    b.SetImageDisabled(PngPicture(&b, 20, 20, disabled));
    b.SetExpandImage(PngPicture(&b, 20, 20, expand));
    auto background = [&] { return Render(b).pixel(2, 2); };

    EXPECT_EQ(background(), normal);
    b.SetHover(true);
    EXPECT_EQ(background(), over);
    b.SetButtonState(TImageButtonState::Pressed);
    EXPECT_EQ(background(), down);
    b.SetHover(false);
    EXPECT_EQ(background(), normal) << "pressed, but the mouse has left";
    b.SetButtonState(TImageButtonState::Selected);
    b.SetHover(true);
    EXPECT_EQ(background(), selected) << "a hovered selected button shows its selected picture";
    b.SetHover(false);
    b.SetButtonState(TImageButtonState::Normal);
    b.SetExpand(true);
    EXPECT_EQ(background(), expand);
    b.setEnabled(false);
    EXPECT_EQ(b.ButtonState(), TImageButtonState::Disabled);
    EXPECT_EQ(background(), disabled);
    b.SetHover(true);
    EXPECT_EQ(background(), disabled) << "no hover picture on a disabled button";
}

TEST(ImageButtonPaint, CaptionColourByState)
{
    TRdImageButton b;
    b.SetBounds(0, 0, 60, 30);
    b.setFont(TestFont(20, true));
    b.SetCaption("W");
    b.SetFontColor(clBlack);
    auto hasInk = [&](QRgb colour) {
        const QImage image = Render(b, 0xFFFFFFFF);
        return !Where(image, [&](QRgb c) { return Near(c, colour, 40); }).isNull();
    };
    EXPECT_TRUE(hasInk(0xFF000000));
    b.SetFontHoverColor(clRed);
    b.SetFontDownColor(clLime);
    b.SetFontSelectedColor(clBlue);
    EXPECT_TRUE(hasInk(0xFF000000)) << "hover colour only while hovered";
    b.SetHover(true);
    EXPECT_TRUE(hasInk(0xFFFF0000));
    b.SetButtonState(TImageButtonState::Pressed);
    EXPECT_TRUE(hasInk(0xFF00FF00));
    b.SetHover(false);
    EXPECT_TRUE(hasInk(0xFF00FF00)) << "a pressed button keeps the down colour after the mouse left";
    b.SetButtonState(TImageButtonState::Selected);
    EXPECT_TRUE(hasInk(0xFF0000FF));
    b.SetButtonState(TImageButtonState::Normal);
    b.setEnabled(false);
    EXPECT_TRUE(hasInk(0xFF696969)) << "disabled: the dark 3-D shadow colour";
    b.SetFontDisabledColor(clDefault);
    EXPECT_TRUE(hasInk(0xFF000000)) << "clDefault keeps the font colour";
}

TEST(ImageButtonPaint, FrameDesignRectOverStretchedBackground)
{
    TRdImageButton b;
    b.SetBounds(0, 0, 80, 40);
    // A 30 x 30 picture with a red 10-pixel frame around a green centre.
    QImage image(30, 30, QImage::Format_ARGB32);
    image.fill(Qt::red);
    for (int y = 10; y < 20; ++y)
        for (int x = 10; x < 20; ++x)
            image.setPixel(x, y, qRgb(0, 255, 0));
    TPicture picture;
    picture.SetGraphic(TBitmap::FromImage(image));
    b.SetImageNormal(&picture);
    b.ImageOption()->SetEmpty(false);
    b.ImageOption()->SetStretchMode(sdmFrame);
    const QImage out = Render(b, kGrey);
    EXPECT_EQ(out.pixel(5, 5), qRgb(255, 0, 0));
    EXPECT_EQ(out.pixel(40, 5), qRgb(255, 0, 0));
    EXPECT_EQ(out.pixel(40, 20), kGrey) << "the frame mode leaves the centre alone";
}

TEST(ImageButtonPaint, RangeMaskFollowsTheControlSize)
{
    TRdImageButton b;
    b.SetBounds(0, 0, 40, 20);
    QImage range(10, 10, QImage::Format_ARGB32);
    range.fill(Qt::transparent);
    for (int y = 3; y < 7; ++y)
        for (int x = 3; x < 7; ++x)
            range.setPixel(x, y, qRgb(255, 255, 255));
    TPicture picture;
    picture.SetGraphic(TBitmap::FromImage(range));
    b.SetImageRange(&picture);
    Render(b);
    EXPECT_EQ(b.RangeMask().Width(), 1) << "no mask while the design rectangle is empty";

    b.ImageOption()->SetMargins(3, 3, 3, 3);
    Render(b);
    const imaging::TPngImage& mask = b.RangeMask().Png();
    ASSERT_EQ(mask.Size(), QSize(40, 20));
    EXPECT_EQ(mask.Pixel(0, 0) & 0xFFFFFF, 0u) << "black where the range is transparent";
    EXPECT_EQ(mask.Pixel(20, 10) & 0xFFFFFF, 0xFFFFFFu) << "white where it is opaque";

    // A new range picture of the same control size does not rebuild the mask.
    range.fill(qRgb(255, 255, 255));
    picture.SetGraphic(TBitmap::FromImage(range));
    b.SetImageRange(&picture);
    Render(b);
    EXPECT_EQ(b.RangeMask().Png().Pixel(0, 0) & 0xFFFFFF, 0u);
    b.SetBounds(0, 0, 41, 20);
    Render(b);
    EXPECT_EQ(b.RangeMask().Png().Size(), QSize(41, 20));
    EXPECT_EQ(b.RangeMask().Png().Pixel(0, 0) & 0xFFFFFF, 0xFFFFFFu);
}

TEST(ImageButtonPaint, CaptionPlacementInTheTextArea)
{
    TRdImageButton b;
    b.SetBounds(0, 0, 200, 30);
    b.setFont(TestFont());
    b.SetFontColor(clBlack);
    b.SetCaption("Text");
    auto ink = [&] { return Where(Render(b, 0xFFFFFFFF), [](QRgb c) { return qGray(c) < 128; }); };

    const QRect centred = ink();
    EXPECT_NEAR(centred.center().x(), 100, 3);

    // Left-justified: the caption box spans the text area from TextOffset; TextWarpAlign places
    // the text inside it.
    b.SetButtonCaptionAlignment(taLeftJustify);
    EXPECT_NEAR(ink().left(), 20, 2);
    EXPECT_EQ(b.TextRect().Left, 20);
    b.SetTextWarpAlign(taRightJustify);
    EXPECT_NEAR(ink().right(), 199, 2);
    b.SetTextWarpAlign(taCenter);
    EXPECT_NEAR(ink().center().x(), 110, 3);

    b.SetTextWarpAlign(taLeftJustify);
    b.SetButtonCaptionAlignment(taRightJustify);
    EXPECT_NEAR(ink().right(), 180, 2) << "right-justified, TextOffset from the right edge";

    // Margins push the caption back inside.
    b.SetButtonCaptionAlignment(taCenter);
    b.SetTextLeftMargin(150);
    EXPECT_GE(ink().left(), 150);
    b.SetTextLeftMargin(0);
    b.SetTextTopOffset(6);
    EXPECT_NEAR(ink().center().y(), centred.center().y() + 6, 1);
}

TEST(ImageButtonPaint, EllipsisAndWordBreakFlags)
{
    TRdImageButton b;
    b.setFont(TestFont());
    b.SetIconVisible(false);
    b.SetBounds(0, 0, 60, 30);
    b.SetCaption("A single line that does not fit");
    Render(b);
    EXPECT_TRUE(b.FoundTextEllipsis());
    EXPECT_FALSE(b.FoundTextWordBreak());
    b.SetBounds(0, 0, 400, 30);
    Render(b);
    EXPECT_FALSE(b.FoundTextEllipsis());

    b.SetWordWrap(true);
    b.SetBounds(0, 0, 80, 60);
    Render(b);
    EXPECT_TRUE(b.FoundTextWordBreak());
    EXPECT_FALSE(b.FoundTextEllipsis()) << "without EllipsisByHeight a wrapped caption is not flagged";
}

TEST(ImageButtonPaint, EllipsisByHeightKeepsWholeLinesCentred)
{
    TRdImageButton b;
    const QFont font = TestFont();
    const int L = LineHeight(font);
    b.setFont(font);
    b.SetFontColor(clBlack);
    b.SetIconVisible(false);
    b.SetWordWrap(true);
    b.SetEllipsisByHeight(true);
    b.SetBounds(0, 0, 200, 2 * L + L / 2);
    b.SetCaption("one\ntwo\nthree\nfour\nfive");
    const QImage image = Render(b, 0xFFFFFFFF);
    EXPECT_TRUE(b.FoundTextEllipsis());
    const int top = (b.height() - 2 * L) / 2;
    EXPECT_EQ(b.TextRect().Top, top) << "two whole lines, centred";
    const QRect ink = Where(image, [](QRgb c) { return qGray(c) < 160; });
    EXPECT_GE(ink.top(), top);
    EXPECT_LT(ink.bottom(), top + 2 * L);

    // A control lower than one line still shows one line, moved down to the top of the text area.
    b.SetBounds(0, 0, 200, L / 2);
    EXPECT_FALSE(Where(Render(b, 0xFFFFFFFF), [](QRgb c) { return qGray(c) < 160; }).isNull());
    EXPECT_TRUE(b.FoundTextEllipsis());
    EXPECT_EQ(b.TextRect().Top, 0);

    // Enough room: no ellipsis.
    b.SetBounds(0, 0, 200, 6 * L);
    Render(b);
    EXPECT_FALSE(b.FoundTextEllipsis());
}

TEST(ImageButtonPaint, IconPlacementAndGreyCopyWhenDisabled)
{
    TRdImageButton b;
    b.SetBounds(0, 0, 100, 40);
    b.SetDnNormalIcon(PngPicture(&b, 10, 10, 0xFFFF0000));
    b.SetDnHoverIcon(PngPicture(&b, 10, 10, 0xFF00FF00));
    b.SetUpNormalIcon(PngPicture(&b, 10, 10, 0xFF0000FF));
    // Right-aligned, IconOffset 10, vertically centred.
    EXPECT_EQ(b.CalcIconRect(10, 10), (TRect{80, 15, 90, 25}));
    EXPECT_EQ(Render(b).pixel(85, 20), qRgb(255, 0, 0));
    b.SetIconState(TIconState::Hover);
    EXPECT_EQ(Render(b).pixel(85, 20), qRgb(0, 255, 0));
    b.SetIconState(TIconState::Down);
    EXPECT_EQ(Render(b).pixel(85, 20), qRgb(255, 0, 0)) << "no Down icon: the normal one";
    b.SetIconState(TIconState::Normal);
    b.SetExpand(true);
    EXPECT_EQ(Render(b).pixel(85, 20), qRgb(0, 0, 255)) << "expanded: the Up set";
    b.SetExpand(false);

    b.setEnabled(false);
    const QRgb grey = Render(b).pixel(85, 20);
    EXPECT_EQ(qRed(grey), 77 * 255 >> 8);
    EXPECT_EQ(qGreen(grey), qRed(grey));
    EXPECT_EQ(qBlue(grey), qRed(grey));
    b.SetDnDisableIcon(PngPicture(&b, 10, 10, 0xFFFFFF00));
    EXPECT_EQ(Render(b).pixel(85, 20), qRgb(255, 255, 0));

    b.SetIconAlign(taLeftJustify);
    b.SetIconAlignY(taAlignTop);
    b.SetIconOffsetY(3);
    EXPECT_EQ(b.CalcIconRect(10, 10), (TRect{10, 3, 20, 13}));
    b.SetIconAlign(taCenter);
    b.SetIconAlignY(taAlignBottom);
    EXPECT_EQ(b.CalcIconRect(10, 10), (TRect{55, 27, 65, 37}));
    b.SetIconVisible(false);
    EXPECT_EQ(b.CalcIconRect(10, 10), TRect{});
    EXPECT_EQ(Render(b).pixel(60, 32), kGrey);
}

TEST(ImageButtonPaint, IconPullsTheCaptionAside)
{
    TRdImageButton b;
    b.SetBounds(0, 0, 120, 30);
    b.setFont(TestFont());
    b.SetFontColor(clBlack);
    b.SetCaption("Caption text");
    b.SetButtonCaptionAlignment(taLeftJustify);
    b.SetTextOffset(5);
    b.SetIconAlign(taLeftJustify);
    b.SetDnNormalIcon(PngPicture(&b, 16, 16, 0xFFFF0000));
    // The icon spans 10..26; the caption starts TextOffset after it.
    EXPECT_EQ(b.TextRect().Left, 0);
    Render(b);
    EXPECT_EQ(b.TextRect().Left, 31);
}

TEST(ImageButtonPaint, CheckBoxPicturesAndPlacement)
{
    TRdImageButton b;
    b.SetBounds(0, 0, 100, 60);
    b.setFont(TestFont());
    b.SetCaption("Caption");
    b.SetIconVisible(false);
    b.SetShowCheckBox(true);
    b.SetCheckBoxNormalImage(PngPicture(&b, 8, 8, 0xFF00FF00));
    b.SetCheckBoxCheckedImage(PngPicture(&b, 8, 8, 0xFFFF0000));
    b.SetCheckBoxGrayedImage(PngPicture(&b, 8, 8, 0xFF0000FF));
    auto boxAt = [&](QRgb colour) { return Where(Render(b), [&](QRgb c) { return c == colour; }); };

    EXPECT_EQ(boxAt(0xFF00FF00), QRect(10, 26, 8, 8)) << "left, CheckBoxOffset 10, centred vertically";
    b.SetCheckBoxAlignY(taAlignTop);
    Render(b);
    ASSERT_GT(b.TextRect().Top, 5);
    EXPECT_EQ(boxAt(0xFF00FF00).top(), b.TextRect().Top) << "follows the caption's top";
    b.SetCheckBoxOffsetY(2);
    EXPECT_EQ(boxAt(0xFF00FF00).top(), b.TextRect().Top + 2);
    b.SetCheckBoxAlignY(taAlignBottom);
    EXPECT_EQ(boxAt(0xFF00FF00).bottom() + 1, b.TextRect().Bottom - 2);
    b.SetCheckBoxAlignX(taRightJustify);
    EXPECT_EQ(boxAt(0xFF00FF00).left(), 100 - 8 - 10);

    b.SetChecked(true);
    EXPECT_FALSE(boxAt(0xFFFF0000).isNull());
    b.SetCheckState(cbGrayed);
    EXPECT_FALSE(boxAt(0xFF0000FF).isNull());
    b.setEnabled(false);
    b.SetCheckState(cbChecked);
    EXPECT_FALSE(boxAt(0xFFFF0000).isNull()) << "no checked-grayed picture: the checked one";
    b.SetCheckState(cbUnchecked);
    EXPECT_FALSE(boxAt(0xFF0000FF).isNull()) << "disabled and unchecked: the grayed picture";
    b.SetShowCheckBox(false);
    EXPECT_TRUE(boxAt(0xFF0000FF).isNull());
}

TEST(ImageButtonPaint, EventsAndDesignTimeOutline)
{
    TRdImageButton b;
    b.SetBounds(0, 0, 20, 10);
    QStringList order;
    QObject::connect(&b, &TRdImageButton::OnPaintImage, [&](QObject* s) {
        EXPECT_EQ(s, &b);
        order << "image";
    });
    QObject::connect(&b, &TRdImageButton::OnPaintEnd, [&](QObject*) { order << "end"; });
    QImage out = Render(b, 0xFFFFFFFF);
    EXPECT_EQ(order, (QStringList{"image", "end"}));
    EXPECT_EQ(out.pixel(0, 0), 0xFFFFFFFFu) << "no outline at run time";

    b.SetDesigning(true);
    out = Render(b, 0xFFFFFFFF);
    EXPECT_EQ(out.pixel(0, 0), 0xFF000000u) << "inverted dashed outline";
    EXPECT_EQ(out.pixel(10, 5), 0xFFFFFFFFu);
    b.SetImageNormal(PngPicture(&b, 5, 5, 0x00000000));
    out = Render(b, 0xFFFFFFFF);
    EXPECT_EQ(out.pixel(0, 0), 0xFFFFFFFFu) << "no outline once there is a picture";

    order.clear();
    b.SetCaption("changed");
    EXPECT_TRUE(order.isEmpty()) << "the measure pass fires no paint events";
}
