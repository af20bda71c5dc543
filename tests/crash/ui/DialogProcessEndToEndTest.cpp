// A program whose main thread cannot show a dialog (frozen, or faulted outside every event
// handler): the crash-test program runs on the real X display, its dialog comes up in a dialog
// process, real key presses there decide, and the program goes on, ends or restarts as chosen.
#include "CrashTestRunner.h"
#include "LocalServers.h"
#include "WindowShots.h"

#include <QDeadlineTimer>
#include <QJsonArray>
#include <QProcess>
#include <QRegularExpression>
#include <QThread>
#include <chrono>
#include <future>
#include <gtest/gtest.h>
#include <optional>

using crashtests::CrashRun;
using crashtests::HeaderValue;

namespace {

constexpr int kRestarted = 2;
constexpr int kClosedByReporter = 3;
const QString kDialogTitle = QStringLiteral("crash-test dialog");
// Keys from the focused "send bug report" to a button. The disabled continue button (a fault
// that cannot continue) is skipped on the way.
const QStringList kToContinue{"Tab", "Tab", "Tab"};
const QStringList kToRestartPastContinue{"Tab", "Tab", "Tab", "Tab"};
const QStringList kToRestartWithoutContinue{"Tab", "Tab", "Tab"};
const QStringList kToCloseWithoutContinue{"Tab", "Tab", "Tab", "Tab"};
const QStringList kToClosePastContinue{"Tab", "Tab", "Tab", "Tab", "Tab"};

// xdotool, bounded; its standard output, or nothing when it failed.
std::optional<QString> Xdotool(const QStringList& arguments, int timeoutMs = 20000)
{
    QProcess xdotool;
    xdotool.start(QStringLiteral("timeout"),
                  QStringList{QString::number(timeoutMs / 1000), QStringLiteral("xdotool")} + arguments);
    if (!xdotool.waitForFinished(timeoutMs + 5000)) {
        xdotool.kill();
        xdotool.waitForFinished(5000);
        return std::nullopt;
    }
    if (xdotool.exitStatus() != QProcess::NormalExit || xdotool.exitCode() != 0)
        return std::nullopt;
    return QString::fromUtf8(xdotool.readAllStandardOutput()).trimmed();
}

class DialogProcessEndToEnd : public ::testing::Test
{
protected:
    void SetUp() override
    {
        SKIP_UNDER_THREAD_SANITIZER();
        runner.environment["QT_QPA_PLATFORM"] = "xcb";
        // Each process then warns on its error output, which the runner stops reading when the
        // program it started has ended: a restarted program and its dialog process write there.
        runner.environment["XDG_RUNTIME_DIR"] = "";
        runner.settings["GnShowCfg"] = "0"; // the full dialog, as shipped
        runner.settings["TitleBar"] = "'" + kDialogTitle + "'";
        runner.settings["CheckFreeze"] = "True";
        runner.settings["FreezeTimeout"] = "1000";
    }

    void TearDown() override
    {
        if (running.valid() && running.wait_for(std::chrono::seconds(90)) != std::future_status::ready)
            ADD_FAILURE() << "crash-test did not end";
        // A dialog whose program ended without an answer would stay: its X client is ended.
        if (shownDialogs())
            Xdotool({"search", "--onlyvisible", "--name", "^" + kDialogTitle + "$", "windowkill", "%@"},
                    5000);
    }

    // Starts crash-test with its windows; the run ends within its bound.
    void start(const QStringList& arguments)
    {
        running = std::async(std::launch::async, [this, arguments] {
            return runner.run(QStringList{"--windows"} + arguments, 80000);
        });
    }

    CrashRun result()
    {
        if (running.wait_for(std::chrono::seconds(90)) != std::future_status::ready)
            return {};
        return running.get();
    }

    static std::optional<QString> shownDialogs()
    {
        return Xdotool({"search", "--onlyvisible", "--name", "^" + kDialogTitle + "$"}, 5000);
    }

    // Waits for a shown dialog, keeps a screenshot and returns its window.
    static QString waitForDialog(const QString& shotName)
    {
        const QDeadlineTimer deadline(45000);
        while (!deadline.hasExpired()) {
            if (const auto found = shownDialogs()) {
                QThread::msleep(300); // painted
                crashtest::ShootScreen(shotName);
                return found->section('\n', 0, 0);
            }
            QThread::msleep(200);
        }
        return {};
    }

