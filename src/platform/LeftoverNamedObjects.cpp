#include "platform/LeftoverNamedObjects.h"

#include "platform/ProcessInfo.h"

#include <QByteArray>

#include <cerrno>
#include <cstdint>
#include <csignal>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

// Where glibc keeps shared memory objects and named semaphores ("sem." + name).
constexpr char ObjectFolder[] = "/dev/shm";
constexpr char SemaphorePrefix[] = "sem.";

// An object of this process is at least as new as the process; the start time is known to a clock
// tick and file times are coarse, so only objects clearly older than that count as stale.
constexpr std::int64_t StaleMarginNs = 200'000'000;

std::int64_t Nanoseconds(const timespec& t)
{
    return std::int64_t(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

// This process's start on the wall clock, in nanoseconds.
std::int64_t ProcessStartNs()
{
    timespec now{}, sinceBoot{};
    clock_gettime(CLOCK_REALTIME, &now);
    clock_gettime(CLOCK_BOOTTIME, &sinceBoot);
    const long ticksPerSecond = sysconf(_SC_CLK_TCK);
    const std::int64_t startSinceBoot =
        ticksPerSecond > 0 ? std::int64_t(ProcessStartStamp()) * (1'000'000'000 / ticksPerSecond) : 0;
    return Nanoseconds(now) - Nanoseconds(sinceBoot) + startSinceBoot;
}

// The process id of "<prefix>$<hex id>" for one of the prefixes, else 0.
pid_t OwnerOf(QByteArray name, const QStringList& prefixes)
{
    if (name.startsWith(SemaphorePrefix))
        name.remove(0, sizeof SemaphorePrefix - 1);
    const qsizetype dollar = name.lastIndexOf('$');
    if (dollar <= 0 || !prefixes.contains(QString::fromUtf8(name.left(dollar))))
        return 0;
    const QByteArray digits = name.mid(dollar + 1);
    bool ok = false;
    const uint id = digits.toUInt(&ok, 16);
    return ok && digits.size() <= 8 && id > 0 && id <= uint(INT32_MAX) ? pid_t(id) : 0;
}

bool Runs(pid_t pid)
{
    return kill(pid, 0) == 0 || errno != ESRCH;
}

} // namespace

int RemoveLeftoverNamedObjects(const QStringList& prefixes)
{
    DIR* folder = opendir(ObjectFolder);
    if (!folder)
        return 0;
    const pid_t self = getpid();
    std::int64_t selfStartNs = -1; // read only when an object carries this process's id
    int removed = 0;
    while (const dirent* entry = readdir(folder)) {
        const pid_t owner = OwnerOf(QByteArray(entry->d_name), prefixes);
        if (owner == 0)
            continue;
        struct stat st{};
        if (fstatat(dirfd(folder), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode) ||
            st.st_uid != geteuid())
            continue;
        bool stale = false;
        if (owner == self) {
            if (selfStartNs < 0)
                selfStartNs = ProcessStartNs();
            stale = Nanoseconds(st.st_mtim) < selfStartNs - StaleMarginNs;
        } else {
            stale = !Runs(owner);
        }
        if (stale && unlinkat(dirfd(folder), entry->d_name, 0) == 0)
            ++removed;
    }
    closedir(folder);
    return removed;
}

} // namespace platform
