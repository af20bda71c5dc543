// The SMTP client against a real local mail server (aiosmtpd): plain, STARTTLS, implicit TLS,
// AUTH LOGIN, refused recipients, the message format read back by Python's e-mail parser.
#include "LocalServers.h"
#include "QStringPrinter.h"
#include "SendTestSupport.h"
#include "crash/send/MailAddress.h"
#include "crash/send/MimeMessage.h"
#include "crash/send/SendProcedure.h"
#include "crash/send/SmtpMail.h"
#include "crash/send/TSmtp.h"
#include "crash/send/http/MultipartBoundary.h"

#include <QColor>
#include <QElapsedTimer>
#include <QImage>
#include <QJsonArray>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QTimeZone>
#include <gtest/gtest.h>

// Server and client options are written as designated initializers naming only what differs.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

using namespace crash::send;
using sendtest::LocalSmtpServer;
using sendtest::SmtpServerConfig;

namespace {

class Smtp : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        certDir = new testsupport::TempDir;
        certificate = new sendtest::TestCertificate(sendtest::MakeTestCertificate(*certDir));
    }
    static void TearDownTestSuite()
    {
        delete certificate;
        delete certDir;
    }

    SmtpMailRequest request(const LocalSmtpServer& server)
    {
        SmtpMailRequest r;
        r.from = QStringLiteral("Skin Tool <tool@mirelune.example>");
        r.to = QStringLiteral("support@mirelune.example");
        r.subject = QStringLiteral("bug report");
        r.body = QStringLiteral("please find the bug report attached");
        r.server = QStringLiteral("127.0.0.1");
        r.port = server.port();
        return r;
    }
    SmtpOptions trusting() const
    {
        SmtpOptions o;
        o.extraTrustedCertificates = certificate->certificates();
        return o;
    }
    QString writeFile(const QString& name, const QByteArray& content) { return files.write(name, content); }

    static testsupport::TempDir* certDir;
    static sendtest::TestCertificate* certificate;
    testsupport::TempDir files;
    SendProgress noWindow;
};
testsupport::TempDir* Smtp::certDir = nullptr;
sendtest::TestCertificate* Smtp::certificate = nullptr;

QByteArray RandomBytes(qsizetype size)
{
    QByteArray data(size, '\0');
    for (char& c : data)
        c = char(QRandomGenerator::global()->bounded(256));
    return data;
}

QJsonArray AddressPair(const QString& name, const QString& address)
{
    return QJsonArray{QJsonArray{name, address}};
}

qsizetype LongestLine(const QByteArray& raw)
{
    qsizetype longest = 0;
    for (const QByteArray& line : raw.split('\n'))
        longest = std::max(longest, line.size() - (line.endsWith('\r') ? 1 : 0));
    return longest;
}

TEST_F(Smtp, PlainMailWithAttachmentsArrivesByteForByte)
{
    LocalSmtpServer server({});
    ASSERT_TRUE(server.isRunning());
    const QByteArray binary = RandomBytes(100000 + 17); // not a multiple of 255
    const QByteArray text = "first line\r\nsecond line\r\n";
    SmtpMailRequest r = request(server);
    r.files = {writeFile("shot.bin", binary), writeFile("report.txt", text), writeFile("empty.dat", {})};
    r.sendAsNames = {QStringLiteral("screenshot.png"), QStringLiteral("bugreport.txt"),
                     QStringLiteral("empty.zip")};
    ASSERT_TRUE(MailViaSmtp(r, noWindow));
    ASSERT_TRUE(server.waitForMails(1));
    const auto mail = server.mails().first();
    EXPECT_EQ(mail.envelope["from"].toString(), QStringLiteral("tool@mirelune.example"));
    EXPECT_EQ(mail.envelope["to"].toArray().first().toString(), QStringLiteral("support@mirelune.example"));
    EXPECT_FALSE(mail.envelope["tls"].toBool());
    EXPECT_TRUE(mail.decoded["defects"].toArray().isEmpty());
    EXPECT_EQ(mail.decoded["from"].toString(), QStringLiteral("Skin Tool <tool@mirelune.example>"));
    EXPECT_EQ(mail.decoded["to"].toString(), QStringLiteral("<support@mirelune.example>"));
    const QJsonArray attachments = mail.decoded["attachments"].toArray();
    ASSERT_EQ(attachments.size(), 3);
    EXPECT_EQ(attachments[0]["name"].toString(), QStringLiteral("screenshot.png"));
    EXPECT_EQ(attachments[0]["type"].toString(), QStringLiteral("image/png"));
    EXPECT_EQ(QByteArray::fromBase64(attachments[0]["data"].toString().toLatin1()), binary);
    EXPECT_EQ(attachments[1]["type"].toString(), QStringLiteral("text/plain"));
    EXPECT_EQ(QByteArray::fromBase64(attachments[1]["data"].toString().toLatin1()), text);
    EXPECT_EQ(attachments[2]["type"].toString(), QStringLiteral("application/zip"));
    EXPECT_TRUE(attachments[2]["data"].toString().isEmpty());
    // Base64 in lines of 76 characters (57 bytes of file each), as mail programs expect.
    EXPECT_TRUE(
        mail.raw.contains(binary.left(57).toBase64() + "\r\n" + binary.mid(57, 57).toBase64() + "\r\n"));
    EXPECT_LE(LongestLine(mail.raw), 76);
}

