// Presentations without a window of their own, the handling flow's handlers and history around the
// dialog's actions, and the screenshot where no X server is.
#include "ReportFixture.h"
#include "crash/core/handler/HandleException.h"
#include "crash/core/handler/HandlerRegistry.h"
#include "crash/ui/CrashWindows.h"
#include "crash/ui/ScreenCapture.h"
#include "support/MessageBoxRecorder.h"
#include "support/TempDir.h"

#include <QDateTime>
#include <QFile>
#include <QGuiApplication>
#include <gtest/gtest.h>

using crash::UserChoice;

TEST(Presentation, AssistantAloneSendsWhenCompletedAndNothingShowsForFour)
{
    crash::PresentRequest request;
    request.report = crashtest::MakeReport("Not find rcc.exe", false);
    request.presentation = 1; // no assistant configured for this exception: it completes at once
    int sent = 0;
    crash::ui::DialogActions actions;
    actions.send = [&](const auto& report, QWidget*) {
        ++sent;
        EXPECT_TRUE(report->SendAssis().isEmpty()) << "the assistant is not run a second time";
        return true;
    };
    EXPECT_EQ(crash::ui::PresentHere(request, actions), UserChoice::Close) << "it cannot continue";
    EXPECT_EQ(sent, 1);

    request.presentation = 4;
    EXPECT_EQ(crash::ui::PresentHere(request, actions), UserChoice::None);
    EXPECT_EQ(sent, 1);
}

TEST(Presentation, NoScreenshotWithoutAnXServer)
{
    ASSERT_EQ(QGuiApplication::platformName(), "offscreen");
    EXPECT_TRUE(crash::ui::ScreenCapture::capture(false).isNull());
    EXPECT_TRUE(crash::ui::ScreenCapture::capture(true).isNull());
}

TEST(Presentation, RegisteredHandlersTakeOrFollowTheDialogsActions)
{
    using crash::ExceptionAction;
    QList<ExceptionAction> seen;
    const int id =
        crash::HandlerRegistry::instance().add(crash::HandlerEvent::Action, [&](crash::HandlerCall& call) {
            seen << call.action;
            call.handled = call.action == ExceptionAction::Save || call.action == ExceptionAction::Print;
        });
    const auto previousSend = crash::Services().send;
    crash::Services().send = [](const crash::SendRequest&) { return true; };
    auto report = crashtest::MakeReport();
    report->setSendAssis(QString());
    const auto actions = crash::ui::HandlingFlowDialogActions(report);
    EXPECT_TRUE(actions.send(report, nullptr));
    EXPECT_FALSE(actions.save(report, nullptr)) << "taken by a handler: no file dialog";
    EXPECT_FALSE(actions.print(report, nullptr)) << "taken by a handler: no print dialog";
    EXPECT_FALSE(actions.fireHandlers(crash::ui::ActionCode::Help));
    crash::Services().send = previousSend;
    crash::HandlerRegistry::instance().remove(id);
    EXPECT_EQ(seen,
              QList<ExceptionAction>({ExceptionAction::Send, ExceptionAction::SendDone, ExceptionAction::Save,
                                      ExceptionAction::Print, ExceptionAction(10)}));

    // AutoClose 30 applies once ten exceptions fell within 30 seconds.
    const auto saved = crash::History().times();
    crash::History().assign({});
    EXPECT_TRUE(actions.autoRuleApplies(1));
    EXPECT_FALSE(actions.autoRuleApplies(30));
    for (int i = 0; i < crash::ExceptionHistory::kSlots; ++i)
        crash::History().record(std::uint64_t(QDateTime::currentSecsSinceEpoch()));
    EXPECT_TRUE(actions.autoRuleApplies(30));
    crash::History().assign(saved);
}

// A program that registered no delivery: the dialog's send says so and the report is kept.
TEST(Presentation, DialogSendWithoutADeliveryIsAnInternalErrorAndSavesTheReport)
{
    ASSERT_FALSE(crash::Services().send) << "this program registers no delivery";
    testsupport::TempDir dir;
    testsupport::MessageBoxRecorder boxes;
    auto report = crashtest::MakeReport();
    crashtest::FillReport(*report);
    report->setSendAssis(QString());
    report->setAutoSave(false);
    report->setBugRepFile(dir.file("bugreport.txt"));
    EXPECT_FALSE(crash::ui::DefaultDialogActions().send(report, nullptr));
    EXPECT_EQ(boxes.boxes(), QStringList{"Halvorn|internal error (no report delivery registered)"});
    EXPECT_TRUE(
        QString::fromUtf8(testsupport::ReadAll(dir.file("bugreport.txt"))).contains("Not find rcc.exe."));

    // With AutoSave the handling saves it after the dialog: not twice.
    QFile::remove(dir.file("bugreport.txt"));
    report->setAutoSave(true);
    EXPECT_FALSE(crash::ui::DefaultDialogActions().send(report, nullptr));
    EXPECT_FALSE(QFile::exists(dir.file("bugreport.txt")));
}
