#include "crash/send/MxLookup.h"

#include "crash/send/DnsClient.h"
#include "crash/send/MailAddress.h"
#include "platform/NetworkConfig.h"

#include <algorithm>

namespace crash::send {

namespace {

// a.root-servers.net and b.root-servers.net.
const char* const InternetRootServers[] = {"198.41.0.4", "170.247.170.2"};

QString BestExchanger(const QList<DnsRecord>& records)
{
    const DnsRecord* best = nullptr;
    for (const DnsRecord& r : records) {
        if (r.type != dns::TypeMX || !IsPlausibleHostName(r.target))
            continue;
        if (!best || r.preference < best->preference)
            best = &r;
    }
    return best ? best->target : QString();
}

QString AskForExchanger(const QList<DnsServer>& servers, const QString& domain, const MxLookupConfig& config)
{
    const auto answer = AskDnsServers(servers, domain, dns::TypeMX, config.replyTimeoutMs);
    return answer ? BestExchanger(answer->reply.answers) : QString();
}

// The name servers a reply names for `domain` (answer or referral), with their glue addresses, on
// the port of the server that answered.
QList<DnsServer> NameServersFrom(const DnsAnswer& answer)
{
    QList<DnsRecord> nsRecords;
    for (const DnsRecord& r : answer.reply.answers)
        if (r.type == dns::TypeNS)
            nsRecords.append(r);
    if (nsRecords.isEmpty())
        for (const DnsRecord& r : answer.reply.authority)
            if (r.type == dns::TypeNS)
                nsRecords.append(r);
    QList<DnsServer> servers;
    for (const DnsRecord& ns : nsRecords) {
        for (const DnsRecord& glue : answer.reply.additional) {
            if (glue.type != dns::TypeA || glue.name.compare(ns.target, Qt::CaseInsensitive) != 0)
                continue;
            const auto* b = reinterpret_cast<const uchar*>(glue.address.constData());
            const DnsServer server{
                QHostAddress(quint32(b[0]) << 24 | quint32(b[1]) << 16 | quint32(b[2]) << 8 | b[3]),
                answer.from.port};
            if (!servers.contains(server))
                servers.append(server);
        }
    }
    return servers;
}

bool AnswersWithNameServers(const DnsAnswer& answer)
{
    return std::any_of(answer.reply.answers.begin(), answer.reply.answers.end(),
                       [](const DnsRecord& r) { return r.type == dns::TypeNS; });
}

QString IterativeLookup(const QString& domain, const MxLookupConfig& config)
{
    QStringList rootTexts = config.rootServers;
    if (rootTexts.isEmpty())
        for (const char* root : InternetRootServers)
            rootTexts.append(QString::fromLatin1(root));
    QList<DnsServer> servers = ParseDnsServers(rootTexts);
    for (int step = 0; step < config.maxReferralSteps && !servers.isEmpty(); ++step) {
        const auto answer = AskDnsServers(servers, domain, dns::TypeNS, config.replyTimeoutMs, true);
        if (!answer)
            break;
        const QList<DnsServer> next = NameServersFrom(*answer);
        if (next.isEmpty() || next == servers)
            break;
        servers = next;
        // The domain's own name servers: no further referral to follow.
        if (AnswersWithNameServers(*answer))
            break;
    }
    return AskForExchanger(servers, domain, config);
}

} // namespace

QString AddressDomain(const QString& address)
{
    QString bare = BareAddress(address);
    const qsizetype at = bare.lastIndexOf(QLatin1Char('@'));
    if (at < 0)
        return {};
    QString domain = bare.mid(at + 1).trimmed();
    if (domain.endsWith(QLatin1Char('>')))
        domain.chop(1);
    return domain;
}

QString ShortDomain(const QString& domain)
{
    const QStringList labels = domain.split(QLatin1Char('.'), Qt::SkipEmptyParts);
    return labels.mid(std::max<qsizetype>(0, labels.size() - 3)).join(QLatin1Char('.'));
}

MxLookupConfig SystemMxLookupConfig()
{
    MxLookupConfig config;
    config.nameServers = platform::SystemNameServers();
    config.rootServers = platform::RootServerOverride();
    return config;
}

QString LookupMailExchanger(const QString& address, const MxLookupConfig& config)
{
    const QString domain = AddressDomain(address);
    if (!IsPlausibleHostName(domain))
        return {};
    const QList<DnsServer> nameServers = ParseDnsServers(config.nameServers);
    if (nameServers.isEmpty())
        return IterativeLookup(domain, config);
    QString exchanger = AskForExchanger(nameServers, domain, config);
    const QString shortDomain = ShortDomain(domain);
    if (exchanger.isEmpty() && shortDomain.compare(domain, Qt::CaseInsensitive) != 0)
        exchanger = AskForExchanger(nameServers, shortDomain, config);
    return exchanger;
}

} // namespace crash::send
