#include "app/TApplication.h"
#include "app/uMain.h"
#include "controls/RdImageButton.h"
#include "controls/TPicture.h"
#include "controls/TPngGraphic.h"
#include "demo-product/HiveWriter.h"
#include "imaging/TPngImageData.h"
#include "platform/HelperThread.h"
#include "platform/MessageBox.h"
#include "platform/WindowsFonts.h"
#include "support/MessageBoxRecorder.h"
#include "support/ScopedPrefix.h"
#include "support/TempDir.h"

#include <QCheckBox>
#include <QFontDatabase>
#include <QFontInfo>
#include <QGroupBox>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

using app::TfrmMain;

namespace {

class MainWindowTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        app::TApplication::loadWindowFonts();
        demo::HiveWriter hive;
        hive.key(QStringLiteral(
                     "Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Mirelune_is1"))
            .string("InstallLocation", "C:\\Program Files (x86)\\Orlix\\Mirelune");
        ASSERT_TRUE(hive.save(dir.file("system.reg")));
    }
    testsupport::TempDir dir;
    testsupport::ScopedPrefix inPrefix{dir.path()};
    testsupport::MessageBoxRecorder boxes;
};

struct ControlRow
{
    const char* name;
    const char* parent;
    QRect geometry;
    const char* text;
    bool shown;
};

QString textOf(QWidget* w)
{
    if (auto* l = qobject_cast<QLabel*>(w))
        return l->text();
    if (auto* b = qobject_cast<QAbstractButton*>(w))
        return b->text();
    if (auto* g = qobject_cast<QGroupBox*>(w))
        return g->title();
    if (auto* e = qobject_cast<QLineEdit*>(w))
        return e->text();
    return w->property("Caption").toString();
}

} // namespace

