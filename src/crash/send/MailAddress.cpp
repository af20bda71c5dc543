#include "crash/send/MailAddress.h"

#include <algorithm>

namespace crash::send {

namespace {

qsizetype AddressStart(const QString& address)
{
    // The bracketed address comes last; a "<" in a quoted name comes before it.
    return address.lastIndexOf(QLatin1Char('<'));
}

} // namespace

QStringList SplitAddresses(const QString& list)
{
    QStringList addresses;
    QString current;
    bool quoted = false;
    auto take = [&] {
        const QString trimmed = current.trimmed();
        if (!trimmed.isEmpty())
            addresses.append(trimmed);
        current.clear();
    };
    for (qsizetype i = 0; i < list.size(); ++i) {
        const QChar c = list.at(i);
        if (quoted && c == QLatin1Char('\\') && i + 1 < list.size()) {
            current += c;
            current += list.at(++i);
            continue;
        }
        if (c == QLatin1Char('"'))
            quoted = !quoted;
        if (!quoted && (c == QLatin1Char(',') || c == QLatin1Char(';')))
            take();
        else
            current += c;
    }
    take();
    return addresses;
}

QString BareAddress(const QString& address)
{
    const qsizetype open = AddressStart(address);
    if (open < 0)
        return address.trimmed();
    const qsizetype close = address.indexOf(QLatin1Char('>'), open + 1);
    return address.mid(open + 1, close < 0 ? -1 : close - open - 1).trimmed();
}

QString DisplayName(const QString& address)
{
    const qsizetype open = AddressStart(address);
    const QString name = open < 0 ? address.trimmed() : address.left(open).trimmed();
    if (name.size() < 2 || !name.startsWith(QLatin1Char('"')) || !name.endsWith(QLatin1Char('"')))
        return name;
    QString unquoted;
    for (qsizetype i = 1; i < name.size() - 1; ++i) {
        if (name.at(i) == QLatin1Char('\\') && i + 1 < name.size() - 1)
            ++i;
        unquoted += name.at(i);
    }
    return unquoted;
}

QString QuotedDisplayName(const QString& name)
{
    static const QString specials = QStringLiteral("()<>[]:;@\\,.\"");
    if (std::none_of(name.begin(), name.end(), [](QChar c) { return specials.contains(c); }))
        return name;
    QString escaped = name;
    escaped.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    escaped.replace(QLatin1Char('"'), QLatin1String("\\\""));
    return QLatin1Char('"') + escaped + QLatin1Char('"');
}

QString QuotedAddress(const QString& address)
{
    const QString bare = BareAddress(address);
    const QString name = AddressStart(address) < 0 ? QString() : DisplayName(address);
    return name.isEmpty() ? bare : QuotedDisplayName(name) + QStringLiteral(" <") + bare + QLatin1Char('>');
}

} // namespace crash::send
