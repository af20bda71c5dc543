// The mailto link and the handler's command: encoding, the length limit, the desktop-entry rules.
#include "QStringPrinter.h"
#include "SendTestSupport.h"
#include "crash/send/DesktopEntry.h"
#include "crash/send/MailtoTransport.h"

#include <gtest/gtest.h>

using namespace crash::send;

namespace {

bool EndsInBrokenEscape(const QString& text)
{
    const qsizetype percent = text.lastIndexOf(QLatin1Char('%'));
    return percent >= 0 && percent >= text.size() - 2;
}

TEST(MailtoLink, EncodesEverythingButLettersDigitsDotAndAt)
{
    EXPECT_EQ(EncodeMailtoPart(QStringLiteral("a.b@c d,e;f&g=h%\r\né")),
              QStringLiteral("a.b@c%20d%2Ce%3Bf%26g%3Dh%25%0D%0A%C3%A9"));
    EXPECT_EQ(BuildMailtoLink(QStringLiteral("a@x.test, b@y.test"), QStringLiteral("bug report"),
                              QStringLiteral("line 1\r\nline 2"), false),
              QStringLiteral("mailto:a@x.test%2Cb@y.test?subject=bug%20report&body=line%201%0D%0Aline%202"));
    // Outlook's habit: two addresses separated by ";".
    EXPECT_TRUE(BuildMailtoLink(QStringLiteral("a@x.test,b@y.test"), {}, {}, true)
                    .startsWith(QStringLiteral("mailto:a@x.test%3Bb@y.test?")));
}

TEST(MailtoLink, CutNeverSplitsAnEscape)
{
    const QString link =
        QStringLiteral("mailto:a@x.test?subject=x&body=") + EncodeMailtoPart(QStringLiteral("é é-x y"));
    for (qsizetype limit = 10; limit <= link.size() + 2; ++limit) {
        const QString cut = LimitMailtoLink(link, 0, limit);
        SCOPED_TRACE(limit);
        EXPECT_LE(cut.size(), limit);
        EXPECT_GE(cut.size(), std::min(link.size(), limit) - 2);
        EXPECT_FALSE(EndsInBrokenEscape(cut));
        EXPECT_TRUE(link.startsWith(cut));
    }
    // The rest of the command line counts against the limit.
    EXPECT_EQ(LimitMailtoLink(QString(100, QLatin1Char('a')), 30, 100).size(), 70);
}

TEST(DesktopEntryExec, SplitsByTheQuotingRules)
{
    const auto args = DesktopEntry::splitExec(
        QStringLiteral("\"/opt/mail app/bin/mail\" --compose  \"say \\\"hi\\\" \\$HOME \\\\ \\`x\\`\" %u"));
    ASSERT_TRUE(args);
    EXPECT_EQ(*args, (QStringList{"/opt/mail app/bin/mail", "--compose", "say \"hi\" $HOME \\ `x`", "%u"}));
    EXPECT_FALSE(DesktopEntry::splitExec(QStringLiteral("mail \"unterminated %u")));
}

TEST(DesktopEntryExec, FieldCodesTakeTheLinkOrAreDropped)
{
    auto entry =
        DesktopEntry::parse("[Desktop Entry]\nName=Mailer\nIcon=mailer\nExec=mailer %i --name=%c %f %U %%x "
                            "\"%u\"\n[Desktop Action New]\nExec=other %u\n",
                            QStringLiteral("/apps/mailer.desktop"));
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->commandFor(QStringLiteral("mailto:a@b")),
              (QStringList{"mailer", "--icon", "mailer", "--name=Mailer", "mailto:a@b", "%x", "%u"}));

    // Without %u or %U the link is appended.
    auto plain = DesktopEntry::parse("[Desktop Entry]\nExec=mailer\\s--compose %F\n");
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain->commandFor(QStringLiteral("mailto:x")),
              (QStringList{"mailer", "--compose", "mailto:x"}));
    EXPECT_FALSE(DesktopEntry::parse("[Desktop Entry]\nName=No command\n"));
}

TEST(DesktopEntryExec, ReportTextIsOneArgumentNeverShellCode)
{
    auto entry = DesktopEntry::parse("[Desktop Entry]\nExec=sh -c \"echo $0\" %u\n");
    ASSERT_TRUE(entry);
    const QString link = BuildMailtoLink(QStringLiteral("a@b"), QStringLiteral("x"),
                                         QStringLiteral("$(rm -rf ~); `id`"), false);
    const QStringList command = entry->commandFor(link);
    ASSERT_EQ(command.size(), 4);
    EXPECT_EQ(command[3], link);
    EXPECT_FALSE(link.contains(QLatin1Char('$')));
}

TEST(MailtoHandler, LongReportIsCutToTheCommandLimit)
{
    sendtest::MailHandlerSandbox sandbox;
    QString report;
    for (int i = 0; report.size() < 100000; ++i)
        report += QStringLiteral("line %1: Zürich ÿ\r\n").arg(i);
    ASSERT_TRUE(
        SendViaMailto(QStringLiteral("support@mirelune.example"), QStringLiteral("bug report"), report));
    ASSERT_TRUE(sandbox.waitForCalls(1));
    const QStringList args = sandbox.calls().first();
    ASSERT_EQ(args.size(), 1);
    const QString link = args.first();
    EXPECT_TRUE(link.startsWith(QStringLiteral(
        "mailto:support@mirelune.example?subject=bug%20report&body=line%200%3A%20Z%C3%BCrich")));
    EXPECT_FALSE(EndsInBrokenEscape(link));
    // The whole command: the recorder's path, a blank and the link.
    const qsizetype commandLength = sandbox.dir().file(QStringLiteral("record.sh")).size() + 1 + link.size();
    EXPECT_LE(commandLength, MaxMailtoCommandLength);
    EXPECT_GE(commandLength, MaxMailtoCommandLength - 2);
}

TEST(MailtoHandler, OutlookNamedHandlerGetsSemicolons)
{
    sendtest::MailHandlerSandbox sandbox(QStringLiteral("microsoft-Outlook-web.desktop"));
    ASSERT_TRUE(
        SendViaMailto(QStringLiteral("a@x.test, b@y.test"), QStringLiteral("s"), QStringLiteral("r")));
    ASSERT_TRUE(sandbox.waitForCalls(1));
    EXPECT_EQ(sandbox.calls().first(), QStringList{"mailto:a@x.test%3Bb@y.test?subject=s&body=r"});
}

TEST(MailtoHandler, NoRegisteredHandlerFails)
{
    sendtest::MailHandlerSandbox sandbox(QString{});
    EXPECT_EQ(DefaultMailtoHandler(), QString());
    EXPECT_FALSE(SendViaMailto(QStringLiteral("a@x.test"), QStringLiteral("s"), QStringLiteral("r")));
}

} // namespace
