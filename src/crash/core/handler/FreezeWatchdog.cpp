#include "crash/core/handler/FreezeWatchdog.h"

#include "crash/core/handler/HandleException.h"
#include "crash/core/handler/MainThreadBridge.h"
#include "crash/core/threads/ThreadRegistry.h"
#include "platform/ProcessControl.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

namespace crash {
namespace {

struct Watchdog
{
    std::mutex lock;
    std::condition_variable stopSignal;
    bool stopping = false;
    std::thread thread;
};
Watchdog* g_watchdog = nullptr; // never a static object: its thread must not meet exit-time destructors

void Loop(Watchdog& self, int timeoutMs)
{
    platform::SetCurrentThreadName(AntiFreezeThreadName);
    if (ThreadRegistry* registry = ThreadRegistry::instance())
        registry->setName(platform::CurrentKernelThreadId(), QString::fromLatin1(AntiFreezeThreadName));
    const int baseInterval = timeoutMs / 10 > 0 ? timeoutMs / 10 : 1;
    int interval = baseInterval;
    int misses = 0;
    unsigned generation = FreezePauseGeneration();
    std::unique_lock guard(self.lock);
    while (!self.stopping) {
        if (FreezeWatchdogPaused() || !MainThreadBridge::instance()) {
            misses = 0;
            self.stopSignal.wait_for(guard, std::chrono::milliseconds(50));
            continue;
        }
        auto answered = std::make_shared<std::atomic<bool>>(false);
        MainThreadBridge::post([answered] { *answered = true; });
        self.stopSignal.wait_for(guard, std::chrono::milliseconds(interval), [&] { return self.stopping; });
        if (self.stopping)
            break;
        if (generation != FreezePauseGeneration()) {
            // An exception was handled (or the counter cleared) meanwhile: start counting afresh.
            generation = FreezePauseGeneration();
            misses = 0;
            continue;
        }
        if (answered->load()) {
            misses = 0;
            interval = baseInterval;
            continue;
        }
        if (++misses < 10)
            continue;
        guard.unlock();
        HandleExceptionRequest request;
        request.type = ExceptionType::Freeze;
        request.source = ExceptionSource::FreezeWatchdog;
        request.threadId = MainThreadId();
        request.canContinue = true;
        HandleException(request);
        guard.lock();
        generation = FreezePauseGeneration();
        misses = 0;
        interval += interval / 2;
    }
}

} // namespace

void StartFreezeWatchdog(int freezeTimeoutMs)
{
    if (g_watchdog)
        return;
    g_watchdog = new Watchdog;
    Watchdog& self = *g_watchdog;
    self.thread = std::thread([&self, freezeTimeoutMs] { Loop(self, freezeTimeoutMs); });
}

void StopFreezeWatchdog()
{
    if (!g_watchdog)
        return;
    {
        std::lock_guard guard(g_watchdog->lock);
        g_watchdog->stopping = true;
    }
    g_watchdog->stopSignal.notify_all();
    g_watchdog->thread.join();
    delete g_watchdog;
    g_watchdog = nullptr;
}

} // namespace crash
