#include "platform/ProcessInfo.h"

#include <QByteArray>
#include <QFile>
#include <unistd.h>

namespace platform {

std::uint32_t CurrentProcessId()
{
    return static_cast<std::uint32_t>(getpid());
}

namespace {

std::uint64_t StartStampIn(const QString& statFile)
{
    QFile stat(statFile);
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray line = stat.readAll();
    // The command name in field 2 may hold spaces and parentheses; fields are counted after it.
    const qsizetype close = line.lastIndexOf(')');
    if (close < 0)
        return 0;
    const QList<QByteArray> fields = line.mid(close + 2).split(' ');
    // Field 22 (starttime) is the 20th after the command name.
    return fields.size() > 19 ? fields[19].toULongLong() : 0;
}

} // namespace

std::uint64_t ProcessStartStamp()
{
    return StartStampIn(QStringLiteral("/proc/self/stat"));
}

std::uint64_t ProcessStartStampOf(std::uint32_t processId)
{
    return StartStampIn(QStringLiteral("/proc/%1/stat").arg(processId));
}

} // namespace platform