TEST_F(Smtp, RefusedRecipientIsSkippedAndTheOthersGetTheMail)
{
    LocalSmtpServer server({.refuse = {"nobody"}});
    ASSERT_TRUE(server.isRunning());
    SmtpMailRequest r = request(server);
    r.to = QStringLiteral("a@mirelune.example; nobody@mirelune.example, Dev <b@mirelune.example>");
    ASSERT_TRUE(MailViaSmtp(r, noWindow));
    ASSERT_TRUE(server.waitForMails(1));
    const auto to = server.mails().first().envelope["to"].toArray();
    ASSERT_EQ(to.size(), 2);
    EXPECT_EQ(to[0].toString(), QStringLiteral("a@mirelune.example"));
    EXPECT_EQ(to[1].toString(), QStringLiteral("b@mirelune.example"));

    r.to = QStringLiteral("nobody@mirelune.example");
    TSmtp smtp(QStringLiteral("127.0.0.1"), {}, {}, false, false, server.port());
    ASSERT_TRUE(smtp.isReady());
    EXPECT_FALSE(smtp.sendMail(r.from, {r.to}, r.subject, r.body));
    EXPECT_EQ(smtp.lastError(), QStringLiteral("RCPT TO failed (550 5.1.1)"));
}

TEST_F(Smtp, BodyAndSubjectEncodings)
{
    LocalSmtpServer server({});
    ASSERT_TRUE(server.isRunning());
    SmtpMailRequest r = request(server);
    r.subject = QStringLiteral("Skin tool bug report");
    r.body = QStringLiteral("line one\n.\n.hidden dot\nlast line\n");
    ASSERT_TRUE(MailViaSmtp(r, noWindow));

    r.from = QStringLiteral("Служба поддержки <tool@mirelune.example>");
    r.to = QStringLiteral("支持 <support@mirelune.example>");
    r.subject = QStringLiteral("Ошибка in «Skin» — 皮肤");
    r.body = QStringLiteral("Привет\r\n.\r\nend");
    ASSERT_TRUE(MailViaSmtp(r, noWindow));
    ASSERT_TRUE(server.waitForMails(2));
    const auto mails = server.mails();

    const auto& latin = mails[0].decoded;
    EXPECT_EQ(latin["raw_subject"].toString(), QStringLiteral("=?ISO-8859-1?Q?Skin=20tool=20bug=20report?="));
    EXPECT_EQ(latin["subject"].toString(),
              r.subject.isEmpty() ? QString() : QStringLiteral("Skin tool bug report"));
    EXPECT_EQ(latin["body_charset"].toString(), QStringLiteral("iso-8859-1"));
    // The lone "." did not end the mail, and no line lost its dot.
    EXPECT_EQ(latin["body"].toString(), QStringLiteral("line one\r\n.\r\n.hidden dot\r\nlast line\r\n"));

    const auto& cyrillic = mails[1].decoded;
    EXPECT_TRUE(cyrillic["raw_subject"].toString().startsWith(QStringLiteral("=?UTF-8?B?")));
    EXPECT_EQ(cyrillic["subject"].toString(), QStringLiteral("Ошибка in «Skin» — 皮肤"));
    EXPECT_EQ(cyrillic["from"].toString(), QStringLiteral("Служба поддержки <tool@mirelune.example>"));
    EXPECT_EQ(cyrillic["to"].toString(), QStringLiteral("支持 <support@mirelune.example>"));
    EXPECT_EQ(cyrillic["body_charset"].toString(), QStringLiteral("utf-8"));
    EXPECT_EQ(cyrillic["body"].toString(), QStringLiteral("Привет\r\n.\r\nend"));
}

