#include "platform/WindowsFonts.h"
#include "platform/Environment.h"
#include "support/ScopedPrefix.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

using namespace platform;

TEST(WindowsFonts, ThePrefixFontsFolderIsSearchedWithoutRegardToCase)
{
    testsupport::TempDir prefix;
    testsupport::ScopedPrefix inPrefix(prefix.path());
    const QString font = prefix.write("drive_c/windows/Fonts/SkinToolTest.TTF", "not really a font");
    EXPECT_TRUE(WindowsFontFolders().contains(prefix.path() + "/drive_c/windows/Fonts"));
    EXPECT_EQ(FindWindowsFont("skintooltest.ttf"), font);
    EXPECT_EQ(FindWindowsFont("SkinToolTest.TTF"), font);
    EXPECT_EQ(FindWindowsFont("skintool-missing.ttf"), QString());
}

TEST(Environment, ReadsTheProcessEnvironment)
{
    qputenv("SKINTOOL_TEST_VARIABLE", "C:\\Users\\x\\AppData\\Roaming");
    EXPECT_EQ(GetEnvironmentVariable("SKINTOOL_TEST_VARIABLE"), "C:\\Users\\x\\AppData\\Roaming");
    qunsetenv("SKINTOOL_TEST_VARIABLE");
    EXPECT_EQ(GetEnvironmentVariable("SKINTOOL_TEST_VARIABLE"), QString());
}