TEST_F(MainWindowTest, ControlsStandWhereTheDesignPutsThem)
{
    TfrmMain form;
    form.show();
    ASSERT_FALSE(form.terminateRequested());
    EXPECT_TRUE(boxes.texts().isEmpty());
    EXPECT_EQ(form.windowTitle(), "Mirelune 11 Skin Tool");
    EXPECT_EQ(form.size(), QSize(523, 354));
    EXPECT_EQ(form.productSkinFolder(), "C:\\Program Files (x86)\\Orlix\\Mirelune\\Skin\\");
    EXPECT_FALSE(form.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(form.windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(form.acceptDrops());

    const ControlRow rows[] = {
        {"lbl_openskin", "frmMain", {303, 319, 191, 13}, "Click here to open the created new skin", false},
        {"GroupBox_Make", "frmMain", {24, 8, 481, 289}, "make skin", true},
        {"lbl_one",
         "GroupBox_Make",
         {51, 32, 427, 47},
         "Click the link below to open the images directory. Then replace them with your pictures. Note: "
         "Please make "
         "sure your new pictures have the same name, size and format as the original pictures.",
         true},
        {"Label1",
         "GroupBox_Make",
         {48, 107, 408, 13},
         "Name your new skin to distinguish it from the others.",
         true},
        {"Label2",
         "GroupBox_Make",
         {47, 190, 406, 43},
         "Click \"Make\" button to make your skin is usable for Mirelune 11 PRO.",
         true},
        {"imgPreview", "GroupBox_Make", {71, 237, 180, 120}, "", false},
        {"imgSkin_menu", "GroupBox_Make", {179, 216, 150, 100}, "", false},
        {"ImageButton1", "GroupBox_Make", {12, 25, 30, 30}, "1", true},
        {"ImageButton2", "GroupBox_Make", {12, 100, 30, 30}, "2", true},
        {"ImageButton3", "GroupBox_Make", {11, 181, 30, 30}, "3", true},
        {"Button_Make", "GroupBox_Make", {315, 237, 154, 49}, "Make", true},
        {"Edit_root", "GroupBox_Make", {114, 129, 351, 21}, "", true},
        {"btnBrowse", "GroupBox_Make", {459, 157, 91, 25}, "Browse...", false},
        {"cbRGBBGR", "GroupBox_Make", {384, 85, 97, 17}, "rgb => bgr", false},
        {"GroupBox_Explorer", "frmMain", {37, 456, 478, 122}, "Explorer", false},
        {"Edit_rccfile", "GroupBox_Explorer", {87, 26, 176, 21}, "", false},
        {"Button_Load", "GroupBox_Explorer", {276, 24, 91, 25}, "Load Skin", false},
    };
    for (const ControlRow& row : rows) {
        auto* w = form.findChild<QWidget*>(QLatin1String(row.name));
        ASSERT_NE(w, nullptr) << row.name;
        EXPECT_EQ(w->parentWidget()->objectName(), QLatin1String(row.parent)) << row.name;
        EXPECT_EQ(w->geometry(), row.geometry) << row.name;
        EXPECT_EQ(textOf(w), QString::fromUtf8(row.text)) << row.name;
        EXPECT_EQ(w->isVisibleTo(&form), row.shown) << row.name;
    }

    // Labels that size themselves keep their designed corner and height and show all their text.
    const ControlRow autoSized[] = {
        {"lbl_Atten",
         "GroupBox_Make",
         {51, 77, 309, 13},
         "Click to open the skin directory. Modify skins in the images folder",
         true},
        {"lbl_SkinPath", "GroupBox_Make", {51, 132, 53, 13}, "Skin Name:", true},
        {"lbl_SaveFile", "GroupBox_Make", {48, 162, 53, 13}, "Save Path:", false},
        {"lbl_FileName", "GroupBox_Make", {-56, 56, 43, 13}, "FileName", false},
        {"Label3", "GroupBox_Explorer", {24, 29, 42, 13}, "Skin File:", false},
    };
    for (const ControlRow& row : autoSized) {
        auto* label = form.findChild<QLabel*>(QLatin1String(row.name));
        ASSERT_NE(label, nullptr) << row.name;
        EXPECT_EQ(label->pos(), row.geometry.topLeft()) << row.name;
        EXPECT_EQ(label->text(), QString::fromUtf8(row.text)) << row.name;
        EXPECT_GE(label->width(), label->fontMetrics().horizontalAdvance(label->text())) << row.name;
        EXPECT_EQ(label->isVisibleTo(&form), row.shown) << row.name;
    }

    QTest::qWait(50);
    form.grab().save(testsupport::ArtifactDir() + "/main-window-offscreen.png");
}

TEST_F(MainWindowTest, LinksFontsPicturesAndMenu)
{
    TfrmMain form;
    EXPECT_EQ(form.font().pixelSize(), 11);
    EXPECT_EQ(form.font().family(), "Tahoma");
    for (QLabel* link : {form.lbl_openskin, form.lbl_Atten, form.lbl_FileName}) {
        EXPECT_EQ(link->palette().color(QPalette::WindowText), QColor(0, 0, 255))
            << link->objectName().toStdString();
        EXPECT_EQ(link->cursor().shape(), Qt::PointingHandCursor);
    }
    EXPECT_NE(form.Label1->palette().color(QPalette::WindowText), QColor(0, 0, 255));
    // And the text really comes out blue.
    form.show();
    const QImage link = form.lbl_Atten->grab().toImage();
    int bluePixels = 0;
    for (int y = 0; y < link.height(); ++y)
        for (int x = 0; x < link.width(); ++x) {
            const QColor c = link.pixelColor(x, y);
            bluePixels += c.blue() > 200 && c.red() < 80 && c.green() < 80;
        }
    EXPECT_GT(bluePixels, 20);
    EXPECT_TRUE(form.lbl_one->wordWrap());
    EXPECT_TRUE(form.Label2->wordWrap());
    EXPECT_FALSE(form.cbRGBBGR->isChecked());

    // The hidden pictures get theirs when shown.
    for (QLabel* hidden : {form.imgPreview, form.imgSkin_menu}) {
        EXPECT_TRUE(hidden->pixmap().isNull());
        hidden->show();
        EXPECT_FALSE(hidden->pixmap().isNull()) << hidden->objectName().toStdString();
        hidden->hide();
    }
    EXPECT_EQ(form.imgPreview->pixmap().size(), QSize(180, 120));
    EXPECT_EQ(form.imgSkin_menu->pixmap().size(), QSize(150, 100));
    EXPECT_EQ(form.previewPicture().size(), QSize(180, 120));
    EXPECT_TRUE(form.previewPicture().hasAlphaChannel());
    EXPECT_EQ(form.skinMenuPicture().size(), QSize(150, 100));
    EXPECT_TRUE(form.skinMenuPicture().hasAlphaChannel());
    const QImage marker(":/pictures/step_marker.png");
    EXPECT_EQ(marker.size(), QSize(30, 30));
    EXPECT_TRUE(marker.hasAlphaChannel());

    // The step markers: white bold 14-pixel captions over the same picture data, drawn.
    for (controls::TRdImageButton* button : {form.ImageButton1, form.ImageButton2, form.ImageButton3}) {
        EXPECT_EQ(button->font().pixelSize(), 14);
        EXPECT_TRUE(button->font().bold());
        EXPECT_EQ(button->property("FontColor").toInt(), int(controls::clWhite));
    }
    const QImage drawn = form.ImageButton2->grab().toImage();
    EXPECT_EQ(drawn.size(), QSize(30, 30));
    EXPECT_EQ(QColor(drawn.pixel(15, 3)).blue(), QColor(marker.pixel(15, 3)).blue())
        << "the picture is drawn";

    // The pop-up menu is there, attached to nothing.
    ASSERT_NE(form.popMnu, nullptr);
    QStringList items;
    for (QAction* a : form.popMnu->actions())
        items << (a->isSeparator() ? QStringLiteral("-") : a->text());
    EXPECT_EQ(items, QStringList({"SaveAs...", "-", "ExportAll"}));
    EXPECT_EQ(form.contextMenuPolicy(), Qt::DefaultContextMenu);
}

TEST_F(MainWindowTest, TheThreeStepMarkersShareOnePicture)
{
    TfrmMain form;
    QList<imaging::TPngImageData*> entries;
    for (controls::TRdImageButton* button : {form.ImageButton1, form.ImageButton2, form.ImageButton3}) {
        auto* graphic = dynamic_cast<controls::TPngGraphic*>(button->ImageNormal()->Graphic());
        ASSERT_NE(graphic, nullptr);
        entries << graphic->Png().ShareImageData();
    }
    ASSERT_NE(entries[0], nullptr) << "the start-up list is there, so the pictures share";
    EXPECT_EQ(entries[1], entries[0]);
    EXPECT_EQ(entries[2], entries[0]);
    EXPECT_GE(entries[0]->RefCount.load(), 3);
}

TEST_F(MainWindowTest, FocusStartsOnMakeAndOneTabReachesTheName)
{
    TfrmMain form;
    form.show();
    QApplication::setActiveWindow(&form);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    EXPECT_EQ(QApplication::focusWidget(), form.Button_Make);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), form.Edit_root);

    // Forty characters of any kind go in; the forty-first is refused.
    const QString typed = QStringLiteral("My Skin: *?<>|/\\\"0123456789abcdefghijklmnopqrstuvwxyz");
    QTest::keyClicks(form.Edit_root, typed);
    EXPECT_EQ(form.Edit_root->text(), typed.left(40));
}

