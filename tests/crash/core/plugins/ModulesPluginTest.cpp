#include "crash/core/plugins/ModulesPlugin.h"

#include <gtest/gtest.h>

using crash::ModulesPlugin;
using platform::LoadedModule;

TEST(ModulesPlugin, ListsModulesInAddressOrderWithAlignedVersionsAndFolders)
{
    const QString qtCore = QStringLiteral("/lib/x86_64-linux-gnu/libQt6Core.so.6");
    const std::vector<LoadedModule> modules{
        {0x7f0000001000, qtCore, QStringLiteral("/usr/lib/x86_64-linux-gnu/libQt6Core.so.6.4.2"),
         QStringLiteral("libQt6Core.so.6"), false},
        {0x7ffd0000e000, QStringLiteral("linux-vdso.so.1"), {}, QStringLiteral("linux-vdso.so.1"), false},
        {0x55550000, QStringLiteral("/opt/skin/skintool"), QStringLiteral("/opt/skin/skintool"), {}, true},
        {0x7f0000800000, QStringLiteral("/opt/skin/plugins/libqxcb.so"),
         QStringLiteral("/opt/skin/plugins/libqxcb.so"), QStringLiteral("libqxcb.so"), false},
        // The link's target has no version, its soname has.
        {0x7f0000900000, QStringLiteral("/lib/libz.so.1"), QStringLiteral("/lib/libz-ng.so"),
         QStringLiteral("libz.so.1"), false},
    };
    EXPECT_EQ(ModulesPlugin::text(modules, QStringLiteral("1.0.0")),
              QStringLiteral("0000000055550000 skintool        1.0.0 /opt/skin/\r\n"
                             "00007f0000001000 libQt6Core.so.6 6.4.2 /lib/x86_64-linux-gnu/\r\n"
                             "00007f0000800000 libqxcb.so            /opt/skin/plugins/\r\n"
                             "00007f0000900000 libz.so.1       1     /lib/\r\n"
                             "00007ffd0000e000 linux-vdso.so.1 1     "));
}

TEST(ModulesPlugin, VersionIsWhatFollowsSoInTheName)
{
    EXPECT_EQ(ModulesPlugin::versionInName(QStringLiteral("libQt6Core.so.6.4.2")), QStringLiteral("6.4.2"));
    EXPECT_EQ(ModulesPlugin::versionInName(QStringLiteral("libc.so.6")), QStringLiteral("6"));
    EXPECT_EQ(ModulesPlugin::versionInName(QStringLiteral("libqxcb.so")), QString());
    EXPECT_EQ(ModulesPlugin::versionInName(QStringLiteral("Kry.exe")), QString());
}

TEST(ModulesPlugin, NoModulesGiveAnEmptyText)
{
    EXPECT_EQ(ModulesPlugin::text({}, QStringLiteral("1.0")), QString());
}
