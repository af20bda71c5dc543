// The automatic send end to end: crash-test delivers its reports to a local mail server. Each case
// runs many times, since what goes wrong here are races between the send, the save and the end.
#include "CrashTestRunner.h"
#include "LocalServers.h"

#include "platform/ExclusiveFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QProcess>
#include <gtest/gtest.h>

using namespace crashtests;
using sendtest::LocalSmtpServer;

namespace {

constexpr int kRuns = 20;

struct AutomaticSend : ::testing::Test
{
    void SetUp() override { SKIP_UNDER_THREAD_SANITIZER(); }

    // AutoSend by SMTP to `server`, no desktop mail program, nothing shown.
    static void SendTo(CrashTestRunner& runner, const LocalSmtpServer& server, bool inBackground = true)
    {
        runner.settings["AutoSend"] = "True";
        runner.settings["MailAsSmtpClient"] = "True";
        runner.settings["SmtpServer"] = "'127.0.0.1'";
        runner.settings["SmtpPort"] = QString::number(server.port());
        runner.settings["MailViaMapi"] = "False";
        runner.settings["MailViaMailto"] = "False";
        runner.settings["SendInBackgr"] = inBackground ? "True" : "False";
        runner.settings["DelBugRepFile"] = "False";
    }

    static QString AttachedReport(const sendtest::ReceivedMail& mail)
    {
        for (const auto& attachment : mail.decoded["attachments"].toArray())
            if (attachment.toObject()["name"].toString() == "bugreport.txt")
                return QString::fromUtf8(
                    QByteArray::fromBase64(attachment.toObject()["data"].toString().toLatin1()));
        return {};
    }

    static QString ProcessId(const CrashRun& run)
    {
        const QStringList reports = run.reports();
        return reports.isEmpty() ? QString() : HeaderValue(reports.last(), "process id");
    }
};

} // namespace

TEST_F(AutomaticSend, EveryMailCarriesTheReportFileWithTheCrashItReports)
{
    LocalSmtpServer server({});
    ASSERT_TRUE(server.isRunning());
    CrashTestRunner runner;
    SendTo(runner, server);
    runner.settings["AutoSaveIfNotSent"] = "False"; // the file then holds what the mail should
    QStringList savedAfterRun, processIds;
    for (int i = 0; i < kRuns; ++i) {
        const CrashRun run = runner.run({"--windows", "null-write"});
        ASSERT_TRUE(run.finished) << "run " << i << ": " << run.err.toStdString();
        savedAfterRun << run.report;
        processIds << ProcessId(run);
        server.waitForMails(i + 1); // a lost mail shows below
    }
    const auto mails = server.mails();
    ASSERT_EQ(mails.size(), kRuns);
    QStringList wrong;
    for (int i = 0; i < kRuns; ++i) {
        const QString attached = AttachedReport(mails[i]);
        if (attached != savedAfterRun[i] || !attached.contains(": " + processIds[i] + "\r\n"))
            wrong << QStringLiteral("run %1: %2 bytes attached, %3 saved")
                         .arg(i)
                         .arg(attached.size())
                         .arg(savedAfterRun[i].size());
    }
    EXPECT_TRUE(wrong.isEmpty()) << wrong.size() << " of " << kRuns
                                 << " wrong: " << wrong.join("; ").toStdString();
}

TEST_F(AutomaticSend, TheFirstSaveNeverLeavesTheAttachmentEmptyOrPartial)
{
    LocalSmtpServer server({});
    ASSERT_TRUE(server.isRunning());
    QStringList wrong;
    int mailCount = 0;
    for (const char* crashCase : {"exception", "worker-exception", "worker-null-write"}) {
        for (int i = 0; i < kRuns; ++i) {
            CrashTestRunner runner; // a fresh folder: the save creates the report file
            SendTo(runner, server);
            runner.settings["AutoSaveIfNotSent"] = "False";
            const CrashRun run = runner.run({"--windows", crashCase});
            ASSERT_TRUE(run.finished) << crashCase << " run " << i << ": " << run.err.toStdString();
            if (!server.waitForMails(mailCount + 1)) {
                wrong << QStringLiteral("%1 run %2: no mail").arg(crashCase).arg(i);
                continue;
            }
            const QString attached = AttachedReport(server.mail(++mailCount));
            if (attached.isEmpty() || attached != run.report)
                wrong << QStringLiteral("%1 run %2: %3 bytes attached, %4 saved")
                             .arg(crashCase)
                             .arg(i)
                             .arg(attached.size())
                             .arg(run.report.size());
        }
    }
    EXPECT_TRUE(wrong.isEmpty()) << wrong.size() << " wrong: " << wrong.join("; ").toStdString();
}

