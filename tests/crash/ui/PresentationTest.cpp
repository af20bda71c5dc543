// Presentations without a window of their own, and the screenshot where no X server is.
#include "ReportFixture.h"
#include "crash/ui/CrashWindows.h"
#include "crash/ui/ScreenCapture.h"

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
