#include "crash/core/handler/MainThreadBridge.h"

#include <QCoreApplication>
#include <QPointer>
#include <QThread>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace crash {
namespace {

std::atomic<MainThreadBridge*> g_bridge{nullptr};
std::atomic<std::int64_t> g_mainThreadId{0};

struct PostedWork
{
    std::mutex lock;
    std::condition_variable changed;
    bool answered = false;
    bool running = false;
    bool done = false;
    bool cancelled = false;
    const std::function<void()>* work = nullptr;
};

} // namespace

void SetMainThreadId(std::int64_t id)
{
    g_mainThreadId = id;
}

std::int64_t MainThreadId()
{
    return g_mainThreadId.load();
}

void MainThreadBridge::create()
{
    if (g_bridge.load() || !QCoreApplication::instance())
        return;
    auto* bridge = new MainThreadBridge;
    bridge->setObjectName(QStringLiteral("qelToolsMsgHandlerWindow")); // the reporter's message window
    g_bridge = bridge;
}

void MainThreadBridge::destroy()
{
    delete g_bridge.exchange(nullptr);
}

MainThreadBridge* MainThreadBridge::instance()
{
    return g_bridge.load();
}

bool MainThreadBridge::isMainThread()
{
    MainThreadBridge* bridge = g_bridge.load();
    return bridge ? QThread::currentThread() == bridge->thread()
                  : QCoreApplication::instance() && QThread::currentThread() == QCoreApplication::instance()->thread();
}

bool MainThreadBridge::run(const std::function<void()>& work, int probeMs, int boundMs)
{
    MainThreadBridge* bridge = g_bridge.load();
    if (!bridge)
        return false;
    if (isMainThread()) {
        work();
        return true;
    }
    auto state = std::make_shared<PostedWork>();
    state->work = &work;
    // The probe: the answer (777) tells that the main thread takes calls.
    QMetaObject::invokeMethod(bridge, [state] {
        std::lock_guard guard(state->lock);
        state->answered = true;
        state->changed.notify_all();
    }, Qt::QueuedConnection);
    std::unique_lock guard(state->lock);
    if (!state->changed.wait_for(guard, std::chrono::milliseconds(probeMs), [&] { return state->answered; })) {
        state->cancelled = true;
        return false;
    }
    QMetaObject::invokeMethod(bridge, [state] {
        const std::function<void()>* job = nullptr;
        {
            std::lock_guard lock(state->lock);
            if (state->cancelled)
                return;
            state->running = true;
            job = state->work;
        }
        (*job)();
        std::lock_guard lock(state->lock);
        state->done = true;
        state->changed.notify_all();
    }, Qt::QueuedConnection);
    if (state->changed.wait_for(guard, std::chrono::milliseconds(boundMs), [&] { return state->done; }))
        return true;
    if (!state->running) {
        state->cancelled = true;
        return false;
    }
    // Already running: the work refers to the caller's frame, so wait for it to finish.
    state->changed.wait(guard, [&] { return state->done; });
    return true;
}

void MainThreadBridge::post(std::function<void()> work)
{
    if (MainThreadBridge* bridge = g_bridge.load())
        QMetaObject::invokeMethod(bridge, std::move(work), Qt::QueuedConnection);
}

void MainThreadBridge::wake()
{
    if (MainThreadBridge* bridge = g_bridge.load())
        QMetaObject::invokeMethod(bridge, [] {}, Qt::QueuedConnection);
}

} // namespace crash
