// The three bug-tracker uploads against protocol-faithful local stand-ins: which values they pick
// from what the tracker lists, that every file arrives byte for byte, and that a fault answer
// makes the upload fail so the mail transports can take over.

#include "LocalServer.h"
#include "support/TempDir.h"

#include "crash/send/http/HttpUpload.h"
#include "crash/send/http/TrackerValues.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>
#include <iostream>

using namespace crash::http;

namespace {

const QString kTracker = QStringLiteral(HTTP_TEST_DIR "/tracker_test_server.py");

const char* kCatalogue = R"({
  "products": [
    {"name": "Toolbox", "components": ["Core"], "versions": ["1.0"]},
    {"name": "Skin Tool", "components": ["General", "Crashes"], "versions": ["10.0", "11.0.3"]}
  ],
  "fields": {"priority": ["P1", "P2", "P3"], "bug_severity": ["critical", "normal"],
             "op_sys": ["Linux", "Windows", "other"], "rep_platform": ["All", "PC"]},
  "projects": [{"id": 3, "name": "Toolbox", "categories": ["General"], "versions": ["1.0"], "users": [[1, "admin"]]},
               {"id": 9, "name": "Skin Tool", "categories": ["ui", "Crashes"], "versions": ["11.0.3"],
                "users": [[5, "dev.anna"], [6, "dev.ben"]]}],
  "areas": [["Toolbox", "Misc"], ["Skin Tool", "Installer"], ["Skin Tool", "Not Spam"]],
  "categories": ["Feature", "Bug", "Inquiry"],
  "people": ["Anna Dev", "Ben Dev"]
})";

class TrackerUploadTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        qputenv("http_proxy", "");
        catalogue = work.write(QStringLiteral("catalogue.json"), kCatalogue);
        log = work.file(QStringLiteral("calls.jsonl"));
        report = QByteArray("report line\r\n") + QByteArray(5000, 'x');
        picture = QByteArray::fromHex("89504e470d0a1a0a0000000d49484452") + QByteArray(3000, '\xff');
        request.title = QStringLiteral("Skin Tool, access violation");
        request.description = QStringLiteral("error details:\r\nit crashed <badly>");
        request.project = QStringLiteral("skin tool");
        request.version = QStringLiteral("11.0.3");
        request.operatingSystem = QStringLiteral("Debian GNU/Linux 12");
        request.computerName = QStringLiteral("builder");
        request.callstackCrc = QStringLiteral("$0123abcd, $4567ef01, $89abcdef");
        request.from = QStringLiteral("anna@example.test");
        request.files = {{work.write(QStringLiteral("bugreport.txt"), report),
                          QStringLiteral("bugreport.txt"), QStringLiteral("BugReport")},
                         {work.write(QStringLiteral("screenShot.png"), picture),
                          QStringLiteral("screenShot.png"), QStringLiteral("ScreenShot")}};
    }

    bool upload(const QString& kind, bool (*uploader)(TWinHttp&, const UploadRequest&),
                const QString& fault = {})
    {
        testsupport::LocalServer server(QStringLiteral("/usr/bin/python3"),
                                        {kTracker, QStringLiteral("--kind"), kind,
                                         QStringLiteral("--catalogue"), catalogue, QStringLiteral("--log"),
                                         log, QStringLiteral("--fault"), fault});
        EXPECT_TRUE(server.ready()) << server.errors().toStdString();
        HttpTarget target;
        target.server = QStringLiteral("127.0.0.1/tracker");
        target.port = server.port();
        target.tracker = {QStringLiteral("reporter@example.test"), QStringLiteral("tracker-pw")};
        TWinHttp http(target);
        const bool ok = uploader(http, request);
        if (!ok) // shown when a test fails on it
            std::cerr << "upload failed: " << http.lastError().toStdString() << " "
                      << QString::fromUtf8(http.responseBytes()).toStdString() << "\n";
        return ok;
    }

    // The logged calls named `name`, in order.
    std::vector<QJsonObject> calls(const QString& name) const
    {
        std::vector<QJsonObject> out;
        QFile file(log);
        if (!file.open(QIODevice::ReadOnly))
            return out;
        for (const QByteArray& line : file.readAll().split('\n')) {
            const QJsonObject call = QJsonDocument::fromJson(line).object();
            if (call.value(QStringLiteral("call")).toString() == name)
                out.push_back(call.value(QStringLiteral("args")).toObject());
        }
        return out;
    }

    testsupport::TempDir work;
    QString catalogue, log;
    QByteArray report, picture;
    UploadRequest request;
};

QByteArray Hex(const QJsonValue& value)
{
    return QByteArray::fromHex(value.toString().toLatin1());
}

} // namespace

