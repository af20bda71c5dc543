#include "platform/NetworkConfig.h"

#include "platform/Registry.h"

#include <QFile>
#include <QRegularExpression>

#include <climits>
#include <unistd.h>

namespace platform {

QString LocalHostName()
{
    char name[HOST_NAME_MAX + 1] = {};
    if (gethostname(name, sizeof name - 1) != 0 || name[0] == '\0')
        return QStringLiteral("localhost");
    return QString::fromLocal8Bit(name);
}

QStringList SplitServerList(const QString& text)
{
    static const QRegularExpression separators(QStringLiteral("[\\s,;]+"));
    return text.split(separators, Qt::SkipEmptyParts);
}

QStringList ParseResolvConf(const QByteArray& text)
{
    QStringList servers;
    for (const QByteArray& rawLine : text.split('\n')) {
        const QByteArray line = rawLine.simplified();
        if (!line.startsWith("nameserver "))
            continue;
        const QByteArray address = line.mid(11).split(' ').value(0);
        if (!address.isEmpty())
            servers.append(QString::fromLatin1(address));
    }
    return servers;
}

QStringList SystemNameServers()
{
    const QString overridden = qEnvironmentVariable("HALVORN_NAME_SERVERS");
    if (!overridden.trimmed().isEmpty())
        return SplitServerList(overridden);

    if (auto key =
            RegistryKey::open(RootKey::LocalMachine,
                              QStringLiteral("System\\CurrentControlSet\\Services\\Tcpip\\Parameters"))) {
        QStringList servers;
        for (const QString& name : {QStringLiteral("NameServer"), QStringLiteral("DhcpNameServer")}) {
            QString value;
            if (key->readString(name, value) == RegStatus::Ok)
                servers += SplitServerList(value);
        }
        if (!servers.isEmpty())
            return servers;
    }

    QFile file(QStringLiteral("/etc/resolv.conf"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return ParseResolvConf(file.read(64 * 1024));
}

QStringList RootServerOverride()
{
    return SplitServerList(qEnvironmentVariable("HALVORN_DNS_ROOTS"));
}

} // namespace platform
