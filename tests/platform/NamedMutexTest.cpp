#include "platform/NamedMutex.h"
#include "support/ScopedPrefix.h"
#include "support/TempDir.h"

#include <QProcess>
#include <gtest/gtest.h>

using platform::NamedMutex;

namespace {

// Another process holding a handle: the tool itself, which keeps its single-instance mutex.
struct PrefixScope
{
    testsupport::TempDir dir;
    testsupport::ScopedPrefix inPrefix{dir.path()};
};

} // namespace

TEST(NamedMutex, SecondCreateSeesItExistsUntilEveryHandleIsClosed)
{
    PrefixScope scope;
    auto first = NamedMutex::create("Mirelune 11 Skin Tool", true);
    ASSERT_TRUE(first->isValid());
    EXPECT_EQ(first->lastError(), platform::ERROR_SUCCESS);
    EXPECT_TRUE(first->owned());

    auto second = NamedMutex::create("Mirelune 11 Skin Tool", true);
    EXPECT_TRUE(second->isValid());
    EXPECT_EQ(second->lastError(), platform::ERROR_ALREADY_EXISTS);
    EXPECT_FALSE(second->owned()) << "initial ownership goes to the creator only";

    EXPECT_EQ(NamedMutex::create("Another name", false)->lastError(), platform::ERROR_SUCCESS);

    first.reset();
    EXPECT_EQ(NamedMutex::create("Mirelune 11 Skin Tool", false)->lastError(), platform::ERROR_ALREADY_EXISTS)
        << "the second handle still keeps it alive";
    second.reset();
    EXPECT_EQ(NamedMutex::create("Mirelune 11 Skin Tool", false)->lastError(), platform::ERROR_SUCCESS);
}

TEST(NamedMutex, NamesArePerPrefix)
{
    PrefixScope a;
    auto inA = NamedMutex::create("Same", true);
    PrefixScope b;
    EXPECT_EQ(NamedMutex::create("Same", true)->lastError(), platform::ERROR_SUCCESS);
    EXPECT_NE(NamedMutex::namespaceFolder(), QString());
}