TEST_F(TrackerUploadTest, BugZillaPicksListedValuesAndAttachesEveryFile)
{
    request.area = QStringLiteral("crashes");
    ASSERT_TRUE(upload(QStringLiteral("bugzilla"), BugZillaUpload));
    const auto created = calls(QStringLiteral("Bug.create"));
    ASSERT_EQ(created.size(), 1u);
    const QJsonObject bug = created[0];
    EXPECT_EQ(bug.value(QStringLiteral("Bugzilla_login")).toString(),
              QStringLiteral("reporter@example.test"));
    EXPECT_EQ(bug.value(QStringLiteral("product")).toString(), QStringLiteral("Skin Tool"));
    EXPECT_EQ(bug.value(QStringLiteral("component")).toString(), QStringLiteral("Crashes"));
    EXPECT_EQ(bug.value(QStringLiteral("version")).toString(), QStringLiteral("11.0.3"));
    EXPECT_EQ(bug.value(QStringLiteral("op_sys")).toString(), QStringLiteral("other"));
    EXPECT_EQ(bug.value(QStringLiteral("priority")).toString(), QStringLiteral("P2"));
    EXPECT_EQ(bug.value(QStringLiteral("severity")).toString(), QStringLiteral("normal"));
    EXPECT_EQ(bug.value(QStringLiteral("platform")).toString(), QStringLiteral("PC"));
    EXPECT_EQ(bug.value(QStringLiteral("description")).toString(), request.description);
    EXPECT_FALSE(bug.value(QStringLiteral("alias")).toString().isEmpty());

    const auto attachments = calls(QStringLiteral("Bug.add_attachment"));
    ASSERT_EQ(attachments.size(), 2u);
    EXPECT_EQ(Hex(attachments[0].value(QStringLiteral("data"))), report);
    EXPECT_EQ(attachments[0].value(QStringLiteral("content_type")).toString(), QStringLiteral("text/plain"));
    EXPECT_EQ(Hex(attachments[1].value(QStringLiteral("data"))), picture);
    EXPECT_EQ(attachments[1].value(QStringLiteral("content_type")).toString(), QStringLiteral("image/png"));
    EXPECT_EQ(attachments[1].value(QStringLiteral("ids")).toArray().at(0).toInt(), 4711);
}

TEST_F(TrackerUploadTest, BugZillaFallsBackToFirstListedAndFailsOnFaults)
{
    request.project = QStringLiteral("Unknown");
    request.version = QStringLiteral("9.9");
    ASSERT_TRUE(upload(QStringLiteral("bugzilla"), BugZillaUpload));
    const QJsonObject bug = calls(QStringLiteral("Bug.create")).at(0);
    EXPECT_EQ(bug.value(QStringLiteral("product")).toString(), QStringLiteral("Toolbox"));
    EXPECT_EQ(bug.value(QStringLiteral("component")).toString(), QStringLiteral("Core"));
    EXPECT_EQ(bug.value(QStringLiteral("version")).toString(), QStringLiteral("1.0"));

    EXPECT_FALSE(upload(QStringLiteral("bugzilla"), BugZillaUpload, QStringLiteral("Bug.add_attachment")));
    EXPECT_FALSE(upload(QStringLiteral("bugzilla"), BugZillaUpload, QStringLiteral("Bug.create")));
    request.files.clear();
    EXPECT_TRUE(upload(QStringLiteral("bugzilla"), BugZillaUpload));
}

TEST_F(TrackerUploadTest, MantisPicksIdsAndAttachesEveryFile)
{
    request.area = QStringLiteral("nothing like it");
    request.assignTo = QStringLiteral("DEV.BEN");
    ASSERT_TRUE(upload(QStringLiteral("mantis"), MantisUpload));
    EXPECT_EQ(calls(QStringLiteral("mc_project_get_users")).at(0).value(QStringLiteral("access")).toString(),
              QStringLiteral("55"));
    const QJsonObject issue =
        calls(QStringLiteral("mc_issue_add")).at(0).value(QStringLiteral("issue")).toObject();
    EXPECT_EQ(issue.value(QStringLiteral("project")).toObject().value(QStringLiteral("id")).toString(),
              QStringLiteral("9"));
    EXPECT_EQ(issue.value(QStringLiteral("category")).toString(), QStringLiteral("ui"));
    EXPECT_EQ(issue.value(QStringLiteral("version")).toString(), QStringLiteral("11.0.3"));
    EXPECT_EQ(issue.value(QStringLiteral("handler")).toObject().value(QStringLiteral("id")).toString(),
              QStringLiteral("6"));
    EXPECT_EQ(issue.value(QStringLiteral("priority")).toObject().value(QStringLiteral("id")).toString(),
              QStringLiteral("30"));
    EXPECT_EQ(issue.value(QStringLiteral("severity")).toObject().value(QStringLiteral("id")).toString(),
              QStringLiteral("70"));
    EXPECT_EQ(issue.value(QStringLiteral("description")).toString(), request.description);

    const auto attachments = calls(QStringLiteral("mc_issue_attachment_add"));
    ASSERT_EQ(attachments.size(), 2u);
    EXPECT_EQ(attachments[0].value(QStringLiteral("issue_id")).toString(), QStringLiteral("815"));
    EXPECT_EQ(Hex(attachments[0].value(QStringLiteral("content"))), report);
    EXPECT_EQ(Hex(attachments[1].value(QStringLiteral("content"))), picture);
    EXPECT_FALSE(upload(QStringLiteral("mantis"), MantisUpload, QStringLiteral("mc_issue_add")));
}

