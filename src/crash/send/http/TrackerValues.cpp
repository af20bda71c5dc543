#include "crash/send/http/TrackerValues.h"

namespace crash::http {

QString ListedName(const QStringList& listed, const QString& wanted)
{
    if (wanted.isEmpty())
        return {};
    for (const QString& name : listed)
        if (name.compare(wanted, Qt::CaseInsensitive) == 0)
            return name;
    return {};
}

QString ListedOrFirst(const QStringList& listed, const QStringList& wanted)
{
    for (const QString& name : wanted)
        if (const QString found = ListedName(listed, name); !found.isEmpty())
            return found;
    return listed.value(0);
}

QString FogBugzScriptPath(const XmlNode& apiDescription)
{
    bool ok = false;
    const int minVersion = apiDescription.value(QStringLiteral("minversion")).toInt(&ok);
    QString url = apiDescription.value(QStringLiteral("url"));
    if (url.endsWith(QLatin1Char('?')))
        url.chop(1);
    if (!ok || minVersion >= 9 || url.isEmpty())
        return {};
    return QLatin1Char('/') + url;
}

std::vector<NamedId> MantisItems(const XmlNode& arrayAnswer)
{
    std::vector<NamedId> out;
    for (const XmlNode& item : arrayAnswer.children)
        out.push_back({item.children.empty() ? item.text : item.value(QStringLiteral("name")),
                       item.value(QStringLiteral("id"))});
    return out;
}

QStringList NamesOf(const std::vector<NamedId>& list)
{
    QStringList out;
    for (const auto& item : list)
        out << item.name;
    return out;
}

QString IdOf(const std::vector<NamedId>& list, const QString& name)
{
    if (name.isEmpty())
        return {};
    for (const auto& item : list)
        if (item.name.compare(name, Qt::CaseInsensitive) == 0)
            return item.id;
    return {};
}

QStringList NamesOf(const QVariant& structs)
{
    QStringList out;
    for (const QVariant& item : structs.toList())
        out << item.toMap().value(QStringLiteral("name")).toString();
    return out;
}

QHash<QString, QStringList> FieldValues(const QVariant& fieldsAnswer)
{
    QHash<QString, QStringList> values;
    for (const QVariant& field : fieldsAnswer.toMap().value(QStringLiteral("fields")).toList()) {
        const QVariantMap map = field.toMap();
        values.insert(map.value(QStringLiteral("name")).toString().toLower(),
                      NamesOf(map.value(QStringLiteral("values"))));
    }
    return values;
}

} // namespace crash::http
