// The BugZilla upload over XML-RPC: check the server and the logon, learn the products with their
// components and versions and the field values, then create the bug and attach every file.

#include "crash/send/http/HttpUpload.h"
#include "crash/send/http/TrackerValues.h"
#include "crash/send/http/XmlCall.h"
#include "crash/send/http/XmlTree.h"

#include "crash/core/report/ReportServices.h"

#include <QFile>
#include <QFileInfo>
#include <optional>

namespace crash::http {

namespace {

class BugZillaSession
{
public:
    explicit BugZillaSession(TWinHttp& http) : m_http(http) {}

    std::optional<QVariant> call(const QString& method, std::vector<XmlMember> members, bool withLogin = true)
    {
        if (withLogin) {
            const auto& account = m_http.trackerCredentials();
            members.insert(members.begin(), {{QStringLiteral("Bugzilla_login"), account.user},
                                             {QStringLiteral("Bugzilla_password"), account.password}});
        }
        BufferBody body(XmlRpcCall(method, members));
        if (!m_http.request("POST", QStringLiteral("/xmlrpc.cgi"), {"Content-Type: text/xml"}, &body))
            return std::nullopt;
        if (m_http.responseBytes().contains("faultString"))
            return std::nullopt;
        const QVariant result = XmlRpcResult(ParseXml(m_http.responseBytes()));
        return result.isValid() ? std::optional<QVariant>(result) : std::nullopt;
    }

private:
    TWinHttp& m_http;
};

// Bugzilla aliases are short and must not look like numbers: the first two checksum values.
QString AliasFromChecksum(const QString& crc)
{
    QString digits = crc;
    digits.remove(QLatin1Char('$')).remove(QLatin1Char(' ')).remove(QLatin1Char(','));
    return digits.isEmpty() ? QString() : QStringLiteral("h") + digits.left(16);
}

} // namespace

bool BugZillaUpload(TWinHttp& http, const UploadRequest& request)
{
    BugZillaSession session(http);
    if (!session.call(QStringLiteral("Bugzilla.version"), {}, false) ||
        !session.call(QStringLiteral("Bugzilla.version"), {}))
        return false;
    const auto enterable = session.call(QStringLiteral("Product.get_enterable_products"), {});
    if (!enterable)
        return false;
    XmlIntList ids;
    for (const QVariant& id : enterable->toMap().value(QStringLiteral("ids")).toList())
        ids.values << id.toLongLong();
    const auto products = session.call(QStringLiteral("Product.get"), {{QStringLiteral("ids"), ids}});
    const auto fields = session.call(QStringLiteral("Bug.fields"), {});
    if (!products || !fields)
        return false;

    const QVariantList productList = products->toMap().value(QStringLiteral("products")).toList();
    const QString product = ListedOrFirst(NamesOf(productList), {request.project});
    QVariantMap chosen;
    for (const QVariant& p : productList)
        if (p.toMap().value(QStringLiteral("name")).toString() == product)
            chosen = p.toMap();
    const QString component =
        ListedOrFirst(NamesOf(chosen.value(QStringLiteral("components"))), {request.area});
    const QString version =
        ListedOrFirst(NamesOf(chosen.value(QStringLiteral("versions"))), {request.version});

    const QHash<QString, QStringList> values = FieldValues(*fields);
    const auto valuesOf = [&](const char* name, const char* otherName) {
        const QStringList found = values.value(QLatin1String(name));
        return found.isEmpty() && otherName ? values.value(QLatin1String(otherName)) : found;
    };

    const std::vector<XmlMember> bug{
        {QStringLiteral("product"), product},
        {QStringLiteral("component"), component},
        {QStringLiteral("summary"), request.title},
        {QStringLiteral("version"), version},
        {QStringLiteral("description"), request.description},
        {QStringLiteral("op_sys"),
         ListedOrFirst(valuesOf("op_sys", nullptr), {request.operatingSystem, QStringLiteral("other")})},
        {QStringLiteral("alias"), AliasFromChecksum(request.callstackCrc)},
        {QStringLiteral("priority"), ListedOrFirst(valuesOf("priority", nullptr), {QStringLiteral("P2")})},
        {QStringLiteral("severity"),
         ListedOrFirst(valuesOf("bug_severity", "severity"), {QStringLiteral("normal")})},
        {QStringLiteral("platform"),
         ListedOrFirst(valuesOf("rep_platform", "platform"), {QStringLiteral("PC")})},
        {QStringLiteral("assigned_to"), request.assignTo}};
    const auto created = session.call(QStringLiteral("Bug.create"), bug);
    bool ok = false;
    const qint64 id = created ? created->toMap().value(QStringLiteral("id")).toLongLong(&ok) : 0;
    if (!ok || id <= 0)
        return false;

    for (const FormFile& file : request.files) {
        QFile in(file.path);
        if (!in.open(QIODevice::ReadOnly))
            return false;
        const std::vector<XmlMember> attachment{
            {QStringLiteral("exclude_fields"), QStringLiteral("data")},
            {QStringLiteral("ids"), XmlIntList{{id}}},
            {QStringLiteral("file_name"), file.sendAs},
            {QStringLiteral("summary"), file.sendAs},
            {QStringLiteral("content_type"), MimeTypeForFile(file.sendAs)},
            {QStringLiteral("data"), XmlBinary{in.readAll()}}};
        if (!session.call(QStringLiteral("Bug.add_attachment"), attachment))
            return false;
        if (request.progress)
            request.progress->stepDone();
    }
    return true;
}

} // namespace crash::http
