// The dialog in a process of its own: what travels in the request file, and the choice that comes
// back through the pipe when the user (a real X key from another program) or the countdown decides.
#include "crash/ui/DialogProcess.h"
#include "ReportFixture.h"
#include "crash/core/handler/HandleException.h"
#include "crash/ui/CrashWindows.h"
#include "support/TempDir.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QProcess>
#include <gtest/gtest.h>

using crash::PresentRequest;
using crash::UserChoice;

TEST(DialogProcess, RequestFileCarriesReportSettingsAndScreenshot)
{
    testsupport::TempDir dir;
    PresentRequest request;
    request.report = crashtest::MakeReport("Not find rcc.exe", false);
    crashtest::FillReport(*request.report);
    request.report->setAutoClose(1);
    request.report->setCloseBtnTxt("quit now");
    QImage shot(20, 10, QImage::Format_RGB32);
    shot.fill(Qt::blue);
    request.report->setScreenshot(shot);
    request.presentation = 2;
    const crash::ui::ReporterState reporter{true, {1765100000, 1765099990}};
    ASSERT_TRUE(crash::ui::SaveDialogRequest(request, dir.file("request"), reporter));

    crash::ui::ReporterState loadedReporter;
    const auto loaded = crash::ui::LoadDialogRequest(dir.file("request"), &loadedReporter);
    ASSERT_TRUE(loaded.has_value());
    EXPECT_TRUE(loadedReporter.processBlocked) << "save and print beep in the dialog process too";
    EXPECT_EQ(loadedReporter.history, reporter.history);
    const auto& copy = *loaded->report;
    EXPECT_EQ(loaded->presentation, 2);
    EXPECT_FALSE(copy.canContinue());
    EXPECT_EQ(copy.exceptionMessage(), "Not find rcc.exe");
    EXPECT_EQ(copy.AutoClose(), 1);
    EXPECT_EQ(copy.CloseBtnTxt(), "quit now");
    EXPECT_EQ(copy.header().items(), request.report->header().items());
    EXPECT_EQ(copy.sections().items(), request.report->sections().items());
    EXPECT_EQ(copy.reportText(), request.report->reportText());
    EXPECT_EQ(copy.screenshot().convertToFormat(QImage::Format_RGB32), shot);

    // A damaged file is refused rather than shown half.
    QFile file(dir.file("request"));
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    file.resize(file.size() / 2);
    file.close();
    EXPECT_FALSE(crash::ui::LoadDialogRequest(dir.file("request")).has_value());
    EXPECT_FALSE(crash::ui::LoadDialogRequest(dir.file("missing")).has_value());
}

TEST(DialogProcess, CountdownInTheDialogProcessDecidesForAFrozenProgram)
{
    // AutoClose 30 applies there because this process's ten exceptions within 30 s go along.
    const auto saved = crash::History().times();
    for (int i = 0; i < crash::ExceptionHistory::kSlots; ++i)
        crash::History().record(std::uint64_t(QDateTime::currentSecsSinceEpoch()));
    PresentRequest request;
    request.report = crashtest::MakeReport(QString(), true, true);
    request.report->setAutoClose(30);
    request.report->setAutoContinue(true); // what counts down when the rule does not apply
    request.report->setAutoDelay(1);
    request.mainThreadAvailable = false;
    request.beep = false;
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(crash::ui::Present(request, {}), UserChoice::Close);
    EXPECT_GE(clock.elapsed(), 1000) << "the countdown ran";
    crash::History().assign(saved);
}

TEST(DialogProcess, KeyFromAnotherProgramReachesTheDialogProcess)
{
    PresentRequest request;
    request.report = crashtest::MakeReport("Stack overflow");
    request.presentation = 3; // the small box: titled after the program
    request.mainThreadAvailable = false;
    request.beep = false;
    QProcess xdotool;
    xdotool.start("timeout", {"20", "xdotool", "search", "--sync", "--onlyvisible", "--name",
                              "^test_crash_ui_windows$", "windowfocus", "--sync", "key", "Return"});
    ASSERT_TRUE(xdotool.waitForStarted(5000));
    EXPECT_EQ(crash::ui::Present(request, {}), UserChoice::Continue) << "OK has the focus; Enter presses it";
    xdotool.waitForFinished(20000);
    EXPECT_EQ(xdotool.exitCode(), 0) << xdotool.readAllStandardError().toStdString();
}