    // Waits until no dialog is shown; window ids are reused, so a next dialog is told from an
    // answered one only by this gap.
    static bool waitUntilNoDialog()
    {
        const QDeadlineTimer deadline(20000);
        while (!deadline.hasExpired()) {
            if (!shownDialogs())
                return true;
            QThread::msleep(200);
        }
        return false;
    }

    // Real key presses in the dialog's window: moves the focus with `keys`, then Enter.
    static bool press(const QString& window, const QStringList& keys)
    {
        return Xdotool(QStringList{"windowfocus", "--sync", window, "key", "--delay", "50"} + keys +
                       QStringList{"Return"})
            .has_value();
    }

    crashtests::CrashTestRunner runner;
    std::future<CrashRun> running;
};

} // namespace

TEST_F(DialogProcessEndToEnd, FrozenProgramGoesOnAfterContinueAndEndsAfterClose)
{
    start({"freeze", "60"});
    // The frozen main thread cannot show anything: a second process shows the freeze dialog.
    const QString first = waitForDialog("dialog-process-freeze");
    ASSERT_FALSE(first.isEmpty()) << "no freeze dialog appeared";
    ASSERT_TRUE(press(first, kToContinue));
    ASSERT_TRUE(waitUntilNoDialog());
    // The program went on, still frozen: the same freeze is reported again, by the same process.
    const QString second = waitForDialog("dialog-process-freeze-again");
    ASSERT_FALSE(second.isEmpty()) << "the program did not go on after continue";
    ASSERT_TRUE(press(second, kToClosePastContinue));

    const CrashRun run = result();
    ASSERT_TRUE(run.finished) << "crash-test did not end after close";
    EXPECT_EQ(run.exitCode, kClosedByReporter) << run.err.toStdString();
    const QStringList reports = run.reports();
    ASSERT_EQ(reports.size(), 2) << run.err.toStdString();
    for (const QString& report : reports)
        EXPECT_EQ(HeaderValue(report, "exception message"), "The application seems to be frozen.");
    EXPECT_EQ(HeaderValue(reports[0], "process id"), HeaderValue(reports[1], "process id"));
}

TEST_F(DialogProcessEndToEnd, FrozenProgramRestartsAndTheNewProcessReportsItsOwnFreeze)
{
    start({"freeze", "60"});
    const QString first = waitForDialog("dialog-process-freeze-restart");
    ASSERT_FALSE(first.isEmpty()) << "no freeze dialog appeared";
    ASSERT_TRUE(press(first, kToRestartPastContinue));
    const CrashRun run = result();
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, kRestarted) << run.err.toStdString();

    // The new process freezes just the same; closing its dialog ends it too.
    ASSERT_TRUE(waitUntilNoDialog());
    const QString second = waitForDialog("dialog-process-freeze-restarted");
    ASSERT_FALSE(second.isEmpty()) << "the restarted program showed no dialog";
    ASSERT_TRUE(press(second, kToClosePastContinue));
    QStringList reports;
    const QDeadlineTimer deadline(30000);
    while (reports.size() < 2 && !deadline.hasExpired()) {
        QThread::msleep(200);
        CrashRun saved;
        saved.report = QString::fromUtf8(testsupport::ReadAll(runner.reportFile()));
        reports = saved.reports();
    }
    ASSERT_EQ(reports.size(), 2);
    EXPECT_NE(HeaderValue(reports[0], "process id"), HeaderValue(reports[1], "process id"));
    EXPECT_TRUE(waitUntilNoDialog());
}

TEST_F(DialogProcessEndToEnd, MainThreadNullWriteOutsideAnyHandlerIsShownAndClosesWhenAsked)
{
    start({"main-null-write-outside-handler"});
    const QString dialog = waitForDialog("dialog-process-null-write");
    ASSERT_FALSE(dialog.isEmpty()) << "no dialog appeared for the fault";
    ASSERT_TRUE(press(dialog, kToCloseWithoutContinue));
    EXPECT_TRUE(waitUntilNoDialog());

    const CrashRun run = result();
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, kClosedByReporter) << run.err.toStdString();
    EXPECT_FALSE(run.killedBySignal);
    ASSERT_EQ(run.reports().size(), 1) << run.err.toStdString();
    EXPECT_EQ(HeaderValue(run.reports()[0], "exception class"), "EAccessViolation");
    EXPECT_TRUE(HeaderValue(run.reports()[0], "exception message").contains("Write of address"));
}

