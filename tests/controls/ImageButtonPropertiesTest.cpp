#include "ButtonTestSupport.h"
#include "imaging/TPngImageDataList.h"
#include "platform/Exception.h"

#include <QMetaProperty>
#include <QResizeEvent>
#include <QSignalSpy>
#include <gtest/gtest.h>

using namespace controls;
using namespace buttontest;

TEST(ImageButtonProperties, DefaultsAsPublished)
{
    QWidget form;
    TRdImageButton b(&form);
    const QList<std::pair<const char*, QVariant>> expected = {
        {"FoundTextEllipsis", false},
        {"FoundTextWordBreak", false},
        {"AutoSize", false},
        {"EllipsisByHeight", false},
        {"AutoSizeByText", false},
        {"ShowAccelChar", true},
        {"AutoShowHint", false},
        {"FontDisabledColor", -16777195},
        {"FontHoverColor", 536870912},
        {"FontSelectedColor", clDefault},
        {"FontDownColor", clDefault},
        {"Caption", QString()},
        {"Expand", false},
        {"Enabled", true},
        {"TextLeftMargin", 0},
        {"TextRightMargin", 0},
        {"TextTopMargin", 0},
        {"TextOffset", 20},
        {"IconOffset", 10},
        {"IconOffsetY", 0},
        {"TextTopOffset", 0},
        {"IconVisible", true},
        {"IconCursor", 0},
        {"IconLockBySelected", true},
        {"IconFullClick", false},
        {"ShowCheckBox", false},
        {"Checked", false},
        {"CheckBoxCursor", 0},
        {"CheckBoxFullClick", true},
        {"CheckBoxOffset", 10},
        {"CheckBoxOffsetY", 0},
        {"SubCaption", QString()},
        {"SubCaptionOffset", 50},
        {"SubCaptionData", QString()},
        {"WordWrap", false},
    };
    for (const auto& [name, value] : expected)
        EXPECT_EQ(b.property(name), value) << name;
    EXPECT_EQ(b.ButtonCaptionAlignment(), taCenter);
    EXPECT_EQ(b.IconAlign(), taRightJustify);
    EXPECT_EQ(b.IconAlignY(), taVerticalCenter);
    EXPECT_EQ(b.CheckState(), cbUnchecked);
    EXPECT_EQ(b.CheckBoxAlignX(), taLeftJustify);
    EXPECT_EQ(b.CheckBoxAlignY(), taVerticalCenter);
    EXPECT_EQ(b.TextWarpAlign(), taLeftJustify);
    EXPECT_TRUE(b.ImageOption()->Empty());
    EXPECT_EQ(b.ImageOption()->StretchMode(), sdmDefault);
    EXPECT_FALSE(b.ImageNormal()->HasGraphic());
    EXPECT_EQ(b.ButtonState(), TImageButtonState::Normal);
    EXPECT_EQ(b.IconState(), TIconState::Normal);
    EXPECT_EQ(b.RangeMask().Width(), 1);
    EXPECT_EQ(b.RangeMask().Png().ColorType(), imaging::PngColorType::Rgb);
    EXPECT_EQ(b.size(), QSize(0, 0)) << "no default size";
    for (int i = QWidget::staticMetaObject.propertyCount(); i < b.metaObject()->propertyCount(); ++i) {
        const char* name = b.metaObject()->property(i).name();
        EXPECT_FALSE(b.IsPropertyStored(name)) << name << " is stored at its default";
    }
}

