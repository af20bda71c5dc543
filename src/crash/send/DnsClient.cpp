#include "crash/send/DnsClient.h"

#include <QDeadlineTimer>
#include <QRandomGenerator>
#include <QSet>
#include <QUdpSocket>

namespace crash::send {

std::optional<DnsServer> ParseDnsServer(const QString& text)
{
    const QString t = text.trimmed();
    QString host = t;
    int port = 53;
    if (t.startsWith(QLatin1Char('['))) {
        const qsizetype close = t.indexOf(QLatin1Char(']'));
        if (close < 0)
            return std::nullopt;
        host = t.mid(1, close - 1);
        const QString rest = t.mid(close + 1);
        if (rest.startsWith(QLatin1Char(':'))) {
            bool ok = false;
            port = rest.mid(1).toInt(&ok);
            if (!ok)
                return std::nullopt;
        } else if (!rest.isEmpty()) {
            return std::nullopt;
        }
    } else if (t.count(QLatin1Char(':')) == 1) {
        host = t.section(QLatin1Char(':'), 0, 0);
        bool ok = false;
        port = t.section(QLatin1Char(':'), 1).toInt(&ok);
        if (!ok)
            return std::nullopt;
    }
    QHostAddress address;
    if (!address.setAddress(host) || port <= 0 || port > 65535)
        return std::nullopt;
    return DnsServer{address, quint16(port)};
}

QList<DnsServer> ParseDnsServers(const QStringList& texts)
{
    QList<DnsServer> servers;
    for (const QString& text : texts)
        if (const auto server = ParseDnsServer(text); server && !servers.contains(*server))
            servers.append(*server);
    return servers;
}

std::optional<DnsAnswer> AskDnsServers(const QList<DnsServer>& servers, const QString& name, quint16 type,
                                       int timeoutMs, bool authorityWillDo)
{
    if (servers.isEmpty())
        return std::nullopt;
    // A random identifier: a forged reply must guess it (and come from an asked server).
    const auto id = quint16(QRandomGenerator::system()->bounded(1, 65536));
    const QByteArray query = BuildDnsQuery(id, name, type);
    if (query.isEmpty())
        return std::nullopt;
    QString asked = name.trimmed();
    if (asked.endsWith(QLatin1Char('.')))
        asked.chop(1);

    QUdpSocket socket;
    if (!socket.bind(QHostAddress(QHostAddress::Any), 0) &&
        !socket.bind(QHostAddress(QHostAddress::AnyIPv4), 0))
        return std::nullopt;
    int sent = 0;
    for (const DnsServer& server : servers)
        if (socket.writeDatagram(query, server.address, server.port) == query.size())
            ++sent;
    if (sent == 0)
        return std::nullopt;

    QSet<int> answered;
    QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired() && answered.size() < sent) {
        if (!socket.hasPendingDatagrams() &&
            !socket.waitForReadyRead(int(std::max<qint64>(1, deadline.remainingTime()))))
            break;
        while (socket.hasPendingDatagrams()) {
            QByteArray datagram(int(std::max<qint64>(socket.pendingDatagramSize(), 0)), '\0');
            QHostAddress sender;
            quint16 senderPort = 0;
            const qint64 got = socket.readDatagram(datagram.data(), datagram.size(), &sender, &senderPort);
            if (got <= 0)
                continue;
            datagram.truncate(got);
            qsizetype index = -1;
            for (qsizetype i = 0; i < servers.size(); ++i) {
                if (servers[i].port == senderPort &&
                    servers[i].address.isEqual(sender, QHostAddress::TolerantConversion))
                    index = i;
            }
            if (index < 0)
                continue;
            const auto reply = ParseDnsReply(datagram);
            if (!reply || reply->id != id || !reply->isResponse || reply->questionType != type ||
                reply->questionName.compare(asked, Qt::CaseInsensitive) != 0)
                continue;
            answered.insert(int(index));
            if (reply->responseCode != 0)
                continue;
            if (!reply->answers.isEmpty() || (authorityWillDo && !reply->authority.isEmpty()))
                return DnsAnswer{*reply, servers[index]};
        }
    }
    return std::nullopt;
}

} // namespace crash::send
