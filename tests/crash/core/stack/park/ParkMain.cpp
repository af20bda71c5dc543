// Parks five threads in known call chains (across three files: a chain, an inlined step, a
// recursion, a call through a function pointer, a member function), then traces all of them from a
// tracer thread and prints one line per frame:
//   F <thread id> <function>|<unit>|<line>|<module>
// followed by "READY". It stays parked (at most 120 s) so a debugger can look at the same threads.

#include "Park.h"
#include "crash/core/stack/StackTrace.h"
#include "platform/ThreadSnapshot.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

namespace park {

volatile int sink = 0;

namespace {
std::mutex mutex;
std::condition_variable parked;
std::condition_variable released;
std::vector<std::int64_t> parkedIds;
bool release = false;
} // namespace

[[gnu::noinline]] void ParkHere()
{
    std::unique_lock lock(mutex);
    parkedIds.push_back(platform::CurrentThreadId());
    parked.notify_all();
    released.wait_for(lock, std::chrono::seconds(120), [] { return release; });
}

} // namespace park

int main(int argc, char** argv)
{
    using namespace park;
    const bool scanOnly = argc > 1 && std::strcmp(argv[1], "--scan-only") == 0;
    std::vector<std::thread> threads;
    threads.emplace_back([] { AlphaOuter(1); });
    threads.emplace_back([] { AlphaWithInline(); });
    threads.emplace_back([] { Recurse(4); });
    threads.emplace_back([] { CallThroughPointer(); });
    threads.emplace_back([] { Worker().Run(2); });
    const std::size_t count = threads.size();
    std::thread tracer([count, scanOnly] {
        std::vector<std::int64_t> ids;
        {
            std::unique_lock lock(mutex);
            if (!parked.wait_for(lock, std::chrono::seconds(20), [&] { return parkedIds.size() == count; }))
                return;
            ids = parkedIds;
        }
        // Give the last thread time to enter its wait after unlocking.
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        crash::stack::TraceOptions options;
        options.useCallFrameInfo = !scanOnly;
        for (const auto& capture : crash::stack::CaptureThreads(ids)) {
            const auto trace = crash::stack::TraceStack(capture, options);
            if (!capture.accessible)
                std::printf("F %lld <not accessible>\n", static_cast<long long>(capture.threadId));
            for (const auto& e : trace.entries)
                std::printf("F %lld %s|%s|%d|%s\n", static_cast<long long>(capture.threadId),
                            e.function.toUtf8().constData(), e.unit.toUtf8().constData(), e.line,
                            e.module.toUtf8().constData());
        }
        std::printf("READY\n");
        std::fflush(stdout);
        std::unique_lock lock(mutex);
        released.wait_for(lock, std::chrono::seconds(120), [] { return release; });
    });
    for (auto& t : threads)
        t.join();
    tracer.join();
    return 0;
}
