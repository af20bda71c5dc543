// The automatic rules, the freeze watchdog, restart and the paths crash-test cannot take.
#include "CrashTestRunner.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QFile>
#include <QSet>
#include <QThread>

using namespace crashtests;

namespace {
constexpr int kClosedByReporter = 3;
constexpr int kRestarted = 2;
} // namespace

TEST(CrashRules, AutoClose30ClosesOnTheTenthExceptionButNotTheNinth)
{
    SKIP_UNDER_THREAD_SANITIZER();
    CrashTestRunner nine;
    nine.settings["AutoClose"] = "30";
    const CrashRun ran9 = nine.run({"exception", "9"});
    EXPECT_EQ(ran9.exitCode, 0);
    EXPECT_EQ(ran9.reports().size(), 9);

    CrashTestRunner ten;
    ten.settings["AutoClose"] = "30";
    const CrashRun ran10 = ten.run({"exception", "12"});
    EXPECT_EQ(ran10.exitCode, kClosedByReporter);
    EXPECT_EQ(ran10.reports().size(), 10) << "closed on the tenth, saving its report first";
}

TEST(CrashRules, AutoRestartStartsANewProcessThatInheritsTheHistory)
{
    SKIP_UNDER_THREAD_SANITIZER();
    // Every exception restarts; the history travels along, so the tenth process's exception is the
    // tenth within 30 s and closes.
    CrashTestRunner runner;
    runner.settings["AutoRestart"] = "1";
    runner.settings["AutoClose"] = "30";
    const CrashRun first = runner.run({"exception", "5"});
    EXPECT_EQ(first.exitCode, kRestarted);
    QElapsedTimer waited;
    waited.start();
    int count = 0;
    while (waited.elapsed() < 120000) {
        QFile file(runner.reportFile());
        if (file.open(QIODevice::ReadOnly)) {
            CrashRun seen;
            seen.report = QString::fromUtf8(file.readAll());
            count = static_cast<int>(seen.reports().size());
            if (count >= 10)
                break;
        }
        QThread::msleep(200);
    }
    QThread::msleep(1500); // a further (wrong) restart would add an eleventh
    QFile file(runner.reportFile());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    CrashRun all;
    all.report = QString::fromUtf8(file.readAll());
    const QStringList reports = all.reports();
    ASSERT_EQ(reports.size(), 10);
    QSet<QString> processes;
    for (const QString& r : reports)
        processes.insert(HeaderValue(r, "process id"));
    EXPECT_EQ(processes.size(), 10) << "each report from a new process";
}

TEST(CrashRules, FreezeIsReportedAsEFrozenAndEachFurtherReportWaitsHalfAsLongAgain)
{
    SKIP_UNDER_THREAD_SANITIZER();
    CrashTestRunner runner;
    runner.settings["CheckFreeze"] = "True";
    runner.settings["FreezeTimeout"] = "1000";
    // Reports after about 1 s and 2.5 s; without the 1.5x growth there would be one at 2 s and 3 s too.
    const CrashRun run = runner.run({"freeze", "4"});
    EXPECT_EQ(run.exitCode, 0);
    const QStringList reports = run.reports();
    ASSERT_EQ(reports.size(), 2) << run.err.toStdString();
    EXPECT_EQ(HeaderValue(reports[0], "exception message"), "The application seems to be frozen.");
    // The frozen main thread comes first, caught in the busy function.
    const QString firstSection = reports[0].section("\r\n\r\n", 1, 1);
    EXPECT_TRUE(firstSection.startsWith("main thread")) << firstSection.left(200).toStdString();
    EXPECT_TRUE(firstSection.contains("Freeze")) << firstSection.left(600).toStdString();
}

TEST(CrashRules, EightThreadsFaultingAtOnceGiveEightReportsAndTheProgramGoesOn)
{
    SKIP_UNDER_THREAD_SANITIZER();
    CrashTestRunner runner;
    const CrashRun run = runner.runVictim("eight-faults");
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 0);
    const QStringList reports = run.reports();
    EXPECT_EQ(reports.size(), 8) << run.err.toStdString();
    QSet<QString> threads;
    for (const QString& report : reports) {
        EXPECT_EQ(HeaderValue(report, "exception class"), "EAccessViolation");
        threads.insert(report.section("\r\n\r\n", 1, 1).section("\r\n", 0, 0)); // first section's title
    }
    EXPECT_EQ(threads.size(), 8) << "each report names its own crashed thread first";
}

TEST(CrashRules, AReportBeingMadeWhenTheProgramEndsIsFinishedBeforeTheEnd)
{
    CrashTestRunner runner;
    runner.settings["Plugins"] = "slow";
    const CrashRun run = runner.runVictim("exit-while-reporting");
    ASSERT_TRUE(run.finished) << "hung";
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    const QStringList reports = run.reports();
    ASSERT_EQ(reports.size(), 1) << run.err.toStdString();
    EXPECT_TRUE(reports[0].contains("slow section done")) << reports[0].left(300).toStdString();
}

TEST(CrashRules, AThreadEndingAfterTheStaticObjectsAreDestroyedLetsTheProgramEndCleanly)
{
    // The thread leaves the reporter's thread wrapper while the exit has already destroyed the
    // program's static objects; the wrapper's bookkeeping must still be there.
    CrashTestRunner runner;
    const CrashRun run = runner.runVictim("thread-ends-after-statics", 40000);
    ASSERT_TRUE(run.finished) << "hung";
    EXPECT_FALSE(run.killedBySignal) << run.err.toStdString();
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_TRUE(run.report.isEmpty()) << run.report.left(2000).toStdString();
}

TEST(CrashRules, DoubleFreeCaughtByTheCLibraryIsReportedAndNeverHangs)
{
    CrashTestRunner runner;
    const CrashRun run = runner.runVictim("double-free", 90000);
    ASSERT_TRUE(run.finished) << "hung";
    EXPECT_EQ(run.exitCode, kClosedByReporter);
    ASSERT_EQ(run.reports().size(), 1) << run.err.toStdString();
    EXPECT_EQ(HeaderValue(run.reports()[0], "exception message"), "Abnormal program termination");
    // The C library let go of its allocator's lock before it aborted: the usual report, not the short
    // one written without the allocator.
    EXPECT_FALSE(HeaderValue(run.reports()[0], "callstack crc").isEmpty()) << run.reports()[0].toStdString();
}

TEST(CrashRules, ConsoleProgramWritesTheMessageAndTheReportToStandardOutput)
{
    CrashTestRunner runner;
    runner.settings["GnShowCfg"] = "0";
    runner.settings["AutoShowBugRep"] = "True";
    const CrashRun run = runner.runVictim("console");
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(run.out.startsWith("An error occurred in the application.\n\n"))
        << run.out.left(300).toStdString();
    EXPECT_TRUE(run.out.contains("console victim exception"));
    EXPECT_TRUE(run.out.contains("date/time"));
}