TEST_F(Smtp, StartTlsWithAuthLogin)
{
    LocalSmtpServer server({.startTls = true, .auth = "reporter:s3cr:t ü"}, certificate);
    ASSERT_TRUE(server.isRunning());
    SmtpMailRequest r = request(server);
    r.tls = true;
    r.account = QStringLiteral("reporter");
    r.password = QStringLiteral("s3cr:t ü");
    ASSERT_TRUE(MailViaSmtp(r, noWindow, trusting()));
    ASSERT_TRUE(server.waitForMails(1));
    const auto mail = server.mails().first();
    EXPECT_TRUE(mail.envelope["tls"].toBool());
    EXPECT_EQ(mail.envelope["login"].toString(), QStringLiteral("reporter"));

    // A wrong password: the server's 535 becomes the error.
    TSmtp wrong(QStringLiteral("127.0.0.1"), QStringLiteral("guess"), QStringLiteral("reporter"), true, false,
                server.port(), {.extraTrusted = certificate->certificates()});
    EXPECT_FALSE(wrong.isReady());
    EXPECT_TRUE(wrong.lastError().startsWith(QStringLiteral("Authentication failed (535")))
        << wrong.lastError().toStdString();
}

TEST_F(Smtp, OldAuthEqualsLoginFormIsRecognised)
{
    LocalSmtpServer server({.auth = "reporter:pw", .oldAuthForm = true});
    ASSERT_TRUE(server.isRunning());
    TSmtp smtp(QStringLiteral("127.0.0.1"), QStringLiteral("pw"), QStringLiteral("reporter"), false, false,
               server.port());
    ASSERT_TRUE(smtp.isReady()) << smtp.lastError().toStdString();
    EXPECT_TRUE(smtp.authenticated());
    ASSERT_TRUE(smtp.sendMail(QStringLiteral("a@b.example"), {QStringLiteral("c@d.example")}, "s", "b"));
    EXPECT_TRUE(smtp.finish());
    ASSERT_TRUE(server.waitForMails(1));
    EXPECT_EQ(server.mails().first().envelope["login"].toString(), QStringLiteral("reporter"));
}

TEST_F(Smtp, ImplicitTlsOnTheSecondPort)
{
    LocalSmtpServer server({.implicitTlsPort = true}, certificate);
    ASSERT_TRUE(server.isRunning());
    SmtpMailRequest r = request(server);
    r.port = server.tlsPort();
    r.ssl = true;
    ASSERT_TRUE(MailViaSmtp(r, noWindow, trusting()));
    ASSERT_TRUE(server.waitForMails(1));
    EXPECT_TRUE(server.mails().first().envelope["tls"].toBool());
    EXPECT_EQ(server.mails().first().envelope["port"].toInt(), server.tlsPort());
}

TEST_F(Smtp, UntrustedCertificateIsRefusedInClientMode)
{
    LocalSmtpServer server({.startTls = true, .implicitTlsPort = true}, certificate);
    ASSERT_TRUE(server.isRunning());
    TSmtp startTls(QStringLiteral("127.0.0.1"), QStringLiteral("pw"), QStringLiteral("user"), true, false,
                   server.port());
    EXPECT_FALSE(startTls.isReady());
    EXPECT_EQ(startTls.lastError(), QStringLiteral("TLS failed"));
    TSmtp implicit(QStringLiteral("127.0.0.1"), {}, {}, false, true, server.tlsPort());
    EXPECT_FALSE(implicit.isReady());
    EXPECT_EQ(implicit.lastError(), QStringLiteral("SSL failed"));
    // Trusted, but the name does not match the certificate.
    TSmtp wrongName(QStringLiteral("127.0.0.2"), {}, {}, false, true, server.tlsPort(),
                    {.extraTrusted = certificate->certificates()});
    EXPECT_FALSE(wrongName.isReady());
    EXPECT_TRUE(server.mails().isEmpty());
}

