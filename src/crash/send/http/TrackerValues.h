#pragma once
// Choosing a listed value the way the tracker uploads do: the wanted name as the tracker spells
// it when listed (compared without regard to case), else a fallback.

#include <QString>
#include <QStringList>

namespace crash::http {

// The listed spelling of `wanted`; empty when it is not listed.
QString ListedName(const QStringList& listed, const QString& wanted);
// The listed spelling of the first of `wanted` that is listed, else the first listed value.
QString ListedOrFirst(const QStringList& listed, const QStringList& wanted);

} // namespace crash::http
