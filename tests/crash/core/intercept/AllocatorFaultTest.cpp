// Crashes while the allocator cannot be used: its own code faulted, or its lock is held by the
// faulting thread or by a thread stopped inside it. Each must still leave a report in the report
// file and end the program as the reporter does.
#include "CrashTestRunner.h"

#include <gtest/gtest.h>

using namespace crashtests;

namespace {

constexpr int kClosedByReporter = 3;
// A run is killed after this; before the report was written without the allocator, these runs
// hung until a 30 s deadline ended them without one.
constexpr int kBoundMs = 20000;

struct AllocatorFaults : ::testing::Test
{
    void SetUp() override
    {
        SKIP_UNDER_THREAD_SANITIZER();
#if defined(__SANITIZE_ADDRESS__)
        GTEST_SKIP() << "the allocator is AddressSanitizer's: it has no C-library heap to corrupt and "
                        "none of the C library's allocator locks to hold";
#endif
    }

    CrashTestRunner runner;
    QString report;

    // The one report of an access violation in the C library, with the crashed thread's return
    // addresses back into crash-test.
    void expectReportFromLibc(const CrashRun& run, const QString& access)
    {
        ASSERT_TRUE(run.finished) << "no end within the bound";
        EXPECT_FALSE(run.killedBySignal) << run.err.toStdString();
        EXPECT_EQ(run.exitCode, kClosedByReporter) << run.err.toStdString();
        const QStringList reports = run.reports();
        ASSERT_EQ(reports.size(), 1) << run.report.left(2000).toStdString() << run.err.toStdString();
        EXPECT_EQ(HeaderValue(reports[0], "exception class"), "EAccessViolation");
        const QString message = HeaderValue(reports[0], "exception message");
        EXPECT_TRUE(message.contains("in module 'libc.so.6'")) << message.toStdString();
        EXPECT_TRUE(message.contains(access)) << message.toStdString();
        EXPECT_FALSE(HeaderValue(reports[0], "process id").isEmpty());
        EXPECT_TRUE(reports[0].contains(" crash-test +")) << reports[0].toStdString();
        report = reports[0];
    }
};

} // namespace

TEST_F(AllocatorFaults, AFaultInsideMallocHoldingItsLockIsReported)
{
    expectReportFromLibc(runner.run({"malloc-fault"}, kBoundMs), "Read of address 0000000000000020");
    EXPECT_TRUE(report.contains(" malloc +")) << "the exported routine is named";
}

TEST_F(AllocatorFaults, AFaultInMallocsOwnCodeIsReported)
{
    // The broken cache would fault again at the report's first allocation of that size.
    expectReportFromLibc(runner.run({"malloc-cache-fault"}, kBoundMs), "Read of address 0000000000000010");
    EXPECT_TRUE(report.section("\r\n", 10, 10).contains(" malloc +")) << "the fault's own line names it";
}

TEST_F(AllocatorFaults, AFaultWhileAnotherThreadHoldsTheAllocatorLockIsReported)
{
    // One arena: the parked thread's lock is the one the handler thread needs too.
    runner.environment["GLIBC_TUNABLES"] = "glibc.malloc.arena_max=1";
    const CrashRun run = runner.run({"locked-allocator"}, kBoundMs);
    EXPECT_FALSE(run.err.contains("not caught held")) << "the case did not hold the lock";
    expectReportFromLibc(run, "Write of address 0000000000000000");
}