TEST_F(Smtp, TlsAskedButNotOfferedSendsNoPasswordInTheClear)
{
    LocalSmtpServer server({.auth = "reporter:pw"});
    ASSERT_TRUE(server.isRunning());
    TSmtp smtp(QStringLiteral("127.0.0.1"), QStringLiteral("pw"), QStringLiteral("reporter"), true, false,
               server.port());
    EXPECT_FALSE(smtp.isReady());
    EXPECT_EQ(smtp.lastError(), QStringLiteral("TLS failed"));
    EXPECT_FALSE(smtp.authenticated());
}

TEST_F(Smtp, OfferedStartTlsCarriesTheLoginEvenWithTlsOff)
{
    LocalSmtpServer server({.startTls = true, .auth = "reporter:pw"}, certificate);
    ASSERT_TRUE(server.isRunning());
    SmtpMailRequest r = request(server);
    r.account = QStringLiteral("reporter");
    r.password = QStringLiteral("pw");
    ASSERT_TRUE(MailViaSmtp(r, noWindow, trusting()));
    ASSERT_TRUE(server.waitForMails(1));
    EXPECT_TRUE(server.mails().first().envelope["tls"].toBool()) << "the password went in the clear";
    EXPECT_EQ(server.mails().first().envelope["login"].toString(), QStringLiteral("reporter"));

    // Without a login there is nothing to protect that was not sent in the clear before.
    TSmtp anonymous(QStringLiteral("127.0.0.1"), {}, {}, false, false, server.port(),
                    {.extraTrusted = certificate->certificates()});
    ASSERT_TRUE(anonymous.isReady()) << anonymous.lastError().toStdString();
    EXPECT_FALSE(anonymous.tlsInUse());
}

TEST_F(Smtp, EmptyPasswordNeverLogsIn)
{
    // What the settings hand over for a password that was not stored enciphered.
    LocalSmtpServer server({.auth = "reporter:"});
    ASSERT_TRUE(server.isRunning());
    TSmtp smtp(QStringLiteral("127.0.0.1"), QString(), QStringLiteral("reporter"), false, false,
               server.port());
    EXPECT_FALSE(smtp.isReady());
    EXPECT_FALSE(smtp.authenticated());
    EXPECT_TRUE(smtp.lastError().startsWith(QStringLiteral("internal error (SMTP password empty")))
        << smtp.lastError().toStdString();
    SmtpMailRequest r = request(server);
    r.account = QStringLiteral("reporter");
    static QStringList warnings;
    warnings.clear();
    const QtMessageHandler previous = qInstallMessageHandler(
        [](QtMsgType, const QMessageLogContext&, const QString& text) { warnings << text; });
    EXPECT_FALSE(MailViaSmtp(r, noWindow));
    qInstallMessageHandler(previous);
    EXPECT_TRUE(server.mails().isEmpty());
    // The reason reaches the error output, as the next transport takes over without a word.
    ASSERT_EQ(warnings.size(), 1);
    EXPECT_TRUE(warnings.first().contains(QStringLiteral("internal error (SMTP password empty")))
        << warnings.first().toStdString();
}