TEST_F(TrackerUploadTest, FogBugzChoosesAreaCategoryAndSendsFilesInTheForm)
{
    request.assignTo = QStringLiteral("ben dev");
    request.fields = {{QStringLiteral("Contact"), QStringLiteral("Anna")}};
    ASSERT_TRUE(upload(QStringLiteral("fogbugz"), FogBugzUpload));
    EXPECT_EQ(calls(QStringLiteral("logon")).size(), 2u);
    EXPECT_EQ(calls(QStringLiteral("logoff")).size(), 2u);
    const QJsonObject created = calls(QStringLiteral("new")).at(0);
    EXPECT_EQ(created.value(QStringLiteral("token")).toString(), QStringLiteral("tok123"));
    EXPECT_EQ(created.value(QStringLiteral("sProject")).toString(), QStringLiteral("Skin Tool"));
    EXPECT_EQ(created.value(QStringLiteral("sArea")).toString(), QStringLiteral("Not Spam"));
    EXPECT_EQ(created.value(QStringLiteral("sCategory")).toString(), QStringLiteral("Bug"));
    EXPECT_EQ(created.value(QStringLiteral("sPersonAssignedTo")).toString(), QStringLiteral("Ben Dev"));
    EXPECT_EQ(created.value(QStringLiteral("sScoutDescription")).toString(), request.callstackCrc);
    EXPECT_EQ(created.value(QStringLiteral("sEvent")).toString(), request.description);
    EXPECT_EQ(created.value(QStringLiteral("nFileCount")).toString(), QStringLiteral("2"));
    EXPECT_EQ(created.value(QStringLiteral("Contact")).toString(), QStringLiteral("Anna"));
    EXPECT_EQ(Hex(created.value(QStringLiteral("File1")).toObject().value(QStringLiteral("hex"))), report);
    EXPECT_EQ(Hex(created.value(QStringLiteral("File2")).toObject().value(QStringLiteral("hex"))), picture);

    request.project = QStringLiteral("nope");
    ASSERT_TRUE(upload(QStringLiteral("fogbugz"), FogBugzUpload));
    EXPECT_EQ(calls(QStringLiteral("new")).at(1).value(QStringLiteral("sProject")).toString(), QString());
    EXPECT_EQ(calls(QStringLiteral("new")).at(1).value(QStringLiteral("sArea")).toString(), QString());
    EXPECT_FALSE(upload(QStringLiteral("fogbugz"), FogBugzUpload, QStringLiteral("new")));
}

TEST(TrackerValuesTest, ValuesAreTakenFromAnswersOfAnyShape)
{
    const auto script = [](const char* answer) { return FogBugzScriptPath(ParseXml(answer)); };
    EXPECT_EQ(script("<response><minversion>1</minversion><url>api.asp?</url></response>"), "/api.asp");
    EXPECT_EQ(script("<response><minversion>1</minversion><url>api.asp</url></response>"), "/api.asp")
        << "only a trailing question mark goes";
    EXPECT_EQ(script("<response><minversion>9</minversion><url>api.asp?</url></response>"), QString());
    EXPECT_EQ(script("<response><minversion>1</minversion><url>?</url></response>"), QString());
    EXPECT_EQ(script("<response><url>api.asp?</url></response>"), QString());

    const auto items =
        MantisItems(*ParseXml("<return><item><id>3</id><name>Normal</name></item><item>plain</item>"
                              "<item><name>no id</name></item></return>")
                         .find("return"));
    EXPECT_EQ(NamesOf(items), QStringList({"Normal", "plain", "no id"}));
    EXPECT_EQ(IdOf(items, "NORMAL"), "3");
    EXPECT_EQ(IdOf(items, ""), QString());

    const QVariant fields = XmlRpcResult(ParseXml(
        "<methodResponse><params><param><value><struct><member><name>fields</name><value><array><data>"
        "<value><struct><member><name>name</name><value>Priority</value></member></struct></value>"
        "<value>not a struct</value></data></array></value></member></struct></value></param></params>"
        "</methodResponse>"));
    const auto values = FieldValues(fields);
    EXPECT_TRUE(values.contains("priority"));
    EXPECT_EQ(values.value("priority"), QStringList()) << "a field without values";
}
