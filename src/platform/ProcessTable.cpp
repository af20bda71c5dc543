// Reads /proc with plain system calls: a report may list hundreds of processes and each costs
// three small reads (stat, cmdline, the exe link). The stat line is parsed from the last ")"
// because the command name between the parentheses may itself hold spaces and parentheses.
#include "platform/ProcessTable.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

namespace platform {
namespace {

// Up to `size` bytes of a file in `folder`; -1 when it cannot be opened or read.
ssize_t ReadSmallFile(int folder, const char* name, char* buffer, std::size_t size)
{
    const int fd = ::openat(folder, name, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    ssize_t total = 0;
    while (std::size_t(total) < size) {
        const ssize_t n = ::read(fd, buffer + total, size - std::size_t(total));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            total = -1;
        if (n <= 0)
            break;
        total += n;
    }
    ::close(fd);
    return total;
}

SchedulingClass ClassOfPolicy(long policy)
{
    switch (policy) {
    case SCHED_FIFO:
    case SCHED_RR:
    case 6: // SCHED_DEADLINE, absent from older headers
        return SchedulingClass::RealTime;
    case SCHED_IDLE:
        return SchedulingClass::Idle;
    default:
        return SchedulingClass::TimeSharing;
    }
}

long ParseLong(const char* p, const char* end)
{
    const bool negative = p < end && *p == '-';
    long value = 0;
    for (p += negative ? 1 : 0; p < end && *p >= '0' && *p <= '9' && value < LONG_MAX / 10 - 9; ++p)
        value = value * 10 + (*p - '0');
    return negative ? -value : value;
}

// Fields after the command name: index 0 is field 3 (state) of proc(5).
bool ParseStat(const char* text, std::size_t length, ProcessStatus& status)
{
    const char* open = static_cast<const char*>(std::memchr(text, '(', length));
    const char* close = nullptr;
    for (const char* p = text + length; p > text; --p) {
        if (p[-1] == ')') {
            close = p - 1;
            break;
        }
    }
    if (!open || !close || close < open)
        return false;
    status.comm = QString::fromUtf8(open + 1, close - open - 1);
    constexpr int sessionIndex = 3, niceIndex = 16, policyIndex = 38;
    long session = 0, nice = 0, policy = 0;
    int index = 0;
    const char* end = text + length;
    for (const char* p = close + 1; p < end && index <= policyIndex;) {
        while (p < end && *p == ' ')
            ++p;
        if (p >= end || *p == '\n')
            break;
        const char* wordEnd = p;
        while (wordEnd < end && *wordEnd != ' ' && *wordEnd != '\n')
            ++wordEnd;
        if (index == sessionIndex || index == niceIndex || index == policyIndex) {
            const long value = ParseLong(p, wordEnd);
            (index == sessionIndex ? session : index == niceIndex ? nice : policy) = value;
        }
        ++index;
        p = wordEnd;
    }
    if (index <= niceIndex)
        return false;
    status.session = session;
    status.nice = int(nice);
    status.scheduling = ClassOfPolicy(policy);
    return true;
}

} // namespace

ProcessTable::ProcessTable(QString procRoot) : m_root(QFile::encodeName(procRoot))
{
    if (!m_root.endsWith('/'))
        m_root.append('/');
}

std::vector<qint64> ProcessTable::pids() const
{
    std::vector<qint64> result;
    DIR* dir = ::opendir(m_root.constData());
    if (!dir)
        return result;
    while (const dirent* entry = ::readdir(dir)) {
        char* end = nullptr;
        const long long pid = std::strtoll(entry->d_name, &end, 10);
        if (pid > 0 && end && *end == '\0' && entry->d_name[0] != '+')
            result.push_back(pid);
    }
    ::closedir(dir);
    std::sort(result.begin(), result.end());
    return result;
}

std::optional<ProcessStatus> ProcessTable::read(qint64 pid) const
{
    // One folder handle: the three reads below then skip the path lookup of /proc/<pid>.
    const int folder =
        ::open((m_root + QByteArray::number(pid)).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0)
        return std::nullopt;
    char buffer[4096];

    const ssize_t statLength = ReadSmallFile(folder, "stat", buffer, sizeof buffer);
    ProcessStatus status;
    status.pid = pid;
    if (statLength <= 0 || !ParseStat(buffer, std::size_t(statLength), status)) {
        ::close(folder);
        return std::nullopt;
    }

    const ssize_t linkLength = ::readlinkat(folder, "exe", buffer, sizeof buffer);
    if (linkLength > 0 && std::size_t(linkLength) < sizeof buffer)
        status.exePath = QFile::decodeName(QByteArray(buffer, linkLength));

    const ssize_t cmdLength = ReadSmallFile(folder, "cmdline", buffer, sizeof buffer);
    ::close(folder);
    for (ssize_t start = 0; start < cmdLength && status.argsHead.size() < 2;) {
        const char* word = buffer + start;
        const auto* zero = static_cast<const char*>(std::memchr(word, 0, std::size_t(cmdLength - start)));
        const ssize_t wordLength = zero ? zero - word : cmdLength - start;
        status.argsHead.append(QFile::decodeName(QByteArray(word, wordLength)));
        start += wordLength + 1;
    }
    return status;
}

std::vector<ProcessStatus> ProcessTable::snapshot() const
{
    std::vector<ProcessStatus> result;
    const std::vector<qint64> ids = pids();
    result.reserve(ids.size());
    for (qint64 pid : ids) {
        if (std::optional<ProcessStatus> status = read(pid))
            result.push_back(std::move(*status));
    }
    return result;
}

} // namespace platform