// A fault that cannot continue still restarts when the user asks for it.
TEST_F(DialogProcessEndToEnd, MainThreadNullWriteOutsideAnyHandlerRestartsWhenAsked)
{
    start({"main-null-write-outside-handler"});
    const QString first = waitForDialog("dialog-process-null-write-restart");
    ASSERT_FALSE(first.isEmpty()) << "no dialog appeared for the fault";
    ASSERT_TRUE(press(first, kToRestartWithoutContinue));
    const CrashRun run = result();
    ASSERT_TRUE(run.finished);
    ASSERT_EQ(run.exitCode, kRestarted) << "restart was chosen; " << run.err.toStdString();

    // The new process faults the same way; closing its dialog ends it.
    ASSERT_TRUE(waitUntilNoDialog());
    const QString second = waitForDialog("dialog-process-null-write-restarted");
    ASSERT_FALSE(second.isEmpty()) << "the program was not started again";
    ASSERT_TRUE(press(second, kToCloseWithoutContinue));
}

// The program ends on its own while its freeze dialog still shows: the report is saved all the
// same, the program ends as it meant to, and the dialog goes with it.
TEST_F(DialogProcessEndToEnd, AFreezeThatEndsWhileItsDialogShowsIsSavedAndTheDialogGoes)
{
    start({"freeze", "10"}); // the dialog shows after about a second (its timeout)
    ASSERT_FALSE(waitForDialog("dialog-process-freeze-recovers").isEmpty()) << "no freeze dialog appeared";
    const CrashRun run = result();
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_TRUE(waitUntilNoDialog()) << "the dialog outlived its program";
    ASSERT_EQ(run.reports().size(), 1) << run.err.toStdString();
    EXPECT_EQ(HeaderValue(run.reports()[0], "exception message"), "The application seems to be frozen.");
}

// A worker thread's exception while the program ends: the main thread no longer takes a dialog, so
// the report is saved without one and the program ends as it meant to.
TEST_F(DialogProcessEndToEnd, AWorkerExceptionWhileTheProgramEndsIsSavedWithoutADialog)
{
    start({"worker-exception-at-exit"});
    const CrashRun run = result();
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_TRUE(waitUntilNoDialog());
    ASSERT_EQ(run.reports().size(), 1) << run.err.toStdString();
    EXPECT_EQ(HeaderValue(run.reports()[0], "exception message"), "crash-test exception");
}

namespace {

// Sends from the dialog process over SMTP to a local server (no assistant, in the foreground).
class DialogProcessSend : public DialogProcessEndToEnd
{
protected:
    void SetUp() override
    {
        DialogProcessEndToEnd::SetUp();
        if (IsSkipped())
            return;
        ASSERT_TRUE(server.isRunning());
        runner.settings["MailAsSmtpClient"] = "True";
        runner.settings["SmtpServer"] = "'127.0.0.1'";
        runner.settings["SmtpPort"] = QString::number(server.port());
        runner.settings["MailViaMapi"] = "False";
        runner.settings["MailViaMailto"] = "False";
        runner.settings["SendAssis"] = "''";
        runner.settings["SendInBackgr"] = "False";
        runner.settings["DelBugRepFile"] = "False"; // the file the program saves stays to compare
    }

