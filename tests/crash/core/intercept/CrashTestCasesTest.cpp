// Each crash-test case once: what reaches the report file, and whether the program went on.
#include "CrashTestRunner.h"

#include <gtest/gtest.h>

using namespace crashtests;

namespace {

constexpr int kClosedByReporter = 3;

struct CrashTestCases : ::testing::Test
{
    void SetUp() override { SKIP_UNDER_THREAD_SANITIZER(); }

    CrashTestRunner runner;

    // One report of `className` whose message contains `message`; the run ended as expected.
    QString expectOneReport(const CrashRun& run, const QString& className, const QString& message)
    {
        EXPECT_TRUE(run.finished) << "crash-test did not end in time";
        const QStringList reports = run.reports();
        EXPECT_EQ(reports.size(), 1) << run.report.left(2000).toStdString() << run.err.toStdString();
        if (reports.isEmpty())
            return {};
        EXPECT_EQ(HeaderValue(reports[0], "exception class"), className);
        EXPECT_TRUE(HeaderValue(reports[0], "exception message").contains(message))
            << HeaderValue(reports[0], "exception message").toStdString();
        return reports[0];
    }
};

} // namespace

TEST_F(CrashTestCases, ExceptionInAnEventHandlerIsReportedWithItsThrowSiteAndTheProgramGoesOn)
{
    const CrashRun run = runner.run({"exception", "2"});
    EXPECT_EQ(run.exitCode, 0);
    const QStringList reports = run.reports();
    ASSERT_EQ(reports.size(), 2) << run.err.toStdString();
    EXPECT_EQ(HeaderValue(reports[0], "exception class"), "Exception");
    EXPECT_EQ(HeaderValue(reports[0], "exception message"), "crash-test exception");
    EXPECT_FALSE(HeaderValue(reports[0], "computer name").isEmpty());
    EXPECT_FALSE(HeaderValue(reports[0], "executable").isEmpty());
    // The raise-time stack puts the throw site into the crashed thread's listing, also where a
    // sanitizer's own __cxa_throw fills the executable's import slot.
    EXPECT_TRUE(reports[0].contains("ThrowException")) << reports[0].left(4000).toStdString();
}

TEST_F(CrashTestCases, EAbortGivesNoReport)
{
    const CrashRun run = runner.run({"abort-exception", "2"});
    EXPECT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(run.report.isEmpty()) << run.report.left(500).toStdString();
}

TEST_F(CrashTestCases, NullWriteInAnEventHandlerIsAnAccessViolationAndASecondOneIsCaughtToo)
{
    const CrashRun run = runner.run({"null-write", "2"});
    EXPECT_EQ(run.exitCode, 0);
    const QStringList reports = run.reports();
    ASSERT_EQ(reports.size(), 2) << run.err.toStdString();
    for (const QString& report : reports) {
        EXPECT_EQ(HeaderValue(report, "exception class"), "EAccessViolation");
        EXPECT_TRUE(HeaderValue(report, "exception message").contains("Write of address 0000000000000000"));
        EXPECT_TRUE(report.contains("\r\ncpu registers")) << "a fault lists the registers";
        EXPECT_TRUE(report.contains("WriteNull"));
    }
}

TEST_F(CrashTestCases, DivisionByZeroIsEDivByZero)
{
    const CrashRun run = runner.run({"div-zero"});
    EXPECT_EQ(run.exitCode, 0);
    expectOneReport(run, "EDivByZero", "Division by zero at address");
}

TEST_F(CrashTestCases, ExceptionLeavingAWorkerThreadIsReported)
{
    const CrashRun run = runner.run({"worker-exception"});
    expectOneReport(run, "Exception", "crash-test exception");
}

TEST_F(CrashTestCases, NullWriteInAWorkerThreadIsReportedWithThatThreadFirst)
{
    const CrashRun run = runner.run({"worker-null-write"});
    const QString report = expectOneReport(run, "EAccessViolation", "Write of address");
    EXPECT_TRUE(report.contains("WriteNull"));
}

TEST_F(CrashTestCases, ExceptionInANamedQThreadIsReportedAsThatThreadsAndCloses)
{
    // QThread's start routine catches everything and terminates: nothing can unwind past that.
    const CrashRun run = runner.run({"qthread-exception"});
    EXPECT_EQ(run.exitCode, kClosedByReporter);
    const QString report = expectOneReport(run, "Exception", "crash-test exception");
    EXPECT_TRUE(report.contains("crash-test worker")) << "the thread's name titles its section";
}

TEST_F(CrashTestCases, TerminateAndAbortCannotContinue)
{
    for (const char* which : {"terminate", "abort"}) {
        CrashTestRunner fresh;
        const CrashRun run = fresh.run({which});
        EXPECT_EQ(run.exitCode, kClosedByReporter) << which;
        EXPECT_FALSE(run.killedBySignal) << which;
        expectOneReport(run, "EAbnormalTermination", "Abnormal program termination");
    }
}

TEST_F(CrashTestCases, PureVirtualCallIsReportedAndCloses)
{
    const CrashRun run = runner.run({"pure-virtual"});
    EXPECT_EQ(run.exitCode, kClosedByReporter);
    // Reached through the virtual table's entry, not through terminate.
    expectOneReport(run, "ERuntimeError", "Pure virtual function called");
}

TEST_F(CrashTestCases, StackSmashingIsReportedAndCloses)
{
    const CrashRun run = runner.run({"stack-smash"});
    EXPECT_EQ(run.exitCode, kClosedByReporter);
    expectOneReport(run, "ERuntimeError", "Stack buffer overrun detected");
}

TEST_F(CrashTestCases, StackOverflowOnTheMainThreadIsReported)
{
    const CrashRun run = runner.run({"stack-overflow"});
    expectOneReport(run, "EStackOverflow", "Stack overflow at address");
}

TEST_F(CrashTestCases, StackOverflowOnAWorkerThreadIsReported)
{
    const CrashRun run = runner.run({"worker-stack-overflow"});
    expectOneReport(run, "EStackOverflow", "Stack overflow at address");
}

TEST_F(CrashTestCases, NullWriteOutsideAnyHandlerIsReportedInPlaceAndCloses)
{
    const CrashRun run = runner.run({"main-null-write-outside-handler"});
    EXPECT_EQ(run.exitCode, kClosedByReporter);
    EXPECT_FALSE(run.killedBySignal);
    expectOneReport(run, "EAccessViolation", "Write of address");
}
