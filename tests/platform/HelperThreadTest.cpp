// Start-up helpers: work handed to a helper thread, and the font configuration and the registry
// hives made ready there while the main thread goes on. Runs under ThreadSanitizer too (label
// "threads").

#include "platform/HelperThread.h"
#include "platform/FontConfiguration.h"
#include "platform/Registry.h"
#include "support/ScopedPrefix.h"
#include "support/TempDir.h"

#include <QFile>
#include <QFontDatabase>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

using platform::HelperThread;

TEST(HelperThread, RunsTheWorkBesideTheCallerAndJoinWaitsForItsEnd)
{
    std::atomic<bool> mainMayGoOn{false};
    std::atomic<bool> done{false};
    std::thread::id worker;
    HelperThread helper([&] {
        worker = std::this_thread::get_id();
        // The caller is not held up while the work runs: it answers before the work ends.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!mainMayGoOn && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        done = true;
    });
    EXPECT_FALSE(done);
    mainMayGoOn = true;
    helper.join();
    EXPECT_TRUE(done);
    EXPECT_NE(worker, std::this_thread::get_id());
    helper.join(); // a second wait returns at once
}

TEST(HelperThread, ItsEndWaitsForTheWork)
{
    std::atomic<int> finished{0};
    {
        HelperThread first([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
            ++finished;
        });
        HelperThread second([&] { ++finished; });
    }
    EXPECT_EQ(finished, 2);
}

TEST(StartupHelpers, FontConfigurationLoadedOnAHelperServesTheFramework)
{
    // As at start-up: loaded on a helper, joined, then the framework's first font lookup.
    HelperThread helper(platform::LoadFontConfiguration);
    helper.join();
    platform::LoadFontConfiguration(); // once loaded, later calls find it so
    const QStringList families = QFontDatabase::families();
    EXPECT_TRUE(families.contains(QStringLiteral("DejaVu Sans"))) << families.join(u',').toStdString();
}

TEST(StartupHelpers, OnlyFontFilesAreAddedToTheConfiguration)
{
    testsupport::TempDir dir;
    const QStringList files{QStringLiteral("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"),
                            dir.write("notafont.ttf", "not really a font"), dir.file("missing.ttf")};
    HelperThread helper([&] { EXPECT_EQ(platform::AddFontFilesToConfiguration(files), 1); });
}

TEST(StartupHelpers, HivesPreloadedOnAHelperAnswerTheMainThreadAndChangesStillShow)
{
    testsupport::TempDir prefix;
    testsupport::ScopedPrefix scoped(prefix.path());
    // Large enough that the parse on the helper overlaps the opens below.
    QByteArray system("WINE REGISTRY Version 2\n#arch=win32\n\n[Software\\\\Vendor] 1\n\"Where\"=\"A\"\n");
    for (int i = 0; i < 4000; ++i)
        system += "\n[Software\\\\Classes\\\\Key" + QByteArray::number(i) + "] 1\n@=\"value " +
                  QByteArray::number(i) + "\"\n\"Blob\"=hex:01,02,03,04\n";
    const QString systemFile = prefix.write("system.reg", system);
    prefix.write("user.reg", "WINE REGISTRY Version 2\n\n[Software\\\\Wine] 1\n\"Version\"=\"win7\"\n");
    auto read = [](platform::RootKey root, const char* path, const char* name) {
        QString text;
        if (const auto key = platform::RegistryKey::open(root, path))
            key->readString(name, text);
        return text;
    };

    HelperThread preload([] {
        platform::PreloadRegistryHive(platform::RootKey::CurrentUser);
        platform::PreloadRegistryHive(platform::RootKey::LocalMachine);
    });
    for (int i = 0; i < 20; ++i) {
        EXPECT_EQ(read(platform::RootKey::LocalMachine, "Software\\Vendor", "Where"), "A");
        EXPECT_EQ(read(platform::RootKey::LocalMachine, "Software\\Classes\\Key3999", ""), "value 3999");
        EXPECT_EQ(read(platform::RootKey::CurrentUser, "Software\\Wine", "Version"), "win7");
    }
    preload.join();
    EXPECT_EQ(read(platform::RootKey::LocalMachine, "Software\\Vendor", "Where"), "A");

    // A preloaded hive is still checked against its file at every open.
    QFile file(systemFile);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write("WINE REGISTRY Version 2\n#arch=win32\n\n[Software\\\\Vendor] 1\n\"Where\"=\"B\"\n");
    file.close();
    EXPECT_EQ(read(platform::RootKey::LocalMachine, "Software\\Vendor", "Where"), "B");
}
