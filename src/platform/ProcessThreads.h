#pragma once
// The threads of this process as the kernel lists them (/proc/self/task), by kernel thread id.

#include <cstdint>
#include <vector>

namespace platform {

// The main thread's id equals the process id.
std::int64_t MainThreadId();

// Every thread of the process, in the kernel's order (creation order); empty when unreadable.
std::vector<std::int64_t> ThreadIdsOfProcess();

struct ThreadState
{
    bool exists = false;
    bool suspended = false; // stopped by a signal or a tracer
    int priority = 0;       // the nice value; 0 is normal
};

ThreadState ReadThreadState(std::int64_t threadId);
// The state from the text of /proc/<pid>/task/<tid>/stat.
ThreadState ParseThreadStat(const char* text, std::size_t size);

} // namespace platform
