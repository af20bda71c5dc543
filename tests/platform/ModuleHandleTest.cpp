#include "platform/ModuleHandle.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QtGlobal>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace {

// A resource of this test executable, laid out as the settings converter lays resources out.
struct alignas(4) TestNote
{
    std::uint32_t nameSize, descSize, type;
    char name[12];
    unsigned char desc[8];
};
#if defined(__clang__)
#define TEST_NOTE_UNINSTRUMENTED __attribute__((no_sanitize("address")))
#else
#define TEST_NOTE_UNINSTRUMENTED
#endif
[[gnu::used, gnu::retain, gnu::section(".note.TESTNOTE")]] TEST_NOTE_UNINSTRUMENTED const TestNote
    testNote = {9u, 5u, 10u, "TESTNOTE", {'h', 'e', 'l', 'l', 'o'}};

const char g_data[] = "module data";

} // namespace

TEST(ModuleHandle, ExecutableIsKnownByItsLoadAddress)
{
    const platform::ModuleHandle main = platform::MainModuleHandle();
    ASSERT_NE(main, 0u);
    EXPECT_EQ(platform::ModuleOfAddress(g_data), main);
    EXPECT_EQ(platform::ModuleOfAddress(nullptr), 0u);
    EXPECT_EQ(QFileInfo(platform::ModuleFileName(0)).canonicalFilePath(),
              QFileInfo(QCoreApplication::applicationFilePath()).canonicalFilePath());
    EXPECT_EQ(platform::ModuleFileName(main), platform::ModuleFileName(0));
    EXPECT_EQ(platform::ModuleFileName(1), QString());
}

TEST(ModuleHandle, LoadedModulesAreSortedAndIncludeTheLibraries)
{
    const auto modules = platform::LoadedModules();
    EXPECT_TRUE(std::is_sorted(modules.begin(), modules.end()));
    EXPECT_NE(std::find(modules.begin(), modules.end(), platform::MainModuleHandle()), modules.end());
    const platform::ModuleHandle qt = platform::ModuleOfAddress(reinterpret_cast<const void*>(&qVersion));
    ASSERT_NE(qt, platform::MainModuleHandle());
    EXPECT_NE(std::find(modules.begin(), modules.end(), qt), modules.end());
    EXPECT_TRUE(platform::ModuleFileName(qt).contains(QLatin1String("libQt6Core")));
}

TEST(ModuleHandle, ResourcesAreFoundInTheirOwnModuleOnly)
{
    const auto found = platform::FindModuleResource(0, "TESTNOTE");
    ASSERT_EQ(found.size(), 5u);
    EXPECT_EQ(std::memcmp(found.data(), "hello", 5), 0);
    EXPECT_TRUE(platform::FindModuleResource(0, "TESTNOTE", 11).empty()); // other type
    EXPECT_TRUE(platform::FindModuleResource(0, "TESTNOT").empty());
    EXPECT_TRUE(platform::FindModuleResource(0, "").empty());
    const platform::ModuleHandle qt = platform::ModuleOfAddress(reinterpret_cast<const void*>(&qVersion));
    EXPECT_TRUE(platform::FindModuleResource(qt, "TESTNOTE").empty());
    EXPECT_TRUE(platform::FindModuleResource(12345, "TESTNOTE").empty());
}

TEST(ModuleHandle, ReadableBytesStayInsideTheModule)
{
    const auto address = reinterpret_cast<std::uintptr_t>(g_data);
    EXPECT_GE(platform::ModuleReadableBytes(0, address), sizeof g_data);
    const std::string heap = "heap text, long enough not to sit in the string itself";
    EXPECT_EQ(platform::ModuleReadableBytes(0, reinterpret_cast<std::uintptr_t>(heap.data())), 0u);
    const platform::ModuleHandle qt = platform::ModuleOfAddress(reinterpret_cast<const void*>(&qVersion));
    EXPECT_EQ(platform::ModuleReadableBytes(qt, address), 0u);
}

TEST(ModuleHandle, TheListWithFileNamesAgreesWithTheOneByOneQuestions)
{
    const std::vector<platform::ModuleFile> files = platform::LoadedModuleFiles();
    std::vector<platform::ModuleHandle> handles;
    for (const platform::ModuleFile& file : files) {
        handles.push_back(file.handle);
        EXPECT_EQ(file.fileName,
                  platform::ModuleFileName(file.handle == platform::MainModuleHandle() ? 0 : file.handle));
    }
    EXPECT_EQ(handles, platform::LoadedModules());
}
