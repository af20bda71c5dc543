// The dialog in a process of its own: what travels in the request file, and the choice that comes
// back through the pipe when the user (a real X key from another program) or the countdown decides.
#include "crash/ui/DialogProcess.h"
#include "ReportFixture.h"
#include "WindowShots.h"
#include "crash/core/handler/HandleException.h"
#include "crash/ui/CrashWindows.h"
#include "crash/ui/TExceptionBox.h"
#include "support/TempDir.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QProcess>
#include <QTabBar>
#include <QTest>
#include <gtest/gtest.h>
#include <thread>

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

// The dialog process is handed the first text; the completed report follows as a message, and
// its dialog takes it in as the in-process dialog takes a completion.
TEST(DialogProcess, CompletedReportReplacesTheFirstTextAndTheTabsFollow)
{
    testsupport::TempDir dir;
    PresentRequest request;
    request.report = crashtest::MakeReport();
    auto& first = *request.report;
    first.header().setAcceptingData(true);
    first.sections().setAcceptingData(true);
    first.header().setField("exception message", "Not find rcc.exe.");
    first.sections().setField("main thread ($1a2b)", ">> will be calculated soon");
    ASSERT_TRUE(crash::ui::SaveDialogRequest(request, dir.file("request")));
    const auto loaded = crash::ui::LoadDialogRequest(dir.file("request"));
    ASSERT_TRUE(loaded.has_value());
    auto shown = loaded->report;
    ASSERT_FALSE(shown->isComplete());
    shown->setAutoShowBugRep(true);
    crash::ui::TExceptionBox box(shown, crash::ui::TExceptionBox::FullDialog, {});
    box.open(false);
    crashtest::WaitUntilActive(&box);
    ASSERT_EQ(box.tabBar()->count(), 2);

    // Completion in the reporting process: stacks, plugin sections, the checksum.
    auto completed = crashtest::MakeReport();
    crashtest::FillReport(*completed);
    completed->header().setField("callstack crc", "0a1b2c3d-4e5f6071-8293a4b5");
    const QByteArray message = crash::ui::CompletedReportMessage(*completed);

    const crash::ui::HandedOverReport handedOver{shown->header().items(), shown->sections().items()};

    // A cut or foreign message changes nothing.
    EXPECT_FALSE(crash::ui::ApplyCompletedReport(message.left(message.size() - 3), *shown, handedOver));
    EXPECT_FALSE(crash::ui::ApplyCompletedReport(QByteArray("garbage"), *shown, handedOver));
    EXPECT_FALSE(shown->isComplete());
    EXPECT_EQ(shown->sections().field("main thread ($1a2b)"), ">> will be calculated soon");

    // The send assistant's fields, filled in while the report was being completed, stay.
    shown->header().setField("contact e-mail", "tester@example.org");
    shown->sections().setField("error details", "pressed Make twice");
    std::thread arrival([&] { EXPECT_TRUE(crash::ui::ApplyCompletedReport(message, *shown, handedOver)); });
    arrival.join();
    EXPECT_TRUE(shown->isComplete());
    EXPECT_EQ(shown->header().field("contact e-mail"), "tester@example.org");
    EXPECT_EQ(shown->sections().field("error details"), "pressed Make twice");
    shown->header().setField("contact e-mail", "");
    shown->sections().setField("error details", "");
    EXPECT_EQ(shown->reportText(true), completed->reportText());
    QTest::qWait(200);
    QStringList titles;
    for (int i = 0; i < box.tabBar()->count(); ++i)
        titles << box.tabBar()->tabText(i);
    EXPECT_EQ(titles, QStringList({"general", "call stacks", "modules", "processes", "hardware", "cpu regs",
                                   "stack dump", "disasm"}));
    crashtest::ShootWindow(&box, "dialog-process-completed-report");
    box.close();
}
