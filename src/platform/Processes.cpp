#include "platform/Processes.h"

#include <QDir>
#include <QFile>
#include <algorithm>

#include <csignal>
#include <sys/types.h>

namespace platform {
namespace {

QByteArray readProcFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

} // namespace

QList<ProcessEntry> ProcessSnapshot()
{
    QList<ProcessEntry> entries;
    const QStringList names = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& name : names) {
        bool numeric = false;
        const qint64 pid = name.toLongLong(&numeric);
        if (!numeric || pid <= 0)
            continue;
        const QString base = QStringLiteral("/proc/") + name;
        QByteArray first = readProcFile(base + QStringLiteral("/cmdline"));
        const qsizetype zero = first.indexOf('\0');
        if (zero >= 0)
            first.truncate(zero);
        if (first.isEmpty()) {
            first = readProcFile(base + QStringLiteral("/comm"));
            while (first.endsWith('\n'))
                first.chop(1);
        }
        if (first.isEmpty() && !QFile::exists(base))
            continue; // ended while we looked
        entries.append(ProcessEntry{pid, QFile::decodeName(first)});
    }
    std::sort(entries.begin(), entries.end(),
              [](const ProcessEntry& a, const ProcessEntry& b) { return a.pid < b.pid; });
    return entries;
}

bool TerminateProcess(qint64 pid)
{
    if (pid <= 0)
        return false; // 0 and negative numbers would reach whole process groups
    return ::kill(pid_t(pid), SIGKILL) == 0;
}

} // namespace platform
