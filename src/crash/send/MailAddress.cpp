#include "crash/send/MailAddress.h"

namespace crash::send {

QStringList SplitAddresses(const QString& list)
{
    QString normalised = list;
    normalised.replace(QLatin1Char(';'), QLatin1Char(','));
    QStringList addresses;
    for (const QString& part : normalised.split(QLatin1Char(','))) {
        const QString trimmed = part.trimmed();
        if (!trimmed.isEmpty())
            addresses.append(trimmed);
    }
    return addresses;
}

QString BareAddress(const QString& address)
{
    const qsizetype open = address.indexOf(QLatin1Char('<'));
    if (open < 0)
        return address.trimmed();
    const qsizetype close = address.indexOf(QLatin1Char('>'), open + 1);
    return address.mid(open + 1, close < 0 ? -1 : close - open - 1).trimmed();
}

QString DisplayName(const QString& address)
{
    const qsizetype open = address.indexOf(QLatin1Char('<'));
    return open < 0 ? address.trimmed() : address.left(open).trimmed();
}

} // namespace crash::send
