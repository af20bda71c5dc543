// The progress window under a real X server: its look, updates from another thread, and the
// stacking of several processes' windows at the bottom right.
#include "ReportFixture.h"
#include "WindowShots.h"
#include "crash/ui/CrashWindows.h"
#include "crash/ui/TIProgressAlert.h"

#include <QLabel>
#include <QProcess>
#include <QProgressBar>
#include <QScreen>
#include <gtest/gtest.h>
#include <thread>

using crash::ui::TIProgressAlert;

namespace {

struct Placement
{
    int slot = -1, x = 0, y = 0, width = 0, height = 0;
};

Placement ReadPlacement(QProcess& helper)
{
    Placement p;
    if (!helper.waitForReadyRead(10000))
        return p;
    const QStringList parts = QString::fromLatin1(helper.readLine()).split(' ');
    if (parts.size() == 5)
        p = {parts[0].toInt(), parts[1].toInt(), parts[2].toInt(), parts[3].toInt(), parts[4].toInt()};
    return p;
}

void StartHelper(QProcess& helper)
{
    helper.start(QStringLiteral(PROGRESS_ALERT_HELPER), {});
    ASSERT_TRUE(helper.waitForStarted(5000));
}

void EndHelper(QProcess& helper)
{
    helper.write("\n");
    helper.waitForBytesWritten(2000);
    helper.closeWriteChannel();
    if (!helper.waitForFinished(10000))
        helper.kill();
    helper.waitForFinished(2000);
}

} // namespace

TEST(ProgressAlert, ShowsTheCurrentStepAndFollowsUpdatesFromOtherThreads)
{
    TIProgressAlert alert("Send Assistant");
    alert.addStep("Prepare attachments...", 100);
    alert.addStep("Sending the bug report to the server of the program's maker, which can take a while...",
                  5000);
    alert.addStep("Finalizing...", 100);
    alert.show(true);
    auto* window = alert.window();
    ASSERT_NE(window, nullptr);
    crashtest::WaitUntilActive(window);
    EXPECT_EQ(window->windowTitle(), "Send Assistant");
    EXPECT_EQ(window->label()->text(), "Prepare attachments...");
    EXPECT_EQ(window->label()->x(), 11);
    EXPECT_GE(window->label()->width(), 220);
    EXPECT_LE(window->label()->width(), 420);
    const QRect screen = window->screen()->availableGeometry();
    EXPECT_LE(std::abs(window->geometry().center().x() - screen.center().x()), 1)
        << "centred in the foreground";

    std::thread sender([&] {
        alert.stepDone();
        alert.setStepPosition(500);
    });
    sender.join();
    QTest::qWait(100);
    EXPECT_EQ(window->bar()->value(), (100 + 2500) * 1000 / 5200);
    EXPECT_TRUE(window->label()->text().startsWith("Sending the bug report"));
    crashtest::ShootWindow(window, "progress-window");

    window->close(); // the close box does nothing until the driver closes it
    EXPECT_TRUE(window->isVisible());
    alert.setCurrentStep(3);
    EXPECT_EQ(window->bar()->value(), 1000);
    QPointer<QWidget> guard(window);
    alert.close();
    QTest::qWait(50);
    EXPECT_TRUE(guard.isNull());
}

TEST(ProgressAlert, ASendInTheForegroundKeepsTheDialogDisabledUntilItsWindowCloses)
{
    QWidget dialog;
    dialog.show();
    dialog.activateWindow();
    crashtest::WaitUntilActive(&dialog);
    auto report = crashtest::MakeReport();
    report->setSendAssis(QString());
    report->setSendInBackgr(false);
    bool shown = false, enabledBesideBackground = false, enabledUnderForeground = true;
    const auto previous = crash::Services().send;
    crash::Services().send = [&](const crash::SendRequest&) {
        TIProgressAlert background("Halvorn"); // a background send's window has no owner
        background.show(false);
        enabledBesideBackground = dialog.isEnabled();
        TIProgressAlert foreground("Send Assistant");
        foreground.show(true);
        shown = foreground.window() != nullptr;
        crashtest::WaitUntilActive(foreground.window());
        enabledUnderForeground = dialog.isEnabled();
        return true;
    };
    EXPECT_TRUE(crash::ui::DefaultDialogActions().send(report, &dialog));
    crash::Services().send = previous;
    EXPECT_TRUE(shown);
    EXPECT_TRUE(enabledBesideBackground);
    EXPECT_FALSE(enabledUnderForeground);
    EXPECT_TRUE(dialog.isEnabled());
    EXPECT_TRUE(QTest::qWaitForWindowActive(&dialog, 3000)) << "activated again";
}

TEST(ProgressAlert, PleaseWaitWhenNoStepWasAdded)
{
    TIProgressAlert alert("Halvorn");
    alert.show(true);
    ASSERT_NE(alert.window(), nullptr);
    EXPECT_EQ(alert.window()->label()->text(), "Please wait...");
    alert.close();
}

TEST(ProgressAlert, WindowsOfTwoProcessesStandOneAboveTheOther)
{
    QProcess first, second, third;
    StartHelper(first);
    const Placement a = ReadPlacement(first);
    StartHelper(second);
    const Placement b = ReadPlacement(second);
    crashtest::ShootScreen("progress-windows-stacked");
    ASSERT_GE(a.slot, 0);
    EXPECT_EQ(b.slot, a.slot + 1);
    EXPECT_EQ(b.x + b.width, a.x + a.width);
    EXPECT_EQ(b.y, a.y - a.height);
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    if (a.slot == 0) {
        EXPECT_EQ(a.x + a.width, screen.right() + 1 - 2);
        EXPECT_EQ(a.y + a.height, screen.bottom() + 1 - 2);
    }

    // A process that dies holding its place does not keep it.
    first.kill();
    first.waitForFinished(5000);
    StartHelper(third);
    const Placement c = ReadPlacement(third);
    EXPECT_EQ(c.slot, a.slot);
    EndHelper(second);
    EndHelper(third);
}
