// The send procedure's HTTP step against a local bug-tracker stand-in: an entry made from the
// settings and the report, and a fault answer that hands the report on to the mail client.
#include "SendTestSupport.h"
#include "http/LocalServer.h"
#include "support/MessageBoxRecorder.h"
#include "support/TempDir.h"

#include "crash/send/SendProcedure.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>

using namespace crash::send;

namespace {

const char* kCatalogue = R"({"products": [{"name": "Skin Tool", "components": ["Crashes"], "versions": ["11.0"]}],
  "fields": {"priority": ["P2"], "bug_severity": ["normal"], "op_sys": ["other"], "rep_platform": ["PC"]},
  "projects": [], "areas": [], "categories": [], "people": []})";

class HttpDelivery : public ::testing::Test
{
protected:
    bool send(const QString& fault)
    {
        testsupport::LocalServer tracker(
            QStringLiteral("/usr/bin/python3"),
            {QStringLiteral(SEND_TEST_DIR "/http/tracker_test_server.py"), QStringLiteral("--kind"), QStringLiteral("bugzilla"),
             QStringLiteral("--catalogue"), work.write(QStringLiteral("c.json"), kCatalogue), QStringLiteral("--log"),
             work.file(QStringLiteral("calls.jsonl")), QStringLiteral("--fault"), fault});
        EXPECT_TRUE(tracker.ready()) << tracker.errors().toStdString();
        report->setBugZilla(true);
        report->setHttpServer(QStringLiteral("127.0.0.1/tracker/"));
        report->setHttpPort(tracker.port());
        report->setBugTrAccount(QStringLiteral("reporter@example.test"));
        report->setBugTrPassword(QStringLiteral("tracker-pw"));
        report->setBugTrProject(QStringLiteral("Skin Tool"));
        DeliveryTransports transports = DefaultTransports();
        transports.mailClient = [this](const MailClientRequest&) {
            mailClientCalls++;
            return 1;
        };
        SendJob job;
        job.report = report;
        job.reportText = sendtest::SampleReportText();
        job.silent = true;
        return SendBugReport(job, transports);
    }

    QJsonObject created() const
    {
        QFile log(work.file(QStringLiteral("calls.jsonl")));
        log.open(QIODevice::ReadOnly);
        for (const QByteArray& line : log.readAll().split('\n')) {
            const QJsonObject call = QJsonDocument::fromJson(line).object();
            if (call.value(QStringLiteral("call")).toString() == QLatin1String("Bug.create"))
                return call.value(QStringLiteral("args")).toObject();
        }
        return {};
    }

    sendtest::MailHandlerSandbox sandbox{QString{}};
    std::shared_ptr<crash::ExceptionReport> report = sendtest::MakeReport();
    testsupport::MessageBoxRecorder boxes;
    testsupport::TempDir work;
    int mailClientCalls = 0;
};

} // namespace

TEST_F(HttpDelivery, TrackerEntryComesFromSettingsAndReport)
{
    qputenv("http_proxy", "");
    ASSERT_TRUE(send(QString()));
    EXPECT_EQ(mailClientCalls, 0);
    const QJsonObject bug = created();
    EXPECT_EQ(bug.value(QStringLiteral("product")).toString(), QStringLiteral("Skin Tool"));
    // The title's placeholders are filled from the report text.
    EXPECT_TRUE(bug.value(QStringLiteral("summary")).toString().contains(QStringLiteral("Not find rcc.exe.")));
    EXPECT_TRUE(bug.value(QStringLiteral("description")).toString().contains(QStringLiteral("The skin could not be made.")));
}

TEST_F(HttpDelivery, FaultAnswerFallsThroughToTheMailClient)
{
    qputenv("http_proxy", "");
    EXPECT_TRUE(send(QStringLiteral("Bug.create")));
    EXPECT_EQ(mailClientCalls, 1);
}
