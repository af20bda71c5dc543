// Mail-exchanger lookup with our own DNS datagrams, against dnsmasq and small loopback servers,
// and direct delivery to three domains.
#include "LocalServers.h"
#include "QStringPrinter.h"
#include "SendTestSupport.h"
#include "crash/send/DnsClient.h"
#include "crash/send/DnsMessage.h"
#include "crash/send/MxLookup.h"
#include "crash/send/SmtpMail.h"
#include "platform/NetworkConfig.h"

#include <QJsonArray>
#include <gtest/gtest.h>

#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

using namespace crash::send;

namespace {

TEST(DnsMessageFormat, QueryDatagram)
{
    const QByteArray query = BuildDnsQuery(1, QStringLiteral("alpha.test."), dns::TypeMX);
    EXPECT_EQ(query,
              QByteArray::fromHex("0001 0100 0001 0000 0000 0000 05616c706861 0474657374 00 000f 0001"));
    EXPECT_TRUE(BuildDnsQuery(1, QStringLiteral("a..test"), dns::TypeMX).isEmpty());
    EXPECT_TRUE(BuildDnsQuery(1, QString(64, QLatin1Char('a')) + ".test", dns::TypeMX).isEmpty());
    EXPECT_TRUE(BuildDnsQuery(1, QStringLiteral("evil name.test"), dns::TypeMX).isEmpty());
}

TEST(DnsMessageFormat, RepliesAreReadDefensively)
{
    // Header (response, 1 question, 1 answer), question alpha.test MX, answer with a pointer to it.
    const QByteArray good =
        QByteArray::fromHex("0007 8180 0001 0001 0000 0000 05616c706861 0474657374 00 000f 0001"
                            "c00c 000f 0001 0000003c 0007 000a 026d78 c00c");
    const auto reply = ParseDnsReply(good);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->id, 7);
    ASSERT_EQ(reply->answers.size(), 1);
    EXPECT_EQ(reply->answers[0].preference, 10);
    EXPECT_EQ(reply->answers[0].target, QStringLiteral("mx.alpha.test"));

    // Every shortened copy is refused, never read past its end.
    for (qsizetype n = 0; n < good.size(); ++n)
        EXPECT_FALSE(ParseDnsReply(good.left(n))) << n;
    // A pointer to itself, a pointer forward, a record length that lies.
    QByteArray loop = good;
    loop.replace(loop.size() - 2, 2, QByteArray::fromHex("c02d"));
    EXPECT_FALSE(ParseDnsReply(loop));
    QByteArray forward = good;
    forward.replace(28, 2, QByteArray::fromHex("c02a"));
    EXPECT_FALSE(ParseDnsReply(forward));
    QByteArray badLength = good;
    badLength[39] = 0x0a;
    EXPECT_FALSE(ParseDnsReply(badLength));
    EXPECT_FALSE(IsPlausibleHostName(QStringLiteral("mx.alpha.test;rm -rf")));
}

TEST(DnsServers, AddressForms)
{
    EXPECT_EQ(ParseDnsServer(QStringLiteral("127.0.0.1:5353"))->port, 5353);
    EXPECT_EQ(ParseDnsServer(QStringLiteral("10.0.0.1"))->port, 53);
    EXPECT_EQ(ParseDnsServer(QStringLiteral("[::1]:54"))->port, 54);
    EXPECT_EQ(ParseDnsServer(QStringLiteral("::1"))->address, QHostAddress(QStringLiteral("::1")));
    EXPECT_FALSE(ParseDnsServer(QStringLiteral("name.server")));
    EXPECT_EQ(ShortDomain(QStringLiteral("mail.sub.beta.test")), QStringLiteral("sub.beta.test"));
    EXPECT_EQ(AddressDomain(QStringLiteral("Dev <dev@beta.test>")), QStringLiteral("beta.test"));
    EXPECT_EQ(platform::ParseResolvConf("# comment\nnameserver 10.0.0.1\n  nameserver\t::1 # v6\nsearch x\n"
                                        "nameserver\n"),
              (QStringList{"10.0.0.1", "::1"}));
    EXPECT_EQ(platform::SplitServerList(QStringLiteral(" 10.0.0.1,10.0.0.2 10.0.0.3;")),
              (QStringList{"10.0.0.1", "10.0.0.2", "10.0.0.3"}));
}

TEST(MxLookup, AsksTheConfiguredNameServer)
{
    sendtest::LocalDnsmasq dnsmasq({"--mx-host=alpha.test,far.alpha.test,20",
                                    "--mx-host=alpha.test,localhost,10",
                                    "--mx-host=sub.beta.test,mx.beta.test,5"});
    ASSERT_TRUE(dnsmasq.isRunning());
    MxLookupConfig config;
    config.nameServers = {dnsmasq.address()};
    // The lowest preference wins.
    EXPECT_EQ(LookupMailExchanger(QStringLiteral("a@alpha.test"), config), QStringLiteral("localhost"));
    // Nothing for the full domain: the last three labels are asked next.
    EXPECT_EQ(LookupMailExchanger(QStringLiteral("b@mail.sub.beta.test"), config),
              QStringLiteral("mx.beta.test"));
    EXPECT_EQ(LookupMailExchanger(QStringLiteral("c@gamma.test"), config), QString());
}

