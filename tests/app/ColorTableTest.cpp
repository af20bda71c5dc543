#include "app/ColorTable.h"
#include "platform/Exception.h"
#include "platform/MessageBox.h"
#include "support/MessageBoxRecorder.h"
#include "support/TempDir.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

using app::ParseDollarHex;
using app::SwapRedBlue;

TEST(ColorTable, DollarHexAcceptsOneToEightDigitsOnly)
{
    EXPECT_EQ(ParseDollarHex("$ABCDEF"), 0xABCDEF);
    EXPECT_EQ(ParseDollarHex("$abcdef"), 0xABCDEF);
    EXPECT_EQ(ParseDollarHex("$1"), 1);
    EXPECT_EQ(ParseDollarHex("$FFFFFFFF"), -1) << "eight digits with the top bit set are negative";
    for (const char* bad :
         {"$", "$0x12", "$#123456", "$12 34", "$123456789", "ABCDEF", "$zz12", "$-1", "$+1"})
        EXPECT_FALSE(ParseDollarHex(bad).has_value()) << bad;
}

TEST(ColorTable, RedAndBlueExchangeInAtLeastSixUpperCaseDigits)
{
    EXPECT_EQ(SwapRedBlue(0xABCDEF), "EFCDAB");
    EXPECT_EQ(SwapRedBlue(0xFF8000), "0080FF");
    EXPECT_EQ(SwapRedBlue(0x0000FF), "FF0000");
    EXPECT_EQ(SwapRedBlue(1), "010000");
    EXPECT_EQ(SwapRedBlue(-1), "FFFFFFFF");
    EXPECT_EQ(SwapRedBlue(0x12345678), "12785634") << "the highest byte stays";
}

namespace {

class ColorTableFile : public ::testing::Test
{
protected:
    void SetUp() override { tool = dir.path() + "/"; }
    QString table() const
    {
        return QString::fromUtf8(testsupport::ReadAll(tool + "classic/color_setting.ini"));
    }
    testsupport::TempDir dir;
    QString tool;
    testsupport::MessageBoxRecorder boxes;
};

} // namespace

TEST_F(ColorTableFile, OptionOffOnlyStampsTheNameAddingTheSection)
{
    app::WriteColorSettings(tool, "ocean", false);
    EXPECT_FALSE(QFile::exists(tool + "classic/color_setting.ini")) << "a missing table is not created";

    dir.write("classic/color_setting.ini", "[Main]\r\nbkcolor=ABCDEF\r\n");
    app::WriteColorSettings(tool, "ocean", false);
    EXPECT_EQ(table(), "[Main]\r\nbkcolor=ABCDEF\r\n\r\n[validate]\r\nskinname=ocean\r\n");
}

TEST_F(ColorTableFile, OptionOnSwapsEveryColourButValidateAndTwoRunsRestore)
{
    dir.write("classic/color_setting.ini", "[VALIDATE]\r\nskinname=old\r\nversion=ABCDEF\r\n"
                                           "[Main]\r\nbkcolor=ABCDEF\r\nfont=$FF8000\r\nempty=\r\nblue=1\r\n"
                                           "[Menu]\r\nwide=12345678\r\nall=FFFFFFFF\r\n");
    app::WriteColorSettings(tool, "ocean", true);
    EXPECT_TRUE(boxes.texts().isEmpty());
    EXPECT_EQ(table(), "[VALIDATE]\r\nskinname=ocean\r\nversion=ABCDEF\r\n"
                       "[Main]\r\nbkcolor=EFCDAB\r\nfont=0080FF\r\nempty=\r\nblue=010000\r\n"
                       "[Menu]\r\nwide=12785634\r\nall=FFFFFFFF\r\n");
    app::WriteColorSettings(tool, "ocean", true);
    EXPECT_EQ(table(), "[VALIDATE]\r\nskinname=ocean\r\nversion=ABCDEF\r\n"
                       "[Main]\r\nbkcolor=ABCDEF\r\nfont=FF8000\r\nempty=\r\nblue=000001\r\n"
                       "[Menu]\r\nwide=12345678\r\nall=FFFFFFFF\r\n");
}

TEST_F(ColorTableFile, UnreadableValuesAreReportedOneByOneAndLeftAlone)
{
    dir.write("classic/color_setting.ini", "[Main]\r\nbkcolor=zz12\r\nhex=0x00FF00\r\nok=0000FF\r\n");
    app::WriteColorSettings(tool, "ocean", true);
    EXPECT_EQ(boxes.texts(), QStringList({"Main  bkcolor=$zz12,  fail!", "Main  hex=$0x00FF00,  fail!"}));
    EXPECT_EQ(table(),
              "[Main]\r\nbkcolor=zz12\r\nhex=0x00FF00\r\nok=FF0000\r\n\r\n[validate]\r\nskinname=ocean\r\n");
}

TEST_F(ColorTableFile, MarkerPictureKeepsTheColours)
{
    dir.write("classic/color_setting.ini", "[Main]\r\nbkcolor=ABCDEF\r\n");
    dir.write("classic/images/kry9_title.png", "png");
    app::WriteColorSettings(tool, "ocean", true);
    EXPECT_EQ(table(), "[Main]\r\nbkcolor=ABCDEF\r\n\r\n[validate]\r\nskinname=ocean\r\n");
}

TEST_F(ColorTableFile, UnwritableTableRaises)
{
    // A folder in the table's place cannot be written, whatever rights the test runs with.
    ASSERT_TRUE(QDir().mkpath(tool + "classic/color_setting.ini"));
    try {
        app::WriteColorSettings(tool, "ocean", false);
        FAIL() << "no exception";
    } catch (const platform::Exception& e) {
        EXPECT_EQ(e.message(), "Unable to write to " + tool + "classic/color_setting.ini");
    }
}

TEST_F(ColorTableFile, TheToolsOwnFilesAreFoundWhateverTheirLetterCase)
{
    dir.write("Classic/Color_Setting.ini", "[main]\r\nback=$0000FF\r\n");
    dir.write("Classic/Images/KRY9_Title.png", "");
    app::WriteColorSettings(tool, "ocean", true);
    const QString text = QString::fromUtf8(testsupport::ReadAll(tool + "Classic/Color_Setting.ini"));
    EXPECT_TRUE(text.contains("skinname=ocean")) << text.toStdString();
    EXPECT_TRUE(text.contains("back=$0000FF")) << "the marker picture, in other letters, still counts";
    EXPECT_EQ(QDir(tool + "Classic").entryList(QDir::Files), QStringList{"Color_Setting.ini"})
        << "no second table in the exact spelling";
    EXPECT_FALSE(QDir(tool + "classic").exists());
}
