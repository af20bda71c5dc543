#include "app/uMain.h"
#include "demo-product/HiveWriter.h"
#include "support/ScopedPrefix.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

using demo::HiveWriter;

namespace {

const QString kUninstall = QStringLiteral("Microsoft\\Windows\\CurrentVersion\\Uninstall\\");

// A prefix holding only the hives a test writes.
class PrefixFixture : public ::testing::Test
{
protected:
    void writeSystem(const HiveWriter& hive) { ASSERT_TRUE(hive.save(dir.file("system.reg"))); }
    void writeUser(const HiveWriter& hive) { ASSERT_TRUE(hive.save(dir.file("user.reg"))); }
    testsupport::TempDir dir;
    testsupport::ScopedPrefix inPrefix{dir.path()};
};

QString wow(const QString& name)
{
    return QStringLiteral("Software\\Wow6432Node\\") + kUninstall + name;
}

} // namespace

TEST_F(PrefixFixture, BetaKeyWinsThenNormalThenSibling)
{
    HiveWriter all;
    all.key(wow("Mirelune_is1")).string("InstallLocation", "C:\\Normal");
    all.key(wow("Mirelune Beta_is1")).string("InstallLocation", "C:\\Beta\\");
    all.key(wow("Kestrane_is1")).string("InstallLocation", "C:\\Sibling");
    writeSystem(all);
    EXPECT_EQ(app::FindInstallLocation(), "C:\\Beta\\") << "a trailing backslash is kept as it is";

    HiveWriter emptyBeta;
    emptyBeta.key(wow("Mirelune Beta_is1")).string("InstallLocation", "");
    emptyBeta.key(wow("Mirelune_is1")).string("InstallLocation", "C:\\Normal");
    emptyBeta.key(wow("Kestrane_is1")).string("InstallLocation", "C:\\Sibling");
    writeSystem(emptyBeta);
    EXPECT_EQ(app::FindInstallLocation(), "C:\\Normal\\") << "read afresh, and a missing backslash is added";

    HiveWriter siblingOnly;
    siblingOnly.key(wow("Kestrane_is1")).string("InstallLocation", "D:\\Kestrane");
    writeSystem(siblingOnly);
    EXPECT_EQ(app::FindInstallLocation(), "D:\\Kestrane\\");
}

TEST_F(PrefixFixture, NothingInstalledGivesEmpty)
{
    EXPECT_EQ(app::FindInstallLocation(), "") << "no hive at all";
    HiveWriter other;
    other.key(QStringLiteral("Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Mirelune_is1"))
        .string("InstallLocation", "C:\\In64BitView");
    writeSystem(other);
    EXPECT_EQ(app::FindInstallLocation(), "") << "a 64-bit prefix is read in its 32-bit view only";
}

TEST_F(PrefixFixture, NonStringValueStopsTheWholeLookup)
{
    HiveWriter hive;
    hive.key(wow("Mirelune Beta_is1")).dword("InstallLocation", 5);
    hive.key(wow("Mirelune_is1")).string("InstallLocation", "C:\\Normal");
    writeSystem(hive);
    EXPECT_EQ(app::FindInstallLocation(), "");

    HiveWriter later;
    later.key(wow("Mirelune_is1")).string("InstallLocation", "C:\\Normal");
    later.key(wow("Kestrane_is1")).hex("InstallLocation", 3, "abc");
    writeSystem(later);
    EXPECT_EQ(app::FindInstallLocation(), "C:\\Normal\\") << "keys after a found result are never read";
}

TEST_F(PrefixFixture, Win32PrefixAndWindows2000ReadThePlainKey)
{
    HiveWriter win32(QStringLiteral("REGISTRY\\\\Machine"), QStringLiteral("win32"));
    win32.key(QStringLiteral("Software\\") + kUninstall + "Mirelune_is1")
        .string("InstallLocation", "C:\\Program Files\\M");
    writeSystem(win32);
    EXPECT_EQ(app::FindInstallLocation(), "C:\\Program Files\\M\\");

    // Windows 5.0 asks for no 32-bit view, so on a 64-bit prefix the plain key is what counts.
    HiveWriter win64;
    win64.key(QStringLiteral("Software\\") + kUninstall + "Mirelune_is1")
        .string("InstallLocation", "C:\\Plain");
    win64.key(wow("Mirelune_is1")).string("InstallLocation", "C:\\Redirected");
    writeSystem(win64);
    HiveWriter user(QStringLiteral("REGISTRY\\\\User\\\\S-1-5-21-0-0-0-1000"));
    user.key(QStringLiteral("Software\\Wine")).string("Version", "win2k");
    writeUser(user);
    EXPECT_EQ(app::FindInstallLocation(), "C:\\Plain\\");
    user.key(QStringLiteral("Software\\Wine")).string("Version", "winxp");
    writeUser(user);
    EXPECT_EQ(app::FindInstallLocation(), "C:\\Redirected\\");
}