TEST_F(AutomaticSend, TheProgramsEndWaitsForASendInProgress)
{
    sendtest::SmtpServerConfig late;
    late.greetDelaySeconds = 1;
    LocalSmtpServer server(late);
    ASSERT_TRUE(server.isRunning());
    QStringList wrong;
    int mailCount = 0;
    for (const bool inBackground : {true, false}) {
        for (int i = 0; i < kRuns; ++i) {
            CrashTestRunner runner;
            SendTo(runner, server, inBackground);
            runner.settings["AutoSaveIfNotSent"] = "False"; // a second report (a fault at the end) shows
            // The case quits 200 ms after its exception, long before the server greets.
            const CrashRun run = runner.run({"--windows", "exception"});
            ASSERT_TRUE(run.finished) << run.err.toStdString();
            // Delivered before the program ended: no waiting here.
            const bool mailed = server.waitForMails(mailCount + 1, 0);
            mailCount += mailed;
            if (!mailed || run.exitCode != 0 || run.reports().size() != 1)
                wrong << QStringLiteral("%1 run %2: mail %3, exit %4, %5 reports")
                             .arg(inBackground ? "background" : "foreground")
                             .arg(i)
                             .arg(mailed)
                             .arg(run.exitCode)
                             .arg(run.reports().size());
        }
    }
    EXPECT_TRUE(wrong.isEmpty()) << wrong.size() << " wrong: " << wrong.join("; ").toStdString();
}

TEST_F(AutomaticSend, AFailedBackgroundSendLeavesTheReportSaved)
{
    sendtest::SmtpServerConfig refusing;
    refusing.refuse = QStringList{"support@"};
    LocalSmtpServer server(refusing);
    ASSERT_TRUE(server.isRunning());
    QStringList wrong;
    for (int i = 0; i < kRuns; ++i) {
        CrashTestRunner runner; // the shipped AutoSaveIfNotSent: saved only when not sent
        SendTo(runner, server);
        const CrashRun run = runner.run({"--windows", "exception"});
        ASSERT_TRUE(run.finished) << run.err.toStdString();
        if (run.reports().size() != 1)
            wrong << QStringLiteral("run %1: %2 reports saved").arg(i).arg(run.reports().size());
    }
    EXPECT_TRUE(server.mails().isEmpty());
    EXPECT_TRUE(wrong.isEmpty()) << wrong.size() << " of " << kRuns
                                 << " lost: " << wrong.join("; ").toStdString();
}

TEST_F(AutomaticSend, ADeliveredReportIsNotSavedAgainAndAServerThatNeverAnswersLeavesItSaved)
{
    LocalSmtpServer server({});
    ASSERT_TRUE(server.isRunning());
    CrashTestRunner runner;
    SendTo(runner, server);
    const CrashRun delivered = runner.run({"--windows", "exception"});
    EXPECT_TRUE(delivered.finished);
    EXPECT_TRUE(server.waitForMails(1, 0));
    EXPECT_TRUE(delivered.reports().isEmpty()) << "sent, so not saved";

    // A server that takes the connection and never greets: the send gives up after its time-out.
    sendtest::SmtpServerConfig silent;
    silent.greetDelaySeconds = 600;
    LocalSmtpServer mute(silent);
    ASSERT_TRUE(mute.isRunning());
    CrashTestRunner waiting;
    SendTo(waiting, mute);
    const CrashRun unanswered = waiting.run({"--windows", "exception"}, 60000);
    EXPECT_TRUE(unanswered.finished);
    EXPECT_EQ(unanswered.exitCode, 0);
    EXPECT_EQ(unanswered.reports().size(), 1);
}