TEST(MxLookup, IterativePathFromLoopbackRootServers)
{
    const quint16 port = sendtest::FreeUdpPort();
    sendtest::LocalDnsScript root(QStringLiteral("127.0.0.1"), port, QStringLiteral("root"),
                                  {"--refer-to", "127.0.0.2"});
    sendtest::LocalDnsScript zone(QStringLiteral("127.0.0.2"), port, QStringLiteral("auth"),
                                  {"--address", "127.0.0.2", "--mx", "10:localhost"});
    ASSERT_TRUE(root.isRunning());
    ASSERT_TRUE(zone.isRunning());
    sendtest::ScopedEnvironment env;
    env.set("HALVORN_DNS_ROOTS", QStringLiteral("127.0.0.1:%1, 127.0.0.3:%1").arg(port).toLatin1());
    MxLookupConfig config = SystemMxLookupConfig();
    config.nameServers.clear(); // no configured name server: the iterative path
    ASSERT_EQ(config.rootServers.size(), 2);
    EXPECT_EQ(LookupMailExchanger(QStringLiteral("a@alpha.test"), config), QStringLiteral("localhost"));
    EXPECT_EQ(root.queriesFrom().size(), 1);
    // The zone's server was asked for the name servers and then for the mail exchanger.
    EXPECT_EQ(zone.queriesFrom().size(), 2);
}

TEST(MxLookup, GarbageAnswersFindNothing)
{
    const quint16 port = sendtest::FreeUdpPort();
    sendtest::LocalDnsScript garbage(QStringLiteral("127.0.0.1"), port, QStringLiteral("garbage"));
    ASSERT_TRUE(garbage.isRunning());
    MxLookupConfig config;
    config.nameServers = {QStringLiteral("127.0.0.1:%1").arg(port)};
    config.replyTimeoutMs = 300;
    for (int i = 0; i < 15; ++i)
        EXPECT_EQ(LookupMailExchanger(QStringLiteral("a@alpha.test"), config), QString());
    config.nameServers.clear();
    config.rootServers = {QStringLiteral("127.0.0.1:%1").arg(port)};
    EXPECT_EQ(LookupMailExchanger(QStringLiteral("a@alpha.test"), config), QString());
    EXPECT_GE(garbage.queriesFrom().size(), 16);
}

TEST(DirectDelivery, ThreeDomainsThreeConnectionsOneFails)
{
    sendtest::LocalSmtpServer server({});
    ASSERT_TRUE(server.isRunning());
    sendtest::LocalDnsmasq dnsmasq({"--mx-host=alpha.test,localhost,10", "--mx-host=beta.test,127.0.0.1,10"});
    ASSERT_TRUE(dnsmasq.isRunning());
    testsupport::TempDir files;
    SmtpMailRequest request;
    request.to = QStringLiteral("a@alpha.test, b@beta.test; c@gamma.test");
    request.subject = QStringLiteral("bug report");
    request.body = QStringLiteral("see attachment");
    request.files = {files.write("bugreport.txt", QByteArray(3200, 'r'))};
    request.sendAsNames = {QStringLiteral("bugreport.txt")};
    request.stepTexts = {"mx", "conn", "mail", "att", "final"};
    SmtpOptions options;
    options.nameServers = {dnsmasq.address()};
    options.directPort = server.port();
    auto window = std::make_unique<sendtest::RecordingProgress>();
    sendtest::RecordingProgress* recorded = window.get();
    SendProgress progress(std::move(window));
    for (const char* step : {"prep", "mx", "conn", "mail", "att", "final"})
        progress.addStep(QString::fromLatin1(step), 100);

    ASSERT_TRUE(MailViaSmtp(request, progress, options));
    ASSERT_TRUE(server.waitForMails(2));
    const auto mails = server.mails();
    ASSERT_EQ(mails.size(), 2);
    // Each recipient on a connection of its own; without From the recipient is the sender.
    EXPECT_EQ(mails[0].envelope["to"].toArray(), QJsonArray{"a@alpha.test"});
    EXPECT_EQ(mails[0].envelope["from"].toString(), QStringLiteral("a@alpha.test"));
    EXPECT_EQ(mails[1].envelope["to"].toArray(), QJsonArray{"b@beta.test"});
    EXPECT_EQ(mails[1].decoded["attachments"].toArray().size(), 1);

    // The second and third address got their own step groups.
    const QList<std::pair<QString, qint64>> group{
        {"mx", 500}, {"conn", 5000}, {"mail", 100}, {"att", 200}, {"final", 1000}};
    EXPECT_EQ(recorded->steps.mid(6, 5), group);
    EXPECT_EQ(recorded->steps.mid(11, 5), group);
    EXPECT_TRUE(recorded->visited.contains(11)); // the third address's lookup
    EXPECT_TRUE(recorded->closed);

    request.to = QStringLiteral("c@gamma.test");
    SendProgress none;
    EXPECT_FALSE(MailViaSmtp(request, none, options));
}

} // namespace
