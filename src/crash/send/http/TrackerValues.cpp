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

} // namespace crash::http