TEST_F(AutomaticSend, AMissingTemporaryFolderOrAnUnwritableReportFolderLosesNothingSilently)
{
    LocalSmtpServer server({});
    ASSERT_TRUE(server.isRunning());
    // A $TMPDIR that does not exist: the attachment is made elsewhere and the mail carries it.
    CrashTestRunner noTemp;
    SendTo(noTemp, server);
    noTemp.environment["TMPDIR"] = noTemp.dir().file("missing/tmp");
    noTemp.environment["XDG_RUNTIME_DIR"] = noTemp.dir().file("missing/run");
    const CrashRun withoutTemp = noTemp.run({"--windows", "exception"});
    EXPECT_TRUE(withoutTemp.finished);
    EXPECT_EQ(withoutTemp.exitCode, 0) << withoutTemp.err.toStdString();
    ASSERT_TRUE(server.waitForMails(1, 0)) << withoutTemp.err.toStdString();
    EXPECT_TRUE(AttachedReport(server.mail(1)).contains("crash-test exception"));

    // A send that fails and a report folder that cannot be made: said on standard error.
    sendtest::SmtpServerConfig refusing;
    refusing.refuse = QStringList{"support@"};
    LocalSmtpServer refuser(refusing);
    ASSERT_TRUE(refuser.isRunning());
    CrashTestRunner unwritable;
    SendTo(unwritable, refuser);
    const QString notAFolder = unwritable.dir().write("blocker", "a file where the folder should be");
    unwritable.settings["BugRepFile"] = "'" + notAFolder + "/bugreport.txt'";
    const CrashRun unsaved = unwritable.run({"--windows", "exception"});
    EXPECT_TRUE(unsaved.finished);
    EXPECT_EQ(unsaved.exitCode, 0) << unsaved.err.toStdString();
    EXPECT_TRUE(unsaved.err.contains("could not be saved to " + notAFolder)) << unsaved.err.toStdString();

    // The report file held by another process past the waits: said as well, and no hang.
    CrashTestRunner held;
    SendTo(held, refuser);
    ASSERT_TRUE(QDir().mkpath(QFileInfo(held.reportFile()).path()));
    const auto lock = platform::ExclusiveFile::open(held.reportFile());
    ASSERT_TRUE(lock);
    const CrashRun blocked = held.run({"--windows", "exception"});
    EXPECT_TRUE(blocked.finished);
    EXPECT_EQ(blocked.exitCode, 0) << blocked.err.toStdString();
    EXPECT_TRUE(blocked.err.contains("could not be saved to")) << blocked.err.toStdString();
}

TEST_F(AutomaticSend, AFullDiskUnderTheReportFileIsSaidAndTheMailStillCarriesTheReport)
{
    // The report file's folder is a tiny file system, filled up, in a mount namespace of its own.
    const QString mountAndFill = QStringLiteral("mount -t tmpfs -o size=16k tmpfs \"$1\" || exit 97\n"
                                                "head -c 1048576 /dev/zero > \"$1/filler\" 2>/dev/null\n"
                                                "if echo x > \"$1/probe\" 2>/dev/null; then exit 98; fi\n"
                                                "shift\nexec \"$@\"\n");
    testsupport::TempDir probeDir;
    QProcess probe;
    probe.start("unshare", {"-m", "sh", "-c", mountAndFill, "sh", probeDir.path(), "true"});
    if (!probe.waitForFinished(10000) || probe.exitStatus() != QProcess::NormalExit ||
        probe.exitCode() == 97 || (probe.exitCode() != 0 && probe.exitCode() != 98))
        GTEST_SKIP() << "no private mount namespace with a tmpfs here (needs root and unshare -m): "
                     << probe.readAllStandardError().toStdString();

    LocalSmtpServer server({});
    ASSERT_TRUE(server.isRunning());
    sendtest::SmtpServerConfig refusing;
    refusing.refuse = QStringList{"support@"};
    LocalSmtpServer refuser(refusing);
    ASSERT_TRUE(refuser.isRunning());
    int mailCount = 0;
    for (const bool delivered : {true, false}) {
        SCOPED_TRACE(delivered ? "delivered, saved as well" : "send refused");
        CrashTestRunner full;
        SendTo(full, delivered ? server : refuser);
        // A delivered report is saved as well, so that the save meets the full disk.
        if (delivered)
            full.settings["AutoSaveIfNotSent"] = "False";
        const QString folder = QFileInfo(full.reportFile()).path();
        ASSERT_TRUE(QDir().mkpath(folder));
        full.wrapper = QStringList{"unshare", "-m", "sh", "-c", mountAndFill, "sh", folder};
        const CrashRun run = full.run({"--windows", "exception"});
        ASSERT_TRUE(run.finished) << run.err.toStdString();
        ASSERT_NE(run.exitCode, 98) << "the file system was not full";
        EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
        EXPECT_TRUE(run.err.contains("could not be saved to " + full.reportFile())) << run.err.toStdString();
        if (delivered) {
            // The attachment is made in the private folder elsewhere: the mail carries the report.
            ASSERT_TRUE(server.waitForMails(++mailCount, 0)) << run.err.toStdString();
            EXPECT_TRUE(AttachedReport(server.mail(mailCount)).contains("crash-test exception"));
        }
    }
    EXPECT_TRUE(refuser.mails().isEmpty());
}

