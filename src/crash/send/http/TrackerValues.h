#pragma once
// The values the tracker uploads take from the trackers' answers, and the choice among listed
// values: the wanted name as the tracker spells it when listed (compared without regard to case),
// else a fallback. Answers come from the network; nothing here trusts their shape.

#include "crash/send/http/XmlTree.h"

#include <QHash>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <vector>

namespace crash::http {

// The listed spelling of `wanted`; empty when it is not listed.
QString ListedName(const QStringList& listed, const QString& wanted);
// The listed spelling of the first of `wanted` that is listed, else the first listed value.
QString ListedOrFirst(const QStringList& listed, const QStringList& wanted);

// FogBugz: the API script's path ("/api.asp" for <url>api.asp?</url>) from the API description;
// empty when the description is unusable (no url, or a version whose API differs: 9 and later).
QString FogBugzScriptPath(const XmlNode& apiDescription);

// A listed value with the tracker's id for it.
struct NamedId
{
    QString name;
    QString id;
};

// Mantis: the direct items of an array answer; an item without children is its own name.
std::vector<NamedId> MantisItems(const XmlNode& arrayAnswer);
QStringList NamesOf(const std::vector<NamedId>& list);
// The id of the item named `name` (without regard to case); empty when none or `name` is empty.
QString IdOf(const std::vector<NamedId>& list, const QString& name);

// BugZilla: the "name" member of each struct of an XML-RPC array.
QStringList NamesOf(const QVariant& structs);
// BugZilla: the value names of each field of a Bug.fields answer, by the field's lower-case name.
QHash<QString, QStringList> FieldValues(const QVariant& fieldsAnswer);

} // namespace crash::http
