#include "platform/EmergencyOutput.h"

#include "platform/ExclusiveFile.h"
#include "platform/ImportSlots.h"
#include "platform/WriteAll.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

namespace platform {
namespace {

std::uintptr_t ParseHex(const char*& at, const char* end)
{
    std::uintptr_t value = 0;
    for (; at < end; ++at) {
        const char c = *at;
        const int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
        if (digit < 0)
            break;
        value = value * 16 + static_cast<std::uintptr_t>(digit);
    }
    return value;
}

const char* SkipField(const char* at, const char* end)
{
    while (at < end && *at != ' ')
        ++at;
    while (at < end && *at == ' ')
        ++at;
    return at;
}

// Creates the folders above the file that are missing, each closed to others.
void CreateFolders(const char* path)
{
    char folder[PATH_MAX];
    const std::size_t length = std::strlen(path);
    if (length >= sizeof folder)
        return;
    std::memcpy(folder, path, length + 1);
    for (std::size_t i = 1; i < length; ++i) {
        if (folder[i] != '/')
            continue;
        folder[i] = '\0';
        mkdir(folder, 0700);
        folder[i] = '/';
    }
}

bool LockWithin(int fd, int milliseconds)
{
    for (int waited = 0;; waited += 10) {
        if (flock(fd, LOCK_EX | LOCK_NB) == 0)
            return true;
        if ((errno != EWOULDBLOCK && errno != EINTR) || waited >= milliseconds)
            return false;
        SleepMilliseconds(10);
    }
}

bool NamesFile(const char* path, int fd)
{
    struct stat opened
    {
    }, named{};
    return fstat(fd, &opened) == 0 && stat(path, &named) == 0 && opened.st_dev == named.st_dev &&
           opened.st_ino == named.st_ino;
}

} // namespace

std::int64_t WallClockMilliseconds() noexcept
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

void AppendHostName(SignalSafeText& text) noexcept
{
    utsname names{};
    if (uname(&names) == 0)
        text.append(names.nodename);
}

std::size_t ReadWholeFile(const char* path, char* buffer, std::size_t capacity) noexcept
{
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return 0;
    std::size_t size = 0;
    while (size < capacity) {
        const ssize_t got = ::read(fd, buffer + size, capacity - size);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        size += static_cast<std::size_t>(got);
    }
    ::close(fd);
    return size;
}

void AppendCommandLine(SignalSafeText& text) noexcept
{
    char arguments[2048];
    const std::size_t length = ReadWholeFile("/proc/self/cmdline", arguments, sizeof arguments);
    for (std::size_t i = 0; i < length; ++i) {
        const char c = arguments[i];
        if (c == '\0' && i + 1 == length)
            break;
        text.append(c == '\0' || c == '\r' || c == '\n' ? ' ' : c);
    }
}

bool MappedFiles::read(char* buffer, std::size_t capacity) noexcept
{
    const std::size_t length = ReadWholeFile("/proc/self/maps", buffer, capacity);
    parse(buffer, length);
    return m_count > 0;
}

void MappedFiles::parse(const char* text, std::size_t length) noexcept
{
    // "begin-end perms offset dev inode   path", in address order: a file's lowest mapping first.
    m_count = 0;
    const char* const end = text + length;
    const char* lastPath = nullptr;
    std::size_t lastPathLength = 0;
    std::uintptr_t base = 0;
    for (const char* line = text; line < end && m_count < kMax;) {
        const char* lineEnd =
            static_cast<const char*>(std::memchr(line, '\n', static_cast<std::size_t>(end - line)));
        if (!lineEnd)
            lineEnd = end; // a last line cut off by a full buffer still counts
        const char* at = line;
        const std::uintptr_t begin = ParseHex(at, lineEnd);
        ++at;
        const std::uintptr_t stop = ParseHex(at, lineEnd);
        ++at;
        const bool executable = at + 2 < lineEnd && at[2] == 'x';
        const char* path = SkipField(SkipField(SkipField(SkipField(at, lineEnd), lineEnd), lineEnd), lineEnd);
        const std::size_t pathLength = static_cast<std::size_t>(lineEnd - path);
        if (pathLength > 0 && path[0] == '/') {
            if (pathLength != lastPathLength || std::memcmp(path, lastPath, pathLength) != 0) {
                lastPath = path;
                lastPathLength = pathLength;
                base = begin;
            }
            const char* name = path + pathLength;
            while (name > path && name[-1] != '/')
                --name;
            m_mappings[m_count++] = {
                begin, stop, base, name, static_cast<std::size_t>(path + pathLength - name), executable};
        }
        line = lineEnd + 1;
    }
}

const MappedFiles::Mapping* MappedFiles::find(std::uintptr_t address) const noexcept
{
    for (int i = 0; i < m_count; ++i)
        if (address >= m_mappings[i].begin && address < m_mappings[i].end)
            return &m_mappings[i];
    return nullptr;
}

bool FollowsCallInstruction(std::uintptr_t address) noexcept
{
    unsigned char before[7];
    if (address < sizeof before || !ReadProcessBytes(address - sizeof before, before, sizeof before))
        return false;
    if (before[2] == 0xE8) // call rel32
        return true;
    // call r/m64 (FF /2) in its two-, three-, four-, six- and seven-byte forms
    for (int length : {2, 3, 4, 6, 7}) {
        const unsigned char* at = before + sizeof before - length;
        if (at[0] == 0xFF && ((at[1] >> 3) & 7) == 2)
            return true;
        if (length >= 3 && (at[0] & 0xF0) == 0x40 && at[1] == 0xFF && ((at[2] >> 3) & 7) == 2)
            return true;
    }
    return false;
}

bool AppendToReportFile(const char* path, const char* data, std::size_t length, bool replace) noexcept
{
    CreateFolders(path);
    // The report file's own rules: created 0600, no link another account could have put.
    char resolved[PATH_MAX];
    FileRefusal refusal = FileRefusal::None;
    int fd = -1;
    for (int attempt = 0; attempt < 3; ++attempt) {
        fd = ExclusiveFile::openChecked(path, resolved, refusal);
        if (fd < 0)
            return false;
        // A writer that holds the lock and never lets go is waited for only so long.
        LockWithin(fd, 1000);
        if (NamesFile(resolved, fd))
            break;
        ::close(fd); // replaced while we waited: the path names a newer file now
        fd = -1;
    }
    if (fd < 0)
        return false;
    const off_t size = lseek(fd, 0, SEEK_END);
    bool ok = size >= 0;
    if (ok && replace && size > 0)
        ok = ftruncate(fd, 0) == 0 && lseek(fd, 0, SEEK_SET) == 0;
    else if (ok && size > 0) {
        char tail[4] = {};
        const ssize_t got = pread(fd, tail, sizeof tail, size >= 4 ? size - 4 : 0);
        const bool emptyLineEnds = got == 4 && std::memcmp(tail, "\r\n\r\n", 4) == 0;
        const bool lineEnds = got >= 2 && tail[got - 2] == '\r' && tail[got - 1] == '\n';
        if (!emptyLineEnds)
            ok = WriteAll(fd, "\r\n\r\n" + (lineEnds ? 2 : 0), lineEnds ? 2 : 4);
    }
    ok = ok && WriteAll(fd, data, length);
    ok = fsync(fd) == 0 && ok;
    ::close(fd); // drops the lock
    return ok;
}

void SleepMilliseconds(int milliseconds) noexcept
{
    const timespec pause{milliseconds / 1000, (milliseconds % 1000) * 1000L * 1000L};
    nanosleep(&pause, nullptr);
}

void WriteToStandardError(const char* data, std::size_t length) noexcept
{
    WriteAll(STDERR_FILENO, data, length);
}

} // namespace platform
