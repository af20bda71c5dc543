#include "platform/Processes.h"

#include "platform/WinePrefix.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <mutex>

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

QString canonicalFolder(const QString& path)
{
    const QString canonical = QFileInfo(path).canonicalFilePath();
    return QDir::cleanPath(canonical.isEmpty() ? path : canonical);
}

// The prefix a process runs in, from the environment it was started with; empty when unreadable.
QString prefixOf(const QString& procFolder)
{
    const QByteArray environment = readProcFile(procFolder + QStringLiteral("/environ"));
    if (environment.isEmpty())
        return {};
    QByteArray prefix, home;
    for (const QByteArray& entry : environment.split('\0')) {
        if (entry.startsWith("WINEPREFIX="))
            prefix = entry.mid(11);
        else if (entry.startsWith("HOME="))
            home = entry.mid(5);
    }
    if (prefix.isEmpty())
        prefix = home + "/.wine";
    return canonicalFolder(QFile::decodeName(prefix));
}

std::mutex g_lock;
ProcessHandlers g_handlers;

} // namespace

QList<ProcessEntry> SystemProcessSnapshot()
{
    const QString ownPrefix = canonicalFolder(WinePrefix::path());
    QList<ProcessEntry> entries;
    const QStringList names = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& name : names) {
        bool numeric = false;
        const qint64 pid = name.toLongLong(&numeric);
        if (!numeric || pid <= 0)
            continue;
        const QString base = QStringLiteral("/proc/") + name;
        if (prefixOf(base) != ownPrefix)
            continue; // another Windows world, or not ours to see
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

bool SystemTerminateProcess(qint64 pid)
{
    if (pid <= 0)
        return false; // 0 and negative numbers would reach whole process groups
    return ::kill(pid_t(pid), SIGKILL) == 0;
}

ProcessHandlers SetProcessHandlers(ProcessHandlers handlers)
{
    std::lock_guard guard(g_lock);
    std::swap(g_handlers, handlers);
    return handlers;
}

QList<ProcessEntry> ProcessSnapshot()
{
    std::function<QList<ProcessEntry>()> snapshot;
    {
        std::lock_guard guard(g_lock);
        snapshot = g_handlers.snapshot;
    }
    return snapshot ? snapshot() : SystemProcessSnapshot();
}

bool TerminateProcess(qint64 pid)
{
    std::function<bool(qint64)> terminate;
    {
        std::lock_guard guard(g_lock);
        terminate = g_handlers.terminate;
    }
    return terminate ? terminate(pid) : SystemTerminateProcess(pid);
}

} // namespace platform
