#include "crash/core/handler/ExceptionHistory.h"

#include <gtest/gtest.h>

using crash::ExceptionHistory;

namespace {

ExceptionHistory Recorded(int count, std::uint64_t first, std::uint64_t step)
{
    ExceptionHistory history;
    for (int i = 0; i < count; ++i)
        history.record(first + static_cast<std::uint64_t>(i) * step);
    return history;
}

} // namespace

TEST(ExceptionHistory, NewestFirstAndOnlyTenKept)
{
    const ExceptionHistory history = Recorded(12, 100, 1);
    EXPECT_EQ(history.times()[0], 111u);
    EXPECT_EQ(history.times()[9], 102u);
}

TEST(AutoButtonRule, ZeroIsNeverAndOneIsAlways)
{
    const ExceptionHistory empty;
    EXPECT_FALSE(empty.autoButtonRule(0, 1000));
    EXPECT_TRUE(empty.autoButtonRule(1, 1000));
    EXPECT_FALSE(Recorded(10, 995, 0).autoButtonRule(0, 1000));
}

TEST(AutoButtonRule, TenthExceptionWithinTheWindowClosesNinthDoesNot)
{
    // The current exception is recorded before the rule is asked.
    EXPECT_FALSE(Recorded(9, 1000, 2).autoButtonRule(30, 1016));
    EXPECT_TRUE(Recorded(10, 1000, 2).autoButtonRule(30, 1018));
}

TEST(AutoButtonRule, OneSlotOlderThanTheWindowIsEnoughToSayNo)
{
    ExceptionHistory history = Recorded(10, 1000, 1);
    EXPECT_TRUE(history.autoButtonRule(30, 1030));  // oldest exactly 30 s ago still counts
    EXPECT_FALSE(history.autoButtonRule(30, 1031)); // now it is 31 s old
}

TEST(AutoButtonRule, ClockSetBackDoesNotWrapAround)
{
    EXPECT_TRUE(Recorded(10, 2000, 1).autoButtonRule(30, 1990));
}