TEST(ImageButtonProperties, FormDataSetsPropertiesByName)
{
    QWidget form;
    TRdImageButton b(&form);
    TPicture* picture = PngPicture(&form, 30, 30, 0xFF2060C0);
    QFont font(QStringLiteral("Tahoma"));
    font.setPixelSize(14);
    font.setBold(true);
    EXPECT_TRUE(b.setProperty("ImageNormal", QVariant::fromValue(picture)));
    EXPECT_TRUE(b.setProperty("Caption", QStringLiteral("2")));
    EXPECT_TRUE(b.setProperty("Font", font));
    EXPECT_TRUE(b.setProperty("FontColor", clWhite));
    EXPECT_TRUE(b.setProperty("ButtonCaptionAlignment", "taLeftJustify"));
    EXPECT_TRUE(b.setProperty("CheckState", "cbGrayed"));
    EXPECT_EQ(b.ImageNormal()->Width(), 30);
    EXPECT_NE(b.ImageNormal(), picture) << "the picture is assigned, not taken over";
    EXPECT_EQ(b.Caption(), "2");
    EXPECT_EQ(b.font().pixelSize(), 14);
    EXPECT_FALSE(b.ParentFont());
    EXPECT_EQ(b.ButtonCaptionAlignment(), taLeftJustify);
    EXPECT_EQ(b.CheckState(), cbGrayed);
    for (const char* stored : {"ImageNormal", "Caption", "Font", "FontColor", "ButtonCaptionAlignment"})
        EXPECT_TRUE(b.IsPropertyStored(stored)) << stored;

    TDesignRect margins;
    margins.SetMargins(1, 2, 3, 4);
    EXPECT_TRUE(b.setProperty("ImageOption", QVariant::fromValue(&margins)));
    EXPECT_EQ(b.ImageOption()->Bottom(), 4);
    EXPECT_NE(b.ImageOption(), &margins);
    EXPECT_TRUE(b.IsPropertyStored("ImageOption"));
}

TEST(ImageButtonProperties, CheckStateTravelsAsCheckedUnlessGrayed)
{
    TRdImageButton b;
    QSignalSpy changed(&b, &TRdImageButton::OnCheckedChanged);
    b.SetCheckState(cbChecked);
    EXPECT_TRUE(b.Checked());
    EXPECT_FALSE(b.IsPropertyStored("CheckState"));
    EXPECT_TRUE(b.IsPropertyStored("Checked"));
    b.SetChecked(true);
    EXPECT_EQ(changed.count(), 1) << "same state: no event";
    b.SetCheckState(cbGrayed);
    EXPECT_TRUE(b.IsPropertyStored("CheckState"));
    EXPECT_FALSE(b.Checked());
    b.SetChecked(false);
    EXPECT_EQ(b.CheckState(), cbUnchecked);
    EXPECT_FALSE(b.IsPropertyStored("CheckState"));
    EXPECT_FALSE(b.IsPropertyStored("Checked"));
    EXPECT_EQ(changed.count(), 3);
}

TEST(ImageButtonProperties, EmptyFalseGivesThirdOfNormalImageAndRepaints)
{
    ShownButton shown;
    TRdImageButton& b = *shown.button;
    b.ImageNormal()->LoadFromData(PngBytes(30, 30, 0xFF0000FF));
    shown.counter->Repainted();
    b.ImageOption()->setProperty("Empty", false);
    EXPECT_EQ((std::array{b.ImageOption()->Left(), b.ImageOption()->Top(), b.ImageOption()->Right(),
                          b.ImageOption()->Bottom()}),
              (std::array{10, 10, 10, 10}));
    EXPECT_TRUE(shown.counter->Repainted());
}

