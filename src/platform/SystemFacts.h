#pragma once
// Facts about the machine and the session for the bug report's header, each read from its Linux
// source. Every reader answers empty or zero when its source cannot be read; none throws. The
// parsers take the source text so they can be checked without the machine.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <cstdint>

namespace platform {

QString HostName();

// The remote end of an SSH session or of a remote X display; empty for a local session.
QString RemoteClientName();
QString RemoteClientFromEnvironment(const QString& sshConnection, const QString& sshClient,
                                    const QString& display);

// Root, or a member of one of the groups that may administer the machine (sudo, wheel, admin).
bool IsAdministrator();
bool IsAdministratorGroup(const QString& groupName);

// Seconds since boot; negative when unknown.
double SystemUpTimeSeconds();
double ParseUpTime(const QByteArray& procUptime);

struct Processors
{
    QString name; // the first processor's model name
    int count = 0;
};
Processors ReadProcessors();
Processors ParseCpuInfo(const QByteArray& procCpuInfo);

struct PhysicalMemory
{
    std::uint64_t availableBytes = 0;
    std::uint64_t totalBytes = 0;
};
PhysicalMemory ReadPhysicalMemory();
PhysicalMemory ParseMemInfo(const QByteArray& procMemInfo);

// The process's arguments as it was started, the program first (/proc/self/cmdline).
QStringList CommandLineArguments();

} // namespace platform
