// What a program gets from starting the reporter alone (crash-test registers no sections and, run
// without its windows, no delivery): the built-in sections its Plugins setting names, and a send
// that cannot happen failing where it can be seen.
#include "CrashTestRunner.h"

#include <QFile>
#include <gtest/gtest.h>

using namespace crashtests;

namespace {

struct ReporterBuiltIns : ::testing::Test
{
    void SetUp() override { SKIP_UNDER_THREAD_SANITIZER(); }

    CrashTestRunner runner;
};

bool HasSection(const QString& report, const QString& title)
{
    return report.contains("\r\n\r\n" + title + ":\r\n");
}

} // namespace

TEST_F(ReporterBuiltIns, SectionsComeAsPluginsNamesThem)
{
    {
        const CrashRun run = runner.run({"exception"});
        ASSERT_EQ(run.reports().size(), 1) << run.err.toStdString();
        const QString report = run.reports()[0];
        for (const char* title : {"modules", "processes", "hardware"})
            EXPECT_TRUE(HasSection(report, title)) << title << "\n" << report.left(3000).toStdString();
        // Filled in, not left as the first text's placeholder.
        EXPECT_FALSE(report.contains("will be calculated soon")) << report.left(3000).toStdString();
        EXPECT_TRUE(report.contains("crash-test")) << "the program is among the modules and processes";
    }
    // An unknown name is skipped and the order is the setting's.
    runner.settings["Plugins"] = "'processes|no-such-plugin|modules'";
    QFile::remove(runner.reportFile());
    const CrashRun run = runner.run({"exception"});
    ASSERT_EQ(run.reports().size(), 1) << run.err.toStdString();
    const QString report = run.reports()[0];
    EXPECT_FALSE(HasSection(report, "hardware"));
    EXPECT_FALSE(HasSection(report, "no-such-plugin"));
    const qsizetype processes = report.indexOf("\r\n\r\nprocesses:\r\n");
    const qsizetype modules = report.indexOf("\r\n\r\nmodules:\r\n");
    ASSERT_GE(processes, 0);
    ASSERT_GE(modules, 0);
    EXPECT_LT(processes, modules);
}

TEST_F(ReporterBuiltIns, AutoSendWithoutADeliveryIsAnInternalErrorAndTheReportIsSaved)
{
    runner.settings["AutoSend"] = "True";
    runner.settings["AutoSave"] = "False"; // so the save can only come from the failed send
    const CrashRun run = runner.run({"exception"});
    EXPECT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(run.err.contains("internal error (no report delivery registered)")) << run.err.toStdString();
    ASSERT_EQ(run.reports().size(), 1) << run.err.toStdString();
    EXPECT_EQ(HeaderValue(run.reports()[0], "exception message"), "crash-test exception");
}