TEST(ImageButtonProperties, WhichPictureWritesRepaint)
{
    ShownButton shown;
    TRdImageButton& b = *shown.button;
    QObject owner;
    TPicture* red = PngPicture(&owner, 30, 30, 0xFFFF0000);

    b.SetImageDisabled(red);
    EXPECT_FALSE(shown.counter->Repainted()) << "disabled picture of an enabled button";
    b.SetImageRange(red);
    EXPECT_FALSE(shown.counter->Repainted()) << "the range picture never repaints by itself";
    b.SetImageDown(red);
    EXPECT_TRUE(shown.counter->Repainted());
    b.SetCheckBoxNormalImage(red);
    EXPECT_FALSE(shown.counter->Repainted()) << "check-box pictures matter only with a check box";
    b.SetExpandImage(red);
    EXPECT_FALSE(shown.counter->Repainted()) << "the expand picture matters only when expanded";
    b.SetDnNormalIcon(red);
    EXPECT_TRUE(shown.counter->Repainted());
    b.SetFontHoverColor(clRed);
    EXPECT_FALSE(shown.counter->Repainted()) << "store only";

    b.setEnabled(false);
    shown.counter->Repainted();
    EXPECT_EQ(b.ButtonState(), TImageButtonState::Disabled);
    b.SetImageDisabled(red);
    EXPECT_TRUE(shown.counter->Repainted()) << "disabled picture of a disabled button";
}

TEST(ImageButtonProperties, AutoShowHintAlwaysTurnsShowHintOn)
{
    TRdImageButton b;
    b.SetAutoShowHint(true);
    EXPECT_TRUE(b.ShowHint());
    b.SetShowHint(false);
    b.SetAutoShowHint(false);
    EXPECT_TRUE(b.ShowHint());
    EXPECT_FALSE(b.ParentShowHint());
}

TEST(ImageButtonProperties, AutoSizeFollowsTheNormalPicture)
{
    QWidget form;
    TRdImageButton b(&form);
    b.SetBounds(5, 6, 10, 10);
    b.SetAutoSize(true);
    b.ImageNormal()->LoadFromData(PngBytes(120, 40, 0xFF00FF00));
    EXPECT_EQ(b.geometry(), QRect(5, 6, 120, 40));
    b.SetBounds(5, 6, 300, 300);
    EXPECT_EQ(b.size(), QSize(120, 40)) << "the picture's size wins while AutoSize is on";

    b.SetAlign(alTop);
    b.SetBounds(0, 0, 300, 300);
    EXPECT_EQ(b.size(), QSize(300, 40)) << "docked at the top only the height follows";
    int w = 1, h = 2;
    b.SetAlign(alLeft);
    EXPECT_TRUE(b.CanAutoSize(w, h));
    EXPECT_EQ(w, 120);
    EXPECT_EQ(h, 2);
}

TEST(ImageButtonProperties, AutoSizeByTextAndAlignment)
{
    QWidget form;
    TRdImageButton b(&form);
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(14);
    b.setFont(font);
    b.SetIconVisible(false);
    b.SetBounds(0, 0, 10, 10);
    b.SetCaption("Some caption");
    EXPECT_EQ(b.size(), QSize(10, 10)) << "nothing moves while AutoSizeByText is off";
    b.SetAutoSizeByText(true);
    const QSize natural = b.size();
    EXPECT_GT(natural.width(), 60);
    EXPECT_EQ(natural.height(), QFontMetrics(font).height());

    b.SetTextTopOffset(4);
    EXPECT_EQ(b.height(), natural.height() + 4);

    b.SetAlign(alTop);
    b.SetBounds(0, 0, 400, 10);
    b.SetCaption("Another, much longer caption text");
    EXPECT_EQ(b.width(), 400) << "docked at the top: only the height follows the content";
    EXPECT_EQ(b.height(), natural.height() + 4);

    b.SetAlign(alLeft);
    b.SetBounds(0, 0, 10, 99);
    b.SetCaption("Short");
    EXPECT_EQ(b.height(), 99);
    EXPECT_LT(b.width(), 60);
    EXPECT_GT(b.width(), 20);
}

TEST(ImageButtonProperties, AutoSizeByTextCountsIconAndCheckBox)
{
    TRdImageButton b;
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(14);
    b.setFont(font);
    b.SetDnNormalIcon(PngPicture(&b, 16, 50, 0xFF000000));
    b.SetCaption("x");
    b.SetAutoSizeByText(true);
    EXPECT_EQ(b.height(), 50) << "icon height plus IconOffsetY";
    b.SetShowCheckBox(true);
    b.SetCheckBoxNormalImage(PngPicture(&b, 200, 10, 0xFF000000));
    EXPECT_EQ(b.width(), 210) << "check-box width plus CheckBoxOffset";
}

