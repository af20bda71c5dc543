#pragma once
// What the network setup of this machine tells the mail code: its host name and the name servers
// to ask. The registry's Tcpip parameters of the prefix come first (as on Windows), then the
// system's /etc/resolv.conf. HALVORN_NAME_SERVERS and HALVORN_DNS_ROOTS (blank- or comma-separated
// "address[:port]" lists) override the name servers and the root servers of the iterative path,
// so tests can keep every packet on loopback.

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace platform {

QString LocalHostName();

// "address" or "address:port" entries; empty when none are configured.
QStringList SystemNameServers();

// The HALVORN_DNS_ROOTS override, empty when unset.
QStringList RootServerOverride();

// The "nameserver" lines of a resolv.conf text, in order.
QStringList ParseResolvConf(const QByteArray& text);

// A registry value list of name servers ("1.2.3.4 5.6.7.8" or "1.2.3.4,5.6.7.8").
QStringList SplitServerList(const QString& text);

} // namespace platform