    // Presses "send bug report" (focused when the dialog opens) in the dialog of `arguments`, then
    // closes it with `toClose`; returns the attached report and the one the program saved.
    std::pair<QString, QString> sendThenClose(const QStringList& arguments, const QString& shotName,
                                              const QStringList& toClose)
    {
        start(arguments);
        const QString dialog = waitForDialog(shotName);
        if (dialog.isEmpty()) {
            ADD_FAILURE() << "no dialog appeared";
            return {};
        }
        EXPECT_TRUE(press(dialog, {}));
        EXPECT_TRUE(server.waitForMails(1, 60000)) << "no mail arrived";
        crashtest::ShootScreen(shotName + "-sent");
        EXPECT_TRUE(press(dialog, toClose));
        const CrashRun run = result();
        EXPECT_TRUE(run.finished);
        EXPECT_EQ(run.exitCode, kClosedByReporter) << run.err.toStdString();
        EXPECT_EQ(run.reports().size(), 1) << run.err.toStdString();
        const auto mails = server.mails();
        if (mails.size() != 1 || run.reports().isEmpty())
            return {};
        QString attached;
        for (const auto& attachment : mails[0].decoded["attachments"].toArray())
            if (attachment.toObject()["name"].toString() == "bugreport.txt")
                attached = QString::fromUtf8(
                    QByteArray::fromBase64(attachment.toObject()["data"].toString().toLatin1()));
        EXPECT_FALSE(attached.isEmpty()) << mails[0].raw.left(3000).toStdString();
        return {attached, run.reports()[0]};
    }

    // The attachment is the completed report of this crash: no placeholder left, the program's own
    // frames with their source lines, the built-in sections, and the saved report's checksum.
    static void expectCompleted(const QString& attached, const QString& saved, const QString& frame)
    {
        EXPECT_FALSE(attached.contains("will be calculated soon")) << attached.left(4000).toStdString();
        const QRegularExpression frameWithLine("CrashCases +\\d+ +\\+\\d+ +[^\\r\\n]*" + frame);
        EXPECT_TRUE(attached.contains(frameWithLine)) << attached.left(4000).toStdString();
        for (const char* title : {"modules", "processes", "hardware"})
            EXPECT_TRUE(attached.contains("\r\n\r\n" + QString(title) + ":\r\n")) << title;
        EXPECT_FALSE(HeaderValue(attached, "callstack crc").isEmpty());
        EXPECT_EQ(HeaderValue(attached, "callstack crc"), HeaderValue(saved, "callstack crc"));
        EXPECT_EQ(HeaderValue(attached, "process id"), HeaderValue(saved, "process id"));
    }

    sendtest::LocalSmtpServer server{sendtest::SmtpServerConfig{}};
};

} // namespace

TEST_F(DialogProcessSend, AFrozenProgramsReportSentFromTheDialogProcessIsTheCompletedOne)
{
    const auto [attached, saved] =
        sendThenClose({"freeze", "60"}, "dialog-process-send-freeze", kToClosePastContinue);
    expectCompleted(attached, saved, "Freeze");
}

TEST_F(DialogProcessSend, ATerminatedProgramsReportSentFromTheDialogProcessIsTheCompletedOne)
{
    const auto [attached, saved] =
        sendThenClose({"terminate"}, "dialog-process-send-terminate", kToCloseWithoutContinue);
    expectCompleted(attached, saved, "Terminate");
}

// A send in the background, with the dialog closed at once: the answer waits for the send, so that
// the program does not end (and take the dialog process with it) while the mail is on its way.
class DialogProcessBackgroundSend : public DialogProcessSend
{
protected:
    void SetUp() override
    {
        DialogProcessSend::SetUp();
        runner.settings["SendInBackgr"] = "True";
    }
    sendtest::LocalSmtpServer slowServer{[] {
        sendtest::SmtpServerConfig config;
        config.greetDelaySeconds = 2;
        return config;
    }()};
};

TEST_F(DialogProcessBackgroundSend, ClosingRightAfterSendStillDeliversTheMail)
{
    ASSERT_TRUE(slowServer.isRunning());
    runner.settings["SmtpPort"] = QString::number(slowServer.port());
    start({"terminate"});
    const QString dialog = waitForDialog("dialog-process-background-send");
    ASSERT_FALSE(dialog.isEmpty()) << "no dialog appeared";
    ASSERT_TRUE(press(dialog, {}));
    ASSERT_TRUE(press(dialog, kToCloseWithoutContinue));
    const CrashRun run = result();
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, kClosedByReporter) << run.err.toStdString();
    ASSERT_TRUE(slowServer.waitForMails(1, 20000)) << "the mail was lost; " << run.err.toStdString();
    EXPECT_EQ(slowServer.mails().size(), 1);
}