TEST_F(Smtp, LongHeadersAreFoldedAndReadBackWhole)
{
    LocalSmtpServer server({});
    ASSERT_TRUE(server.isRunning());
    SmtpMailRequest r = request(server);
    QString latin, wide;
    for (int i = 0; latin.size() < 2500; ++i)
        latin += QStringLiteral("Zugriffsverletzung bei Adresse %1; ").arg(i);
    for (int i = 0; wide.size() < 1500; ++i)
        wide += QStringLiteral("皮肤 %1 — ").arg(i);
    const QString longName = QString(1200, QLatin1Char('n'));
    const QString longFileName = QString(1100, QLatin1Char('f')) + QStringLiteral(" é.txt");
    r.subject = latin;
    r.from = longName + QStringLiteral(" <tool@mirelune.example>");
    r.body = QString(3000, QLatin1Char('b')) + QStringLiteral("\nshort line\n");
    r.files = {writeFile("a.txt", "first"), writeFile("b.txt", "second")};
    r.sendAsNames = {longFileName, wide};
    ASSERT_TRUE(MailViaSmtp(r, noWindow));
    r.subject = wide;
    ASSERT_TRUE(MailViaSmtp(r, noWindow));
    ASSERT_TRUE(server.waitForMails(2));
    const auto mails = server.mails();
    for (const auto& mail : mails) {
        EXPECT_LT(LongestLine(mail.raw), 998);
        EXPECT_TRUE(mail.decoded["defects"].toArray().isEmpty());
        EXPECT_EQ(mail.decoded["from"].toString(), longName + QStringLiteral(" <tool@mirelune.example>"));
        // A line longer than SMTP allows went as Base64, so the long line came through whole.
        EXPECT_EQ(mail.decoded["body"].toString(),
                  QString(3000, QLatin1Char('b')) + QStringLiteral("\r\nshort line\r\n"));
        const QJsonArray attachments = mail.decoded["attachments"].toArray();
        ASSERT_EQ(attachments.size(), 2);
        EXPECT_EQ(attachments[0]["name"].toString(), longFileName);
        EXPECT_EQ(attachments[1]["name"].toString(), wide);
    }
    EXPECT_EQ(mails[0].decoded["subject"].toString(), latin);
    EXPECT_EQ(mails[1].decoded["subject"].toString(), wide);
}

TEST_F(Smtp, ContentCannotForgeTheMessageStructure)
{
    LocalSmtpServer server({});
    ASSERT_TRUE(server.isRunning());
    SmtpMailRequest r = request(server);
    // A body line holding the boundary that used to be fixed, with a part behind it.
    r.body =
        QStringLiteral("see below\n--Trevasil_multipart_boundary\nContent-Type: application/octet-stream\n"
                       "Content-Disposition: attachment; filename=\"update.exe\"\n\nTVqQ\n");
    // Display names holding specials that would end an address.
    r.from = QStringLiteral("Support, Team <tool@mirelune.example>");
    r.to = QStringLiteral("\"Doe; \\\"Jane\\\"\" <support@mirelune.example>, dev@mirelune.example");
    r.files = {writeFile("report.txt", "the report")};
    r.sendAsNames = {QStringLiteral("bugreport.txt")};
    ASSERT_TRUE(MailViaSmtp(r, noWindow));
    ASSERT_TRUE(server.waitForMails(1));
    const auto mail = server.mails().first();
    EXPECT_EQ(mail.decoded["parts"].toInt(), 2);
    const QJsonArray attachments = mail.decoded["attachments"].toArray();
    ASSERT_EQ(attachments.size(), 1);
    EXPECT_EQ(attachments[0]["name"].toString(), QStringLiteral("bugreport.txt"));
    EXPECT_TRUE(mail.decoded["body"].toString().contains(QStringLiteral("update.exe")));
    EXPECT_EQ(mail.decoded["from_addresses"].toArray(),
              AddressPair("Support, Team", "tool@mirelune.example"));
    EXPECT_EQ(mail.decoded["to_addresses"].toArray(),
              AddressPair("Doe; \"Jane\"", "support@mirelune.example"));
    const QJsonArray to = mail.envelope["to"].toArray();
    ASSERT_EQ(to.size(), 2);
    EXPECT_EQ(to[0].toString(), QStringLiteral("support@mirelune.example"));
    EXPECT_EQ(to[1].toString(), QStringLiteral("dev@mirelune.example"));
}

