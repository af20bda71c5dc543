#pragma once
// One DNS question over UDP, asked of several servers at once; the first useful reply wins.

#include "crash/send/DnsMessage.h"

#include <QHostAddress>
#include <QList>
#include <QStringList>
#include <optional>

namespace crash::send {

struct DnsServer
{
    QHostAddress address;
    quint16 port = 53;

    bool operator==(const DnsServer&) const = default;
};

// "1.2.3.4", "1.2.3.4:5353", "::1", "[::1]:5353"; nullopt for anything else.
std::optional<DnsServer> ParseDnsServer(const QString& text);
QList<DnsServer> ParseDnsServers(const QStringList& texts);

struct DnsAnswer
{
    DnsReply reply;
    DnsServer from;
};

// Sends the question to every server and waits up to `timeoutMs` for a reply without error that
// carries answers (or, with `authorityWillDo`, authority records). Replies from elsewhere, with
// another identifier or for another question are ignored.
std::optional<DnsAnswer> AskDnsServers(const QList<DnsServer>& servers, const QString& name, quint16 type,
                                       int timeoutMs, bool authorityWillDo = false);

} // namespace crash::send
