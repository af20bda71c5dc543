#include "platform/ProcessThreads.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace platform {

std::int64_t MainThreadId()
{
    return static_cast<std::int64_t>(getpid());
}

std::vector<std::int64_t> ThreadIdsOfProcess()
{
    std::vector<std::int64_t> ids;
    DIR* dir = opendir("/proc/self/task");
    if (!dir)
        return ids;
    while (const dirent* entry = readdir(dir)) {
        char* end = nullptr;
        const long long id = std::strtoll(entry->d_name, &end, 10);
        if (end != entry->d_name && *end == '\0' && id > 0)
            ids.push_back(id);
    }
    closedir(dir);
    std::sort(ids.begin(), ids.end());
    return ids;
}

ThreadState ParseThreadStat(const char* text, std::size_t size)
{
    ThreadState state;
    // The command name (field 2) may hold spaces and parentheses; count fields after the last ')'.
    const std::string line(text, size);
    const std::size_t close = line.rfind(')');
    if (close == std::string::npos || close + 2 >= line.size())
        return state;
    state.exists = true;
    const char code = line[close + 2];
    state.suspended = code == 'T' || code == 't';
    // Field 19 (nice) is the 16th field after the state field.
    std::size_t pos = close + 2;
    for (int field = 3; field < 19 && pos != std::string::npos; ++field)
        pos = line.find(' ', pos + 1);
    if (pos != std::string::npos)
        state.priority = std::atoi(line.c_str() + pos + 1);
    return state;
}

ThreadState ReadThreadState(std::int64_t threadId)
{
    const std::string path = "/proc/self/task/" + std::to_string(threadId) + "/stat";
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return {};
    char buffer[1024];
    const ssize_t got = read(fd, buffer, sizeof buffer);
    close(fd);
    return got > 0 ? ParseThreadStat(buffer, static_cast<std::size_t>(got)) : ThreadState{};
}

} // namespace platform