TEST_F(Smtp, PortZeroRules)
{
    EXPECT_EQ(TSmtp::effectivePort(0, true, false, false), 465);
    EXPECT_EQ(TSmtp::effectivePort(0, true, true, true), 465);
    EXPECT_EQ(TSmtp::effectivePort(0, false, true, true), 587);
    EXPECT_EQ(TSmtp::effectivePort(0, false, true, false), 25);
    EXPECT_EQ(TSmtp::effectivePort(0, false, false, true), 25);
    EXPECT_EQ(TSmtp::effectivePort(2525, true, true, true), 2525);

    // The real ports, when this machine lets the test have them.
    if (!QTcpServer().listen(QHostAddress::LocalHost, 465) ||
        !QTcpServer().listen(QHostAddress::LocalHost, 587))
        GTEST_SKIP() << "ports 465 and 587 on 127.0.0.1 are not available";
    LocalSmtpServer server(
        {.startTls = true, .implicitTlsPort = true, .auth = "reporter:pw", .port = 587, .tlsPort = 465},
        certificate);
    ASSERT_TRUE(server.isRunning());
    TSmtp ssl(QStringLiteral("127.0.0.1"), {}, {}, false, true, 0,
              {.extraTrusted = certificate->certificates()});
    ASSERT_TRUE(ssl.isReady()) << ssl.lastError().toStdString();
    EXPECT_EQ(ssl.port(), 465);
    EXPECT_TRUE(ssl.tlsInUse());
    TSmtp tls(QStringLiteral("127.0.0.1"), QStringLiteral("pw"), QStringLiteral("reporter"), true, false, 0,
              {.extraTrusted = certificate->certificates()});
    ASSERT_TRUE(tls.isReady()) << tls.lastError().toStdString();
    EXPECT_EQ(tls.port(), 587);
    EXPECT_TRUE(tls.tlsInUse());
    EXPECT_TRUE(tls.authenticated());
}

TEST_F(Smtp, ServerThatNeverAnswersTimesOutAfterSevenSeconds)
{
    // Listening, so the connection is made, but nobody ever reads or writes.
    QTcpServer silent;
    ASSERT_TRUE(silent.listen(QHostAddress::LocalHost, 0));
    QElapsedTimer timer;
    timer.start();
    TSmtp smtp(QStringLiteral("127.0.0.1"), {}, {}, false, false, silent.serverPort());
    const qint64 elapsed = timer.elapsed();
    EXPECT_FALSE(smtp.isReady());
    EXPECT_EQ(smtp.lastError(), QStringLiteral("HELO failed ()"));
    EXPECT_GE(elapsed, 6900);
    EXPECT_LT(elapsed, 30000);
}

TEST_F(Smtp, ConnectionFailures)
{
    const quint16 closedPort = sendtest::FreeTcpPort();
    TSmtp refused(QStringLiteral("127.0.0.1"), {}, {}, false, false, closedPort);
    EXPECT_EQ(refused.lastError(), QStringLiteral("No connection to server"));
    TSmtp noServer(QString(), {}, {}, false, false, 25);
    EXPECT_TRUE(noServer.lastError().startsWith(QStringLiteral("Server not found (")))
        << noServer.lastError().toStdString();
}

TEST(MimeMessageFormat, HeaderFieldsAsLaidOut)
{
    const QDateTime at(QDate(2026, 12, 6), QTime(14, 5, 9), Qt::UTC);
    EXPECT_EQ(MailDate(at), QByteArray("6 Dec 2026 14:05:09 UT"));
    const QByteArray id = MessageId(at);
    EXPECT_EQ(id.size(), 16 + 9);
    EXPECT_TRUE(id.startsWith('<'));
    EXPECT_TRUE(id.endsWith("@Halvorn>"));
    // File time of that moment: 134410395090000000 = 0x01DD858ACD759880; its first digit became "<".
    EXPECT_EQ(id, QByteArray("<1DD858ACD759880@Halvorn>"));
    EXPECT_EQ(MimeTypeFor(QStringLiteral("A.QBR")), QByteArray("text/plain"));
    EXPECT_EQ(MimeTypeFor(QStringLiteral("x.JPEG")), QByteArray("image/jpeg"));
    EXPECT_EQ(MimeTypeFor(QStringLiteral("x.exe")), QByteArray("application/octet-stream"));
    EXPECT_EQ(FormatAddressHeader(QStringLiteral("Team   <a@b.example>")), QByteArray("Team <a@b.example>"));
    EXPECT_EQ(FormatAddressHeader(QStringLiteral("a@b.example\r\nBcc: x@y")),
              QByteArray("<a@b.example  Bcc: x@y>"));
}

