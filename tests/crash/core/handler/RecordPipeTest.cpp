#include "platform/EventFd.h"
#include "platform/RecordPipe.h"

#include <gtest/gtest.h>

#include <array>
#include <map>
#include <thread>
#include <vector>

namespace {

struct Record
{
    std::uint32_t writer;
    std::uint32_t sequence;
    std::array<std::uint32_t, 34> check; // as big as a handle-exception request
};

} // namespace

TEST(RecordPipe, RecordsFromManyWritersArriveWholeAndNoneIsLost)
{
    auto pipe = platform::RecordPipe::create();
    ASSERT_TRUE(pipe);
    constexpr int kWriters = 8, kEach = 200;
    std::vector<std::thread> writers;
    for (std::uint32_t w = 0; w < kWriters; ++w)
        writers.emplace_back([&, w] {
            for (std::uint32_t s = 0; s < kEach; ++s) {
                Record r{w, s, {}};
                r.check.fill(w * 1000 + s);
                ASSERT_TRUE(pipe->write(&r, sizeof r));
            }
        });
    std::map<std::uint32_t, std::uint32_t> next;
    for (int i = 0; i < kWriters * kEach; ++i) {
        Record r{};
        ASSERT_TRUE(pipe->read(&r, sizeof r, 5000));
        for (auto c : r.check)
            ASSERT_EQ(c, r.writer * 1000 + r.sequence) << "torn record";
        EXPECT_EQ(r.sequence, next[r.writer]++) << "out of order for one writer";
    }
    for (auto& t : writers)
        t.join();
    Record extra{};
    EXPECT_FALSE(pipe->read(&extra, sizeof extra, 50));
}

TEST(RecordPipe, OversizedRecordsAreRefused)
{
    auto pipe = platform::RecordPipe::create();
    std::vector<char> big(platform::RecordPipe::kMaxRecord + 1);
    EXPECT_FALSE(pipe->write(big.data(), big.size()));
}

TEST(EventFd, SignalReachesTheWaiterAcrossThreads)
{
    platform::EventFd event;
    ASSERT_TRUE(event.isValid());
    EXPECT_FALSE(event.wait(20));
    std::thread signaller([&] { event.signal(); });
    EXPECT_TRUE(event.wait(5000));
    EXPECT_TRUE(event.isSignalled()) << "waiting must not consume the signal";
    signaller.join();
}