TEST_F(AutomaticSend, AMailProgramThatExitsAtOnceIsNoDeliveryAndTheReportIsSaved)
{
    sendtest::SmtpServerConfig refusing;
    refusing.refuse = QStringList{"support@"};
    LocalSmtpServer refuser(refusing);
    ASSERT_TRUE(refuser.isRunning());
    CrashTestRunner runner; // the shipped AutoSaveIfNotSent: saved only when not sent
    SendTo(runner, refuser);
    runner.settings["MailViaMapi"] = "True";
    // A private desktop whose mail program, known to xdg-email by name, notes its start and fails.
    const testsupport::TempDir& dir = runner.dir();
    const QString started = dir.file("mail-program-started");
    const QString program =
        dir.write("desktop/thunderbird/compose",
                  QStringLiteral("#!/bin/sh\necho \"$@\" >> '%1'\nexit 1\n").arg(started).toUtf8());
    QFile::setPermissions(program, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    dir.write("desktop/data/applications/composer.desktop",
              QStringLiteral("[Desktop Entry]\nType=Application\nName=Composer\nExec=%1 %u\n"
                             "MimeType=x-scheme-handler/mailto;\n")
                  .arg(program)
                  .toUtf8());
    dir.write("desktop/config/mimeapps.list",
              "[Default Applications]\nx-scheme-handler/mailto=composer.desktop\n");
    runner.environment["XDG_DATA_HOME"] = dir.file("desktop/data");
    runner.environment["XDG_CONFIG_HOME"] = dir.file("desktop/config");
    runner.environment["XDG_DATA_DIRS"] = dir.file("desktop/none");
    runner.environment["XDG_CONFIG_DIRS"] = dir.file("desktop/none");
    runner.environment["XDG_CURRENT_DESKTOP"] = "";
    runner.environment["DISPLAY"] = ":97"; // nothing connects to it

    // The mail program is the desktop's mailto handler: a check that the stand-in is reachable.
    QProcess query;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (auto it = runner.environment.begin(); it != runner.environment.end(); ++it)
        env.insert(it.key(), it.value());
    query.setProcessEnvironment(env);
    query.start("xdg-mime", {"query", "default", "x-scheme-handler/mailto"});
    ASSERT_TRUE(query.waitForFinished(10000));
    ASSERT_EQ(query.readAllStandardOutput().trimmed(), "composer.desktop");

    for (int i = 0; i < 3; ++i) {
        QFile::remove(runner.reportFile());
        const CrashRun run = runner.run({"--windows", "exception"});
        ASSERT_TRUE(run.finished) << "run " << i << ": " << run.err.toStdString();
        EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
        // Nobody is there to write the draft in an automatic send, so no composer opens; had one
        // opened, its failure would be no delivery either: the report is saved.
        EXPECT_FALSE(QFileInfo::exists(started)) << testsupport::ReadAll(started).toStdString();
        EXPECT_EQ(run.reports().size(), 1) << "run " << i << ": " << run.err.toStdString();
    }
    EXPECT_TRUE(refuser.mails().isEmpty());
}
