// Walking the calling thread's stack to its start: the count of frames, the outermost ones kept,
// the bound, and a starting frame that is not there.
#include "platform/OwnStackWalk.h"

#include <gtest/gtest.h>
#include <thread>
#include <vector>

using platform::OutermostFrames;
using platform::WalkToThreadStart;

namespace {

struct WalkRequest
{
    std::size_t capacity = 0;
    std::size_t bound = 0;
    bool fromElsewhere = false;
    std::vector<std::uintptr_t> frames;
    std::uintptr_t from = 0;
    OutermostFrames result;
};

[[gnu::noinline]] void WalkFromHere(WalkRequest& request)
{
    request.from = reinterpret_cast<std::uintptr_t>(__builtin_return_address(0));
    request.frames.assign(request.capacity, 0);
    request.result = WalkToThreadStart(request.fromElsewhere ? 0x1234 : request.from, request.frames.data(),
                                       request.capacity, request.bound);
    asm volatile("" ::: "memory"); // not a tail call
}

[[gnu::noinline]] void Descend(int depth, WalkRequest& request)
{
    if (depth == 0)
        WalkFromHere(request);
    else
        Descend(depth - 1, request);
    asm volatile("" ::: "memory");
}

constexpr int kDepth = 300;

// On a thread of its own, so the frames below the recursion are few and always the same.
WalkRequest WalkInRecursion(std::size_t capacity, std::size_t bound, bool fromElsewhere = false)
{
    WalkRequest request;
    request.capacity = capacity;
    request.bound = bound;
    request.fromElsewhere = fromElsewhere;
    std::thread([&] { Descend(kDepth, request); }).join();
    return request;
}

} // namespace

TEST(OwnStackWalk, CountsEveryFrameToTheThreadStartAndKeepsTheOutermost)
{
    const WalkRequest all = WalkInRecursion(1024, 1u << 20);
    ASSERT_TRUE(all.result.complete);
    ASSERT_GT(all.result.walked, std::size_t(kDepth + 1));
    ASSERT_EQ(all.result.kept, all.result.walked);
    EXPECT_EQ(all.frames[0], all.from);
    // Each level of the recursion returns to the same place, unlike the one that walks.
    for (int level = 1; level <= kDepth; ++level)
        EXPECT_EQ(all.frames[std::size_t(level)], all.frames[1]) << level;
    EXPECT_NE(all.frames[1], all.frames[0]);

    const WalkRequest outermost = WalkInRecursion(8, 1u << 20);
    EXPECT_TRUE(outermost.result.complete);
    EXPECT_EQ(outermost.result.walked, all.result.walked);
    ASSERT_EQ(outermost.result.kept, 8u);
    const std::vector<std::uintptr_t> expected(all.frames.begin() + std::ptrdiff_t(all.result.walked - 8),
                                               all.frames.begin() + std::ptrdiff_t(all.result.walked));
    EXPECT_EQ(outermost.frames, expected);
}

TEST(OwnStackWalk, StopsAtTheBoundAndWithoutTheStartingFrame)
{
    const WalkRequest bounded = WalkInRecursion(4, 100);
    EXPECT_FALSE(bounded.result.complete);
    EXPECT_EQ(bounded.result.walked, 100u);
    EXPECT_EQ(bounded.result.kept, 4u);

    const WalkRequest elsewhere = WalkInRecursion(4, 1u << 20, true);
    EXPECT_EQ(elsewhere.result.walked, 0u);
    EXPECT_EQ(elsewhere.result.kept, 0u);
}