TEST(MimeMessageFormat, BoundaryIsDrawnAgainWhileTheContentHoldsIt)
{
    QStringList draws{QStringLiteral("first"), QStringLiteral("second"), QStringLiteral("third")};
    const QByteArray content = "x\r\n--Trevasil_multipart_boundary_first\r\n";
    const QByteArray boundary = crash::http::ChooseMultipartBoundary(
        [&](QByteArrayView b) { return content.contains(b); }, [&] { return draws.takeFirst().toLatin1(); });
    EXPECT_EQ(boundary, QByteArray("Trevasil_multipart_boundary_second"));

    const MimeMessage one(QStringLiteral("a@b.example"), QStringLiteral("c@d.example"), {}, {}, {});
    const MimeMessage two(QStringLiteral("a@b.example"), QStringLiteral("c@d.example"), {}, {}, {});
    EXPECT_NE(one.boundary(), two.boundary());
    EXPECT_TRUE(one.head().contains("boundary=\"" + one.boundary() + "\""));
    EXPECT_EQ(one.end(), "--" + one.boundary() + "--\r\n");
}

TEST(MimeMessageFormat, AddressListsKeepQuotedNamesWhole)
{
    EXPECT_EQ(SplitAddresses(QStringLiteral("\"Doe, Jane\" <j@x.example>; b@y.example,,")),
              (QStringList{"\"Doe, Jane\" <j@x.example>", "b@y.example"}));
    EXPECT_EQ(DisplayName(QStringLiteral("\"a \\\"b\\\" <c>\" <d@e.example>")),
              QStringLiteral("a \"b\" <c>"));
    EXPECT_EQ(BareAddress(QStringLiteral("\"a <c>\" <d@e.example>")), QStringLiteral("d@e.example"));
    EXPECT_EQ(QuotedAddress(QStringLiteral("Doe, Jane <j@x.example>")),
              QStringLiteral("\"Doe, Jane\" <j@x.example>"));
    EXPECT_EQ(QuotedAddress(QStringLiteral("Jane Doe <j@x.example>")),
              QStringLiteral("Jane Doe <j@x.example>"));
    EXPECT_EQ(QuotedAddress(QStringLiteral("j@x.example")), QStringLiteral("j@x.example"));
    EXPECT_EQ(FormatAddressHeader(QStringLiteral("a\\b\"c <d@e.example>")),
              QByteArray("\"a\\\\b\\\"c\" <d@e.example>"));
}

} // namespace

namespace {

TEST(SmtpProcedure, ClientModeFromTheSendProcedure)
{
    sendtest::MailHandlerSandbox sandbox{QString{}};
    LocalSmtpServer server({});
    ASSERT_TRUE(server.isRunning());
    auto report = sendtest::MakeReport();
    report->setMailAsSmtpClient(true);
    report->setSmtpServer(QStringLiteral("127.0.0.1"));
    report->setSmtpPort(server.port());
    report->setMailAddr(QStringLiteral("Support <support@mirelune.example>"));
    QImage picture(40, 30, QImage::Format_RGB32);
    picture.fill(Qt::red);
    SendJob job;
    job.report = report;
    job.reportText = sendtest::SampleReportText();
    job.screenshot = picture;
    ASSERT_TRUE(SendBugReport(job));
    EXPECT_TRUE(report->wasSent());
    ASSERT_TRUE(server.waitForMails(1));
    const auto mail = server.mails().first();
    EXPECT_EQ(mail.envelope["from"].toString(), QStringLiteral("support@mirelune.example"));
    EXPECT_EQ(mail.decoded["from"].toString(), QStringLiteral("Halvorn <support@mirelune.example>"));
    EXPECT_EQ(mail.decoded["subject"].toString(), QStringLiteral("KRY v10 Pelliform bug report"));
    const QJsonArray attachments = mail.decoded["attachments"].toArray();
    ASSERT_EQ(attachments.size(), 2);
    EXPECT_EQ(attachments[0]["name"].toString(), QStringLiteral("bugreport.txt"));
    EXPECT_EQ(QByteArray::fromBase64(attachments[0]["data"].toString().toLatin1()),
              (sendtest::SampleReportText() + "\r\n\r\n").toUtf8());
    EXPECT_EQ(attachments[1]["name"].toString(), QStringLiteral("screenshot.png"));
    QImage received;
    ASSERT_TRUE(
        received.loadFromData(QByteArray::fromBase64(attachments[1]["data"].toString().toLatin1()), "PNG"));
    EXPECT_EQ(received.pixelColor(5, 5), QColor(Qt::red));
}

} // namespace
