#include "platform/SystemFacts.h"

#include <QFile>
#include <grp.h>
#include <unistd.h>
#include <vector>

namespace platform {
namespace {

QByteArray ReadProcFile(const char* path)
{
    QFile file(QString::fromLatin1(path));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll(); // /proc files report size 0; readAll reads until the end
}

QString GroupName(gid_t gid)
{
    group entry{};
    group* found = nullptr;
    std::vector<char> buffer(16384);
    if (getgrgid_r(gid, &entry, buffer.data(), buffer.size(), &found) == 0 && found && found->gr_name)
        return QString::fromLocal8Bit(found->gr_name);
    return {};
}

std::uint64_t MemInfoBytes(const QByteArray& text, const char* key)
{
    for (const QByteArray& line : text.split('\n')) {
        if (!line.startsWith(key) || line.size() <= qsizetype(qstrlen(key)) || line[qstrlen(key)] != ':')
            continue;
        const QList<QByteArray> parts = line.mid(qstrlen(key) + 1).simplified().split(' ');
        const std::uint64_t value = parts.value(0).toULongLong();
        return parts.value(1) == "kB" ? value * 1024 : value;
    }
    return 0;
}

} // namespace

QString HostName()
{
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0)
        return {};
    return QString::fromLocal8Bit(name);
}

QString RemoteClientFromEnvironment(const QString& sshConnection, const QString& sshClient,
                                    const QString& display)
{
    // SSH_CONNECTION is "client-ip client-port server-ip server-port"; SSH_CLIENT has the first two.
    const QString ssh = sshConnection.isEmpty() ? sshClient : sshConnection;
    const QString client = ssh.section(QLatin1Char(' '), 0, 0, QString::SectionSkipEmpty);
    if (!client.isEmpty())
        return client;
    // "host:0.0" names a remote X server; ":0" and "unix:0" are local.
    const qsizetype colon = display.lastIndexOf(QLatin1Char(':'));
    if (colon <= 0)
        return {};
    const QString host = display.left(colon);
    if (host == QLatin1String("unix") || host == QLatin1String("localhost") ||
        host.startsWith(QLatin1Char('/')))
        return {};
    return host;
}

QString RemoteClientName()
{
    return RemoteClientFromEnvironment(qEnvironmentVariable("SSH_CONNECTION"),
                                       qEnvironmentVariable("SSH_CLIENT"), qEnvironmentVariable("DISPLAY"));
}

bool IsAdministratorGroup(const QString& groupName)
{
    return groupName == QLatin1String("sudo") || groupName == QLatin1String("wheel") ||
           groupName == QLatin1String("admin");
}

bool IsAdministrator()
{
    if (geteuid() == 0)
        return true;
    const int count = getgroups(0, nullptr);
    if (count <= 0)
        return IsAdministratorGroup(GroupName(getegid()));
    std::vector<gid_t> groups(static_cast<std::size_t>(count));
    const int got = getgroups(count, groups.data());
    for (int i = 0; i < got; ++i) {
        if (IsAdministratorGroup(GroupName(groups[static_cast<std::size_t>(i)])))
            return true;
    }
    return IsAdministratorGroup(GroupName(getegid()));
}

double ParseUpTime(const QByteArray& procUptime)
{
    bool ok = false;
    const double seconds = procUptime.simplified().split(' ').value(0).toDouble(&ok);
    return ok ? seconds : -1;
}

double SystemUpTimeSeconds()
{
    return ParseUpTime(ReadProcFile("/proc/uptime"));
}

Processors ParseCpuInfo(const QByteArray& procCpuInfo)
{
    Processors processors;
    for (const QByteArray& line : procCpuInfo.split('\n')) {
        const qsizetype colon = line.indexOf(':');
        if (colon < 0 || line.left(colon).trimmed() != "model name")
            continue;
        const QString name = QString::fromUtf8(line.mid(colon + 1)).simplified();
        if (name.isEmpty())
            continue;
        if (processors.count == 0)
            processors.name = name;
        ++processors.count;
    }
    return processors;
}

Processors ReadProcessors()
{
    return ParseCpuInfo(ReadProcFile("/proc/cpuinfo"));
}

PhysicalMemory ParseMemInfo(const QByteArray& procMemInfo)
{
    return {MemInfoBytes(procMemInfo, "MemAvailable"), MemInfoBytes(procMemInfo, "MemTotal")};
}

PhysicalMemory ReadPhysicalMemory()
{
    return ParseMemInfo(ReadProcFile("/proc/meminfo"));
}

QStringList CommandLineArguments()
{
    QByteArray raw = ReadProcFile("/proc/self/cmdline");
    if (raw.endsWith('\0'))
        raw.chop(1);
    QStringList arguments;
    if (raw.isEmpty())
        return arguments;
    for (const QByteArray& argument : raw.split('\0'))
        arguments.append(QString::fromLocal8Bit(argument));
    return arguments;
}

} // namespace platform
