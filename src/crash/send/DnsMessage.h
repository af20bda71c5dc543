#pragma once
// DNS messages as UDP datagrams: a query with one question, and a defensive reader for what
// comes back. Every read is bounds-checked; compression pointers may only point backwards and
// names are limited to 255 bytes, so a hostile answer can neither loop nor read past its end.

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <optional>

namespace crash::send {

namespace dns {
constexpr quint16 TypeA = 1;
constexpr quint16 TypeNS = 2;
constexpr quint16 TypeCNAME = 5;
constexpr quint16 TypeMX = 15;
constexpr quint16 ClassIN = 1;
constexpr int MaxUdpSize = 512;
} // namespace dns

struct DnsRecord
{
    QString name;
    quint16 type = 0;
    quint16 recordClass = 0;
    quint32 ttl = 0;
    quint16 preference = 0; // MX
    QString target;         // MX exchanger, NS server, CNAME alias
    QByteArray address;     // A: four bytes
};

struct DnsReply
{
    quint16 id = 0;
    bool isResponse = false;
    bool truncated = false;
    int responseCode = 0;
    QString questionName;
    quint16 questionType = 0;
    QList<DnsRecord> answers;
    QList<DnsRecord> authority;
    QList<DnsRecord> additional;
};

// Recursion desired, one question in class IN. Empty when the name cannot be a DNS name.
QByteArray BuildDnsQuery(quint16 id, const QString& name, quint16 type);

// nullopt when the datagram is malformed in any way.
std::optional<DnsReply> ParseDnsReply(QByteArrayView datagram);

// Letters, digits, "-", "_" and dots, 1 to 253 characters, no empty label.
bool IsPlausibleHostName(const QString& name);

} // namespace crash::send
