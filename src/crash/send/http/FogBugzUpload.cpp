// The FogBugz upload: read the API description, log on, list what the account may use, log off;
// then log on again and create the case with one form upload carrying the files.

#include "crash/send/http/HttpUpload.h"
#include "crash/send/http/TrackerValues.h"
#include "crash/send/http/XmlTree.h"

#include "crash/core/report/ReportServices.h"

#include <QFileInfo>
#include <QUrl>
#include <optional>
#include <utility>
#include <vector>

namespace crash::http {

namespace {

class FogBugzSession
{
public:
    FogBugzSession(TWinHttp& http, ProgressAlert* progress) : m_http(http), m_progress(progress) {}

    bool readApi()
    {
        if (!m_http.request("GET", QStringLiteral("/api.xml"), {}, nullptr))
            return false;
        m_script = FogBugzScriptPath(ParseXml(m_http.responseBytes()));
        return !m_script.isEmpty();
    }

    // A command's <response>, or nothing when it failed or the answer holds "<error".
    std::optional<XmlNode> command(const QString& cmd, const std::vector<std::pair<QString, QString>>& args)
    {
        QString path = m_script + QStringLiteral("?cmd=") + cmd;
        for (const auto& [key, value] : args)
            path += QLatin1Char('&') + key + QLatin1Char('=') +
                    QString::fromLatin1(QUrl::toPercentEncoding(value));
        if (!m_http.request("GET", path, {}, nullptr))
            return std::nullopt;
        if (m_http.responseBytes().contains("<error"))
            return std::nullopt;
        const XmlNode answer = ParseXml(m_http.responseBytes());
        const XmlNode* response = answer.find(QStringLiteral("response"));
        return response ? std::optional<XmlNode>(*response) : std::nullopt;
    }

    bool logon()
    {
        const auto& account = m_http.trackerCredentials();
        const auto answer =
            command(QStringLiteral("logon"), {{QStringLiteral("email"), account.user},
                                              {QStringLiteral("password"), account.password}});
        m_token = answer ? answer->value(QStringLiteral("token")) : QString();
        return !m_token.isEmpty();
    }

    void logoff() { command(QStringLiteral("logoff"), {{QStringLiteral("token"), m_token}}); }

    QStringList names(const QString& cmd, bool writable, const QString& entry, const QString& field)
    {
        std::vector<std::pair<QString, QString>> args;
        if (writable)
            args.push_back({QStringLiteral("fWrite"), QStringLiteral("1")});
        args.push_back({QStringLiteral("token"), m_token});
        QStringList out;
        if (const auto answer = command(cmd, args))
            for (const XmlNode* item : answer->findAll(entry))
                out << item->value(field);
        advance();
        return out;
    }

    // Areas with the project each belongs to.
    std::vector<std::pair<QString, QString>> areas()
    {
        std::vector<std::pair<QString, QString>> out;
        if (const auto answer =
                command(QStringLiteral("listAreas"), {{QStringLiteral("fWrite"), QStringLiteral("1")},
                                                      {QStringLiteral("token"), m_token}}))
            for (const XmlNode* area : answer->findAll(QStringLiteral("area")))
                out.push_back(
                    {area->value(QStringLiteral("sArea")), area->value(QStringLiteral("sProject"))});
        advance();
        return out;
    }

    const QString& script() const { return m_script; }
    const QString& token() const { return m_token; }

    void advance()
    {
        m_step = std::min(m_step + 1, 8);
        if (m_progress)
            m_progress->setStepPosition(m_step * 111);
    }

private:
    TWinHttp& m_http;
    ProgressAlert* m_progress;
    QString m_script;
    QString m_token;
    int m_step = 0;
};

} // namespace

bool FogBugzUpload(TWinHttp& http, const UploadRequest& request)
{
    FogBugzSession session(http, request.progress);
    if (!session.readApi() || !session.logon())
        return false;
    session.advance();
    const QStringList projects = session.names(QStringLiteral("listProjects"), true,
                                               QStringLiteral("project"), QStringLiteral("sProject"));
    const auto areas = session.areas();
    const QStringList categories = session.names(QStringLiteral("listCategories"), false,
                                                 QStringLiteral("category"), QStringLiteral("sCategory"));
    session.names(QStringLiteral("listPriorities"), false, QStringLiteral("priority"),
                  QStringLiteral("sPriority"));
    const QStringList people = session.names(QStringLiteral("listPeople"), false, QStringLiteral("person"),
                                             QStringLiteral("sFullName"));
    session.logoff();

    const QString project = ListedName(projects, request.project);
    QString area;
    if (!project.isEmpty()) {
        QStringList projectAreas;
        for (const auto& [name, owner] : areas)
            if (owner.compare(project, Qt::CaseInsensitive) == 0)
                projectAreas << name;
        area = ListedName(projectAreas, request.area);
        if (area.isEmpty())
            area = ListedName(projectAreas, QStringLiteral("not spam"));
    }
    const QString category = ListedOrFirst(categories, {QStringLiteral("bug")});
    const QString person = ListedName(people, request.assignTo);

    if (!session.logon())
        return false;
    MultipartForm form;
    const QList<std::pair<QString, QString>> fields{
        {QStringLiteral("cmd"), QStringLiteral("new")},
        {QStringLiteral("token"), session.token()},
        {QStringLiteral("sTitle"), request.title},
        {QStringLiteral("sEvent"), request.description},
        {QStringLiteral("sProject"), project},
        {QStringLiteral("sArea"), area},
        {QStringLiteral("sCategory"), category},
        {QStringLiteral("sPersonAssignedTo"), person},
        {QStringLiteral("sVersion"), request.version},
        {QStringLiteral("sComputer"), request.computerName},
        {QStringLiteral("sCustomerEmail"), request.from},
        {QStringLiteral("ixMailbox"), request.from},
        {QStringLiteral("sScoutDescription"), request.callstackCrc}};
    for (const auto& [name, value] : fields)
        form.addField(name, value);
    // The count must match what is really attached, so unreadable files drop out first.
    QList<FormFile> readable;
    for (const FormFile& file : request.files)
        if (QFileInfo(file.path).isReadable())
            readable << FormFile{file.path, file.sendAs, QStringLiteral("File%1").arg(readable.size() + 1)};
    form.addField(QStringLiteral("nFileCount"), QString::number(readable.size()));
    for (const auto& [name, content] : request.fields)
        form.addField(name, content);
    for (const FormFile& file : readable)
        form.addFile(file);

    const bool sent = http.request("POST", session.script(), {"Content-Type: " + form.contentType()}, &form);
    const bool created = sent && http.responseBytes().contains("<case ixBug=");
    session.logoff();
    return created;
}

} // namespace crash::http
