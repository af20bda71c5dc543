#include "crash/core/handler/ThreadPause.h"

#include "crash/core/handler/MainThreadBridge.h"
#include "platform/FaultSignals.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace crash {
namespace {

std::mutex g_lock;
std::condition_variable g_released;
ThreadPause::ThreadLister g_lister;
std::vector<std::int64_t> g_paused; // the listed threads
bool g_threadsHeld = false;         // the "listed threads" event reset
bool g_mainHeld = false;            // the main thread's event reset
thread_local int t_waitingForHandling = 0;
std::atomic<bool> g_anyHeld{false}; // read without the lock on every event-loop wait

// A paused thread is not held for ever: a handling that never resumes must not hang the program.
constexpr auto kLongestHold = std::chrono::minutes(10);

} // namespace

void ThreadPause::setThreadLister(ThreadLister lister)
{
    std::lock_guard guard(g_lock);
    g_lister = std::move(lister);
}

void ThreadPause::pause(std::int64_t current, std::int64_t crashed)
{
    std::vector<std::int64_t> threads;
    {
        std::lock_guard guard(g_lock);
        if (g_lister)
            threads = g_lister();
    }
    const std::int64_t main = MainThreadId();
    std::erase_if(threads, [&](std::int64_t id) { return id == current || id == main || id == crashed; });
    {
        std::lock_guard guard(g_lock);
        g_paused = std::move(threads);
        g_threadsHeld = true;
        g_mainHeld = main != current && main != crashed;
        g_anyHeld = true;
    }
    MainThreadBridge::wake();
}

void ThreadPause::resume()
{
    {
        std::lock_guard guard(g_lock);
        g_threadsHeld = false;
        g_mainHeld = false;
        g_paused.clear();
        g_anyHeld = false;
    }
    g_released.notify_all();
    MainThreadBridge::wake();
}

bool ThreadPause::active()
{
    std::lock_guard guard(g_lock);
    return g_threadsHeld;
}

void ThreadPause::releaseMainThread()
{
    {
        std::lock_guard guard(g_lock);
        g_mainHeld = false;
    }
    g_released.notify_all();
}

void ThreadPause::holdMainThread()
{
    std::lock_guard guard(g_lock);
    if (g_threadsHeld)
        g_mainHeld = true;
}

void ThreadPause::waitIfPaused()
{
    if (!g_anyHeld.load(std::memory_order_relaxed) || t_waitingForHandling > 0)
        return;
    const std::int64_t self = platform::CurrentKernelThreadId();
    const bool isMain = self == MainThreadId();
    std::unique_lock guard(g_lock);
    auto held = [&] {
        if (isMain)
            return g_mainHeld;
        return g_threadsHeld && std::find(g_paused.begin(), g_paused.end(), self) != g_paused.end();
    };
    g_released.wait_for(guard, kLongestHold, [&] { return !held(); });
}

ThreadPause::WaitingForHandling::WaitingForHandling()
{
    ++t_waitingForHandling;
}

ThreadPause::WaitingForHandling::~WaitingForHandling()
{
    --t_waitingForHandling;
}

} // namespace crash
