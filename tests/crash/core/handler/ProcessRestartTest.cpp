#include "crash/core/handler/ProcessRestart.h"

#include "platform/ProcessInfo.h"
#include "platform/SharedMemory.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QProcess>
#include <cstring>

using namespace crash;

TEST(ProcessRestart, SectionNameCarriesTheNewProcessIdInHex)
{
    EXPECT_EQ(RestartSectionName(0x1a2b), "HalvornRestart$00001A2B");
}

TEST(ProcessRestart, TheNewProcessWaitsForTheOldOneAndTakesItsHistory)
{
    // Stand in for the old process with a short-lived child; write the record a restart leaves.
    QProcess old;
    old.start("sleep", {"0.3"});
    ASSERT_TRUE(old.waitForStarted(5000));
    const auto name = RestartSectionName(platform::CurrentProcessId());
    platform::SharedMemory::remove(name);
    {
        auto section = platform::SharedMemory::create(name, 88);
        ASSERT_TRUE(section);
        const std::uint32_t pid = static_cast<std::uint32_t>(old.processId());
        std::memcpy(section->data(), &pid, 4);
        const std::uint64_t newest = 1234;
        std::memcpy(static_cast<char*>(section->data()) + 8, &newest, 8);
    }
    ExceptionHistory history;
    QElapsedTimer waited;
    waited.start();
    ASSERT_TRUE(TakeOverRestart(history, 10000));
    EXPECT_GE(waited.elapsed(), 200) << "returned before the old process ended";
    EXPECT_LT(waited.elapsed(), 9000) << "did not notice the end";
    old.waitForFinished(1000);
    EXPECT_EQ(history.times()[0], 1234u);
    EXPECT_FALSE(platform::SharedMemory::exists(name));
    ExceptionHistory again;
    EXPECT_FALSE(TakeOverRestart(again, 100));
}
