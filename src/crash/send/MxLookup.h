#pragma once
// Finding a recipient's mail exchanger with DNS queries of our own: the configured name servers
// when there are any, else the iterative path from two root servers down the referrals.

#include <QString>
#include <QStringList>

namespace crash::send {

struct MxLookupConfig
{
    // "address[:port]" entries. Empty name servers: the iterative path from the root servers.
    QStringList nameServers;
    QStringList rootServers; // empty: two of the Internet's root servers
    int replyTimeoutMs = 5000;
    int maxReferralSteps = 10;
};

// The configured name servers and root servers of this machine (HALVORN_* overrides included).
MxLookupConfig SystemMxLookupConfig();

// The preferred mail exchanger's host name for `address` ("user@domain" or "Name <user@domain>"),
// or empty when none is found.
QString LookupMailExchanger(const QString& address, const MxLookupConfig& config);

// The domain of an address and its last three labels.
QString AddressDomain(const QString& address);
QString ShortDomain(const QString& domain);

} // namespace crash::send
