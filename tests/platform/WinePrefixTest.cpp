#include "platform/WinePrefix.h"
#include "demo-product/HiveWriter.h"
#include "support/ScopedPrefix.h"
#include "support/TempDir.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

using platform::WinePrefix;

namespace {

class WinePrefixTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        QDir().mkpath(prefix.file("dosdevices"));
        QDir().mkpath(prefix.file("drive_c/Program Files (x86)/Orlix/Mirelune/Skin"));
        QDir().mkpath(prefix.file("elsewhere/data"));
        QFile::link("../drive_c", prefix.file("dosdevices/c:"));
        QFile::link("/", prefix.file("dosdevices/z:"));
        QFile::link(prefix.file("elsewhere"), prefix.file("dosdevices/d:"));
        root = QDir(prefix.path()).canonicalPath();
    }
    testsupport::TempDir prefix;
    testsupport::ScopedPrefix inPrefix{prefix.path()};
    QString root;
};

} // namespace

TEST_F(WinePrefixTest, WindowsPathsMapThroughDriveLinksIgnoringCase)
{
    EXPECT_EQ(WinePrefix::toNativePath("C:\\Program Files (x86)\\Orlix\\Mirelune\\Skin\\"),
              root + "/drive_c/Program Files (x86)/Orlix/Mirelune/Skin/");
    EXPECT_EQ(WinePrefix::toNativePath("c:\\PROGRAM FILES (X86)\\orlix\\MIRELUNE\\skin\\Ocean.rcc"),
              root + "/drive_c/Program Files (x86)/Orlix/Mirelune/Skin/Ocean.rcc")
        << "existing components take their stored spelling, a new file keeps its own";
    EXPECT_EQ(WinePrefix::toNativePath("C:/Program Files (x86)/Orlix/../Orlix/./Mirelune"),
              root + "/drive_c/Program Files (x86)/Orlix/Mirelune");
    EXPECT_EQ(WinePrefix::toNativePath("D:\\Data"), root + "/elsewhere/data");
    EXPECT_EQ(WinePrefix::toNativePath("Z:\\etc\\hostname"), "/etc/hostname");
    EXPECT_EQ(WinePrefix::toNativePath("Q:\\nothing"), "") << "a drive the prefix does not have";
    EXPECT_EQ(WinePrefix::toNativePath("/already/native"), "/already/native");
    EXPECT_EQ(WinePrefix::toNativePath("C:\\New\\Folder\\file.txt"), root + "/drive_c/New/Folder/file.txt");
}

TEST_F(WinePrefixTest, NativePathsMapBackPreferringRealDrives)
{
    EXPECT_EQ(WinePrefix::toWindowsPath(root + "/drive_c/Program Files (x86)/Orlix/Mirelune/Skin/"),
              "C:\\Program Files (x86)\\Orlix\\Mirelune\\Skin\\");
    EXPECT_EQ(WinePrefix::toWindowsPath(root + "/drive_c"), "C:\\");
    EXPECT_EQ(WinePrefix::toWindowsPath(root + "/elsewhere/data"), "D:\\data");
    EXPECT_EQ(WinePrefix::toWindowsPath("/etc/hostname"), "Z:\\etc\\hostname");
    QFile::remove(prefix.file("dosdevices/z:"));
    EXPECT_EQ(WinePrefix::toWindowsPath("/etc/hostname"), "") << "no drive covers it";
}

TEST_F(WinePrefixTest, VersionComesFromWineSettingThenSystemHiveThenDefault)
{
    EXPECT_EQ(WinePrefix::windowsVersion().major, 10);
    EXPECT_EQ(WinePrefix::windowsVersion().minor, 0);
    EXPECT_TRUE(WinePrefix::is64Bit()) << "Wine's default when the hive does not say";

    demo::HiveWriter system(QStringLiteral("REGISTRY\\\\Machine"), QStringLiteral("win32"));
    system.key("Software\\Microsoft\\Windows NT\\CurrentVersion").string("CurrentVersion", "5.1");
    ASSERT_TRUE(system.save(prefix.file("system.reg")));
    EXPECT_FALSE(WinePrefix::is64Bit());
    EXPECT_EQ(WinePrefix::windowsVersion().major, 5);
    EXPECT_EQ(WinePrefix::windowsVersion().minor, 1);

    demo::HiveWriter user(QStringLiteral("REGISTRY\\\\User\\\\S-1-5-21-0-0-0-1000"));
    user.key("Software\\Wine").string("Version", "win2k");
    ASSERT_TRUE(user.save(prefix.file("user.reg")));
    EXPECT_EQ(WinePrefix::windowsVersion().major, 5);
    EXPECT_EQ(WinePrefix::windowsVersion().minor, 0);
}

TEST(WinePrefixNativePath, ResolvesEachComponentWithoutRegardToCase)
{
    testsupport::TempDir dir;
    const QString table = dir.write("Tool/Classic/Color_Setting.ini", "x");
    using platform::WinePrefix;
    EXPECT_EQ(WinePrefix::resolveNativePath(dir.path() + "/tool/classic/color_setting.ini"), table);
    EXPECT_EQ(WinePrefix::resolveNativePath(dir.path() + "/TOOL/classic/"), dir.path() + "/Tool/Classic/");
    EXPECT_EQ(WinePrefix::resolveNativePath(dir.path() + "/tool/missing/COLOR_SETTING.INI"),
              dir.path() + "/Tool/missing/COLOR_SETTING.INI")
        << "past a missing component the rest stays as given";
    EXPECT_EQ(WinePrefix::resolveNativePath(table), table);
}
