// The hand-off to the desktop's mail program through xdg-email, end to end: a stand-in mail
// program (the one of the tool's end-to-end test) reads the attachments as xdg-email passes them
// and mails them to a local SMTP server, where Python's mail parser reads the mail.
#include "LocalServers.h"
#include "QStringPrinter.h"
#include "SendTestSupport.h"
#include "crash/send/MailClientTransport.h"
#include "crash/send/SendProcedure.h"
#include "platform/PrivateFolder.h"
#include "support/MessageBoxRecorder.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QJsonArray>
#include <QProcess>
#include <QThread>
#include <gtest/gtest.h>

using namespace crash::send;
using sendtest::LocalSmtpServer;

namespace {

// The group's and others' permission bits.
constexpr QFileDevice::Permissions ClosedToOthers(0x0077);

// A private desktop whose mailto handler is the stand-in mail program. xdg-email gives programs
// it knows by name the compose command line, whose attachment list is split at commas; the
// stand-in is installed under such a name to be started that way.
class ComposerDesktop
{
public:
    // `failing`: the mail program notes its command line in the log and exits at once with 1.
    explicit ComposerDesktop(quint16 smtpPort, bool failing = false)
    {
        QDir().mkpath(m_dir.file(QStringLiteral("data/applications")));
        QDir().mkpath(m_dir.file(QStringLiteral("config")));
        m_env.set("XDG_DATA_HOME", QFile::encodeName(m_dir.file(QStringLiteral("data"))));
        m_env.set("XDG_CONFIG_HOME", QFile::encodeName(m_dir.file(QStringLiteral("config"))));
        m_env.set("XDG_CACHE_HOME", QFile::encodeName(m_dir.file(QStringLiteral("cache"))));
        m_env.set("XDG_DATA_DIRS", QFile::encodeName(m_dir.file(QStringLiteral("none"))));
        m_env.set("XDG_CONFIG_DIRS", QFile::encodeName(m_dir.file(QStringLiteral("none"))));
        m_env.unset("XDG_RUNTIME_DIR");
        m_env.set("DISPLAY", ":97"); // nothing connects to it
        for (const char* desktop : {"XDG_CURRENT_DESKTOP", "DESKTOP_SESSION", "KDE_FULL_SESSION",
                                    "GNOME_DESKTOP_SESSION_ID", "MAILER"})
            m_env.unset(desktop);
        const QString program = m_dir.write(
            QStringLiteral("thunderbird/compose"),
            failing
                ? QStringLiteral("#!/bin/sh\necho \"$@\" >> '%1'\nexit 1\n").arg(log()).toUtf8()
                : QStringLiteral("#!/bin/sh\nexec /usr/bin/python3 '%1/tests/app/mail_program.py' 127.0.0.1 "
                                 "%2 '%3' \"$@\"\n")
                      .arg(testsupport::SourceDir())
                      .arg(smtpPort)
                      .arg(log())
                      .toUtf8());
        QFile::setPermissions(program, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        m_dir.write(QStringLiteral("data/applications/composer.desktop"),
                    QStringLiteral("[Desktop Entry]\nType=Application\nName=Composer\nExec=%1 %u\n"
                                   "MimeType=x-scheme-handler/mailto;\n")
                        .arg(program)
                        .toUtf8());
        QProcess xdgMime;
        xdgMime.start(QStringLiteral("xdg-mime"),
                      {QStringLiteral("default"), QStringLiteral("composer.desktop"),
                       QStringLiteral("x-scheme-handler/mailto")});
        EXPECT_TRUE(xdgMime.waitForFinished(10000));
        EXPECT_EQ(xdgMime.exitCode(), 0);
    }
    QString log() const { return m_dir.file(QStringLiteral("mail-program.log")); }
    // A folder under the desktop with the given name (made when absent).
    QString folder(const QString& name) const
    {
        QDir().mkpath(m_dir.file(name));
        return m_dir.file(name);
    }
    void setTemporaryFolder(const QString& path) { m_env.set("TMPDIR", QFile::encodeName(path)); }

private:
    testsupport::TempDir m_dir;
    sendtest::ScopedEnvironment m_env;
};

TEST(MailClient, CommasInTheTemporaryFolderAndSendAsNamesLoseNoAttachment)
{
    LocalSmtpServer server({});
    ASSERT_TRUE(server.isRunning());
    ComposerDesktop desktop(server.port());
    const QString temp = desktop.folder(QStringLiteral("tmp, with comma"));
    desktop.setTemporaryFolder(temp);
    QFile report(QDir(temp).filePath(QStringLiteral("bugreport.txt")));
    ASSERT_TRUE(report.open(QIODevice::WriteOnly) && report.write("the report\r\n") > 0);
    report.close();
    QFile shot(QDir(temp).filePath(QStringLiteral("screen,Shot.png")));
    ASSERT_TRUE(shot.open(QIODevice::WriteOnly) && shot.write("\x89PNG picture") > 0);
    shot.close();

    MailClientRequest request;
    request.to = QStringLiteral("\"Support, Team\" <support@mirelune.example>, -dash@mirelune.example");
    request.subject = QStringLiteral("bug report");
    request.body = QStringLiteral("see the attachments");
    request.files = {report.fileName(), shot.fileName()};
    request.sendAsNames = {QStringLiteral("bug,report.txt"), QString()};
    ASSERT_EQ(SendViaMailClient(request), 1) << testsupport::ReadAll(desktop.log()).toStdString();
    ASSERT_TRUE(server.waitForMails(1, 30000)) << testsupport::ReadAll(desktop.log()).toStdString();

    // The list the mail program split at commas.
    EXPECT_TRUE(testsupport::ReadAll(desktop.log()).contains("attachment='"));
    const auto mail = server.mails().first();
    const QJsonArray attachments = mail.decoded["attachments"].toArray();
    ASSERT_EQ(attachments.size(), 2) << testsupport::ReadAll(desktop.log()).toStdString();
    EXPECT_EQ(attachments[0]["name"].toString(), QStringLiteral("bug_report.txt"));
    EXPECT_EQ(QByteArray::fromBase64(attachments[0]["data"].toString().toLatin1()), "the report\r\n");
    EXPECT_EQ(attachments[1]["name"].toString(), QStringLiteral("screen_Shot.png"));
    EXPECT_EQ(QByteArray::fromBase64(attachments[1]["data"].toString().toLatin1()), "\x89PNG picture");
    // The display name came along, and the address with a leading "-" was no option.
    EXPECT_EQ(mail.decoded["to_addresses"].toArray(),
              (QJsonArray{QJsonArray{"Support, Team", "support@mirelune.example"},
                          QJsonArray{"", "-dash@mirelune.example"}}));
    EXPECT_EQ(mail.envelope["to"].toArray().size(), 2);
    EXPECT_EQ(mail.decoded["subject"].toString(), QStringLiteral("bug report"));
}

TEST(MailClient, SendAsNamesWithCommasReachTheMailFromTheSendProcedure)
{
    LocalSmtpServer server({});
    ASSERT_TRUE(server.isRunning());
    ComposerDesktop desktop(server.port());
    desktop.setTemporaryFolder(desktop.folder(QStringLiteral("tmp,1")));
    testsupport::MessageBoxRecorder boxes; // a failure would show one
    auto report = sendtest::MakeReport();
    report->setBugRepSendAs(QStringLiteral("bug,report.txt"));
    report->setScrShotSendAs(QStringLiteral("screen,shot.png"));
    QImage picture(40, 30, QImage::Format_RGB32);
    picture.fill(Qt::darkCyan);
    SendJob job;
    job.report = report;
    job.reportText = sendtest::SampleReportText();
    job.screenshot = picture;
    ASSERT_TRUE(SendBugReport(job));
    ASSERT_TRUE(server.waitForMails(1, 30000)) << testsupport::ReadAll(desktop.log()).toStdString();

    const QJsonArray attachments = server.mails().first().decoded["attachments"].toArray();
    ASSERT_EQ(attachments.size(), 2) << testsupport::ReadAll(desktop.log()).toStdString();
    EXPECT_EQ(attachments[0]["name"].toString(), QStringLiteral("bug_report.txt"));
    EXPECT_EQ(QByteArray::fromBase64(attachments[0]["data"].toString().toLatin1()),
              (sendtest::SampleReportText() + "\r\n\r\n").toUtf8());
    EXPECT_EQ(attachments[1]["name"].toString(), QStringLiteral("screen_shot.png"));
    EXPECT_FALSE(
        QImage::fromData(QByteArray::fromBase64(attachments[1]["data"].toString().toLatin1())).isNull());
}

TEST(MailClient, AMailProgramThatExitsAtOnceIsNoHandOffAndTheNextWayFollows)
{
    ComposerDesktop desktop(0, true);
    MailClientRequest request;
    request.to = QStringLiteral("support@mirelune.example");
    request.subject = QStringLiteral("bug report");
    request.body = QStringLiteral("see the attachment");
    EXPECT_EQ(SendViaMailClient(request), 0);
    // It was the mail program that failed, given the compose line.
    EXPECT_TRUE(testsupport::ReadAll(desktop.log()).contains("-compose"))
        << testsupport::ReadAll(desktop.log()).toStdString();

    // In a send: without a mailto handler to try next, the failure is said; the report is unsent.
    for (const bool mailto : {false, true}) {
        SCOPED_TRACE(mailto ? "mailto handler next" : "no mailto");
        testsupport::MessageBoxRecorder boxes;
        auto report = sendtest::MakeReport();
        report->setMailViaMailto(mailto);
        SendJob job;
        job.report = report;
        job.reportText = sendtest::SampleReportText();
        // The mailto handler (the same program) counts as started, never as delivered.
        EXPECT_EQ(SendBugReport(job), mailto);
        EXPECT_FALSE(report->wasSent());
        EXPECT_EQ(boxes.texts(), mailto ? QStringList() : QStringList{report->SendFailMsg()});
    }
}

TEST(MailClient, CopiesAreSafelyNamedPrivateFilesAllOrNone)
{
    testsupport::TempDir dir;
    sendtest::ScopedEnvironment env;
    env.set("XDG_RUNTIME_DIR", QFile::encodeName(dir.path()));
    QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const QString source = dir.write(QStringLiteral("src/a,b.txt"), "content");
    std::unique_ptr<platform::PrivateFolder> folder = CreateHandOverFolder();
    ASSERT_TRUE(folder);
    EXPECT_TRUE(folder->path().startsWith(dir.path() + QLatin1Char('/')));
    const auto copies =
        CopyForHandOver({source, source}, {QStringLiteral("x\"y\tz.txt"), QString()}, *folder);
    ASSERT_TRUE(copies);
    ASSERT_EQ(copies->size(), 2);
    EXPECT_EQ(QFileInfo((*copies)[0]).fileName(), QStringLiteral("x_y_z.txt"));
    EXPECT_EQ(QFileInfo((*copies)[1]).fileName(), QStringLiteral("a_b.txt"));
    for (const QString& copy : *copies) {
        EXPECT_TRUE(SafeForMailProgram(copy)) << copy.toStdString();
        EXPECT_EQ(testsupport::ReadAll(copy), "content");
        EXPECT_EQ(QFileInfo(copy).permissions() & ClosedToOthers, 0);
    }
    EXPECT_EQ(QFileInfo(folder->path()).permissions() & ClosedToOthers, 0);

    // A name too long for a file keeps its start and its ending.
    const QString longName = HandOverName(source, QString(300, QChar(0x00e9)) + QStringLiteral(".png"));
    EXPECT_LE(longName.toUtf8().size(), 240);
    EXPECT_TRUE(longName.startsWith(QChar(0x00e9)) && longName.endsWith(QStringLiteral(".png")));
    EXPECT_TRUE(CopyForHandOver({source}, {longName}, *folder));

    // A file that cannot be read fails the whole hand-over: no mail without one of its attachments.
    EXPECT_FALSE(CopyForHandOver({source, dir.file(QStringLiteral("gone.txt"))}, {}, *folder));
}

TEST(MailClient, ArgumentsLeaveNoRoomForOptionsInAddresses)
{
    const QStringList arguments =
        MailClientArguments(QStringLiteral("-oProxyCommand=x@y.example; \"Doe, Jane\" <j@x.example>"),
                            QString(), QStringLiteral("body"), {QStringLiteral("/p/a.txt")});
    EXPECT_EQ(
        arguments,
        (QStringList{"--utf8", "--body", "body", "--attach", "/p/a.txt",
                     "mailto:%2DoProxyCommand%3Dx@y.example%2C%22Doe%2C%20Jane%22%20%3Cj@x.example%3E"}));
    // Without addresses, subject or body nothing is given that xdg-email would refuse as empty.
    EXPECT_EQ(MailClientArguments({}, {}, {}, {}), QStringList{"--utf8"});
}

} // namespace
