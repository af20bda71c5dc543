// The Mantis upload over SOAP: learn the accessible projects with their categories, versions and
// developers and the priority and severity ids, then add the issue and attach every file.

#include "crash/send/http/HttpUpload.h"
#include "crash/send/http/TrackerValues.h"
#include "crash/send/http/XmlCall.h"
#include "crash/send/http/XmlTree.h"

#include "crash/core/report/ReportServices.h"

#include <QFile>
#include <optional>

namespace crash::http {

namespace {

class MantisSession
{
public:
    explicit MantisSession(TWinHttp& http) : m_http(http) {}

    // The <return> element of the answer.
    std::optional<XmlNode> call(const QString& method, std::vector<XmlMember> members = {})
    {
        const auto& account = m_http.trackerCredentials();
        members.insert(members.begin(), {{QStringLiteral("username"), account.user},
                                         {QStringLiteral("password"), account.password}});
        BufferBody body(SoapCall(method, members));
        if (!m_http.request("POST", QStringLiteral("/api/soap/mantisconnect.php"), {"Content-Type: text/xml"},
                            &body))
            return std::nullopt;
        if (m_http.responseBytes().contains("<faultstring"))
            return std::nullopt;
        const XmlNode answer = ParseXml(m_http.responseBytes());
        const XmlNode* result = answer.find(QStringLiteral("return"));
        return result ? std::optional<XmlNode>(*result) : std::nullopt;
    }

    // The direct items of an array answer as (name, id).
    std::vector<NamedId> items(const QString& method, std::vector<XmlMember> members = {})
    {
        const auto result = call(method, std::move(members));
        return result ? MantisItems(*result) : std::vector<NamedId>();
    }

private:
    TWinHttp& m_http;
};

std::vector<XmlMember> Ref(const QString& id)
{
    return {{QStringLiteral("id"), id}};
}

} // namespace

bool MantisUpload(TWinHttp& http, const UploadRequest& request)
{
    MantisSession session(http);
    if (!session.call(QStringLiteral("mc_version")))
        return false;
    const auto projects = session.items(QStringLiteral("mc_projects_get_user_accessible"));
    if (projects.empty())
        return false;
    const QString developer =
        IdOf(session.items(QStringLiteral("mc_enum_access_levels")), QStringLiteral("developer"));

    const QString projectName = ListedOrFirst(NamesOf(projects), {request.project});
    const QString projectId = IdOf(projects, projectName);
    const std::vector<XmlMember> project{{QStringLiteral("project_id"), projectId}};
    const auto categories = session.items(QStringLiteral("mc_project_get_categories"), project);
    const auto versions = session.items(QStringLiteral("mc_project_get_versions"), project);
    auto usersQuery = project;
    usersQuery.push_back({QStringLiteral("access"), developer});
    const auto users = session.items(QStringLiteral("mc_project_get_users"), usersQuery);
    const auto priorities = session.items(QStringLiteral("mc_enum_priorities"));
    const auto severities = session.items(QStringLiteral("mc_enum_severities"));

    std::vector<XmlMember> issue{{QStringLiteral("project"), Ref(projectId)}};
    if (const QString version = ListedName(NamesOf(versions), request.version); !version.isEmpty())
        issue.push_back({QStringLiteral("version"), version});
    if (const QString handler = IdOf(users, request.assignTo); !handler.isEmpty())
        issue.push_back({QStringLiteral("handler"), Ref(handler)});
    if (const QString priority = IdOf(priorities, QStringLiteral("normal")); !priority.isEmpty())
        issue.push_back({QStringLiteral("priority"), Ref(priority)});
    if (const QString severity = IdOf(severities, QStringLiteral("crash")); !severity.isEmpty())
        issue.push_back({QStringLiteral("severity"), Ref(severity)});
    issue.push_back({QStringLiteral("summary"), request.title});
    issue.push_back({QStringLiteral("category"), ListedOrFirst(NamesOf(categories), {request.area})});
    issue.push_back({QStringLiteral("os"), request.operatingSystem});
    issue.push_back({QStringLiteral("description"), request.description});

    const auto added = session.call(QStringLiteral("mc_issue_add"), {{QStringLiteral("issue"), issue}});
    const QString issueId = added ? added->text : QString();
    if (issueId.isEmpty())
        return false;

    for (const FormFile& file : request.files) {
        QFile in(file.path);
        if (!in.open(QIODevice::ReadOnly))
            return false;
        const std::vector<XmlMember> attachment{{QStringLiteral("issue_id"), issueId},
                                                {QStringLiteral("name"), file.sendAs},
                                                {QStringLiteral("file_type"), MimeTypeForFile(file.sendAs)},
                                                {QStringLiteral("content"), XmlBinary{in.readAll()}}};
        if (!session.call(QStringLiteral("mc_issue_attachment_add"), attachment))
            return false;
        if (request.progress)
            request.progress->stepDone();
    }
    return true;
}

} // namespace crash::http