TEST(ImageButtonProperties, LoadingDefersLayoutUntilLoaded)
{
    TRdImageButton b;
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(14);
    b.setFont(font);
    b.Loading();
    b.setProperty("AutoSizeByText", true);
    b.setProperty("IconVisible", false);
    b.setProperty("Caption", "Loaded caption");
    EXPECT_EQ(b.size(), QSize(0, 0));
    EXPECT_EQ(b.Caption(), "Loaded caption") << "values are stored while loading";
    b.Loaded();
    EXPECT_FALSE(b.IsLoading());
    EXPECT_GT(b.width(), 50);
}

TEST(ImageButtonProperties, CaptionEventAndMeasurePassOnResize)
{
    TRdImageButton b;
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(14);
    b.setFont(font);
    QSignalSpy captionChanged(&b, &TRdImageButton::OnCaptionChanged);
    QSignalSpy painted(&b, &TRdImageButton::OnPaintImage);
    b.SetBounds(0, 0, 300, 30);
    b.SetCaption("A caption of some length");
    b.SetCaption("A caption of some length");
    EXPECT_EQ(captionChanged.count(), 1);
    EXPECT_FALSE(b.FoundTextEllipsis());
    b.resize(40, 30);
    QResizeEvent resized(QSize(40, 30), QSize(300, 30));
    QCoreApplication::sendEvent(&b, &resized);
    EXPECT_TRUE(b.FoundTextEllipsis()) << "the resize ran a measure pass";
    b.SetWordWrap(true);
    EXPECT_FALSE(b.FoundTextEllipsis());
    EXPECT_TRUE(b.FoundTextWordBreak());
    EXPECT_EQ(painted.count(), 0) << "measure passes draw no images";
}

TEST(ImageButtonProperties, PictureKindsAndSharing)
{
    TRdImageButton b;
    TImageGraphic other(QImage(4, 4, QImage::Format_ARGB32));
    try {
        b.ImageNormal()->SetGraphic(&other);
        FAIL() << "the PNG copy refuses other graphics";
    } catch (const platform::Exception& e) {
        EXPECT_EQ(e.message(), "Cannot assign a TImageGraphic to a TPngImage");
    }
    QImage blue(6, 5, QImage::Format_RGB32);
    blue.fill(Qt::blue);
    b.ImageOver()->SetGraphic(TBitmap::FromImage(blue));
    EXPECT_EQ(b.OverImageCache().Width(), 6) << "a bitmap is converted";
    EXPECT_EQ(b.OverImageCache().Png().Pixel(2, 2), qRgb(0, 0, 255));
    b.ImageOver()->SetGraphic(std::unique_ptr<TGraphic>());
    EXPECT_TRUE(b.OverImageCache().Empty()) << "an empty picture empties the copy";
}

TEST(ImageButtonProperties, StepMarkerPicturesShareOneEntry)
{
    imaging::InitializePngSharing();
    ASSERT_NE(imaging::TPngImageDataList::Instance(), nullptr);
    const QByteArray data = PngBytes(30, 30, 0xFF3366CC);
    QWidget form;
    TRdImageButton a(&form), b(&form);
    for (TRdImageButton* button : {&a, &b}) {
        TPicture loaded;
        loaded.LoadFromData(data);
        button->SetImageNormal(&loaded);
    }
    const imaging::TPngImageData* entry = a.NormalImageCache().Png().ShareImageData();
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(b.NormalImageCache().Png().ShareImageData(), entry);
    EXPECT_EQ(dynamic_cast<TPngGraphic*>(a.ImageNormal()->Graphic())->Png().ShareImageData(), entry);
    EXPECT_EQ(entry->RefCount.load(), 4) << "two pictures and their two copies";
}
