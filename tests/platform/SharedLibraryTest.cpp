// Libraries opened while the program runs: found by their run-time file name, their functions
// bound, and a missing library or function reported rather than crashing.

#include "platform/SharedLibrary.h"

#include <gtest/gtest.h>
#include <zlib.h>

using platform::SharedLibrary;

TEST(SharedLibrary, BindsTheSameFunctionsTheLoaderBindsAndNamesWhatIsMissing)
{
    QString error;
    const SharedLibrary zlib = SharedLibrary::open("libz.so.1", &error);
    ASSERT_TRUE(zlib.isLoaded()) << error.toStdString();
    // Already loaded by this program: the same copy, not a second one.
    EXPECT_EQ(zlib.symbol("zlibVersion"), reinterpret_cast<void*>(&zlibVersion));
    EXPECT_EQ(zlib.symbol("no_such_function_in_zlib"), nullptr);
    SharedLibrary binding = SharedLibrary::open("libz.so.1", &error);
    decltype(&zlibVersion) version = nullptr;
    void (*absent)() = nullptr;
    EXPECT_TRUE(binding.bind(version, "zlibVersion"));
    EXPECT_FALSE(binding.bind(absent, "no_such_function_in_zlib"));
    EXPECT_EQ(binding.missingFunctionText(), "libz.so.1 has no function no_such_function_in_zlib");

    const SharedLibrary missing = SharedLibrary::open("libskintool-no-such-library.so.7", &error);
    EXPECT_FALSE(missing.isLoaded());
    EXPECT_EQ(missing.symbol("zlibVersion"), nullptr);
    EXPECT_TRUE(error.contains(QLatin1String("libskintool-no-such-library.so.7"))) << error.toStdString();
}

namespace {
struct ZlibTable
{
    decltype(&zlibVersion) version = nullptr;
    void (*absent)() = nullptr;
};
} // namespace

TEST(SharedLibrary, ATableIsBoundOnceAndIsNullWhenAFunctionIsMissing)
{
    int binds = 0;
    auto complete = [&] {
        return platform::BoundOnce<ZlibTable>("libz.so.1", [&](SharedLibrary& library, ZlibTable& table) {
            ++binds;
            return library.bind(table.version, "zlibVersion");
        });
    };
    const ZlibTable* first = complete();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->version, &zlibVersion);
    EXPECT_EQ(complete(), first);
    EXPECT_EQ(binds, 1) << "bound at the first call only";

    const ZlibTable* incomplete =
        platform::BoundOnce<ZlibTable>("libz.so.1", [](SharedLibrary& library, ZlibTable& table) {
            return library.bind(table.version, "zlibVersion") &&
                   library.bind(table.absent, "no_such_function_in_zlib");
        });
    EXPECT_EQ(incomplete, nullptr);
}

TEST(SharedLibrary, AnUnboundTableSaysWhy)
{
    QString missing;
    EXPECT_EQ(platform::BoundOnce<ZlibTable>(
                  "libz.so.1",
                  [](SharedLibrary& library, ZlibTable& table) {
                      return library.bind(table.absent, "no_such_function_in_zlib");
                  },
                  &missing),
              nullptr);
    EXPECT_EQ(missing, QStringLiteral("libz.so.1 has no function no_such_function_in_zlib"));

    QString unloadable;
    EXPECT_EQ(platform::BoundOnce<ZlibTable>(
                  "libno-such-library.so.1",
                  [](SharedLibrary& library, ZlibTable& table) {
                      return library.bind(table.version, "zlibVersion");
                  },
                  &unloadable),
              nullptr);
    EXPECT_TRUE(unloadable.contains(QStringLiteral("libno-such-library.so.1"))) << qPrintable(unloadable);
}