TEST_F(MainWindowTest, AnchoredControlsFollowTheRightEdge)
{
    TfrmMain form;
    form.show();
    form.GroupBox_Make->resize(581, 289);
    EXPECT_EQ(form.Button_Make->geometry(), QRect(415, 237, 154, 49));
    EXPECT_EQ(form.Edit_root->geometry(), QRect(114, 129, 351, 21)) << "anchored left and top only";
    form.resize(623, 454);
    EXPECT_EQ(form.GroupBox_Explorer->geometry(), QRect(37, 456, 578, 222));
}

TEST_F(MainWindowTest, MissingProductIsToldAndTheWindowNeverShows)
{
    ASSERT_TRUE(QFile::remove(dir.file("system.reg")));
    TfrmMain form;
    EXPECT_TRUE(form.terminateRequested());
    EXPECT_EQ(boxes.boxes(),
              QStringList{"Mirelune 11 Skin Tool|Your computer doesn't have Mirelune 11 installed."});
    EXPECT_FALSE(form.isVisible());
}

TEST(WindowFonts, LoadedOnAStartUpHelperTheyServeTheFirstFontLookup)
{
    if (platform::FindWindowsFont(QStringLiteral("tahoma.ttf")).isEmpty())
        GTEST_SKIP() << "no Tahoma here (package fonts-wine)";
    // As at start-up, before the first font lookup of this process (ctest runs each case alone).
    platform::HelperThread helper(&app::TApplication::loadWindowFontsEarly);
    helper.join();
    app::TApplication::loadWindowFonts();
    EXPECT_TRUE(QFontDatabase::applicationFontFamilies(0).isEmpty()) << "loaded a second time";
    QFont font(QStringLiteral("Tahoma"));
    font.setPixelSize(11);
    EXPECT_EQ(QFontInfo(font).family().toStdString(), "Tahoma");
    font.setBold(true);
    EXPECT_EQ(QFontInfo(font).family().toStdString(), "Tahoma");
    EXPECT_TRUE(QFontInfo(font).bold());
}
