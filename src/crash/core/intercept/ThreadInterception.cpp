#include "crash/core/intercept/ThreadInterception.h"

#include "crash/core/handler/HandleException.h"
#include "crash/core/handler/ThreadPause.h"
#include "crash/core/intercept/InterceptPoints.h"
#include "crash/core/threads/ThreadRegistry.h"
#include "platform/AltSignalStack.h"
#include "platform/FaultSignals.h"
#include "platform/RuntimeRedirections.h"
#include "platform/UnhandledException.h"

#include <QMetaObject>
#include <QThread>
#include <cxxabi.h>
#include <map>
#include <mutex>

namespace crash {

thread_local bool t_inWrappedThread = false;

namespace {

// Never destroyed: a wrapped thread may leave RunThread after the exit has run the program's
// static destructors (Qt's D-Bus thread does, once its manager has waited for it to finish).
struct WrappedThreads
{
    std::mutex lock;
    std::map<std::int64_t, WrappedThreadInfo> byId;
};

WrappedThreads& Wrapped()
{
    static auto* const table = new WrappedThreads;
    return *table;
}

void Forget(std::int64_t id)
{
    {
        WrappedThreads& wrapped = Wrapped();
        std::lock_guard guard(wrapped.lock);
        wrapped.byId.erase(id);
    }
    if (ThreadRegistry* registry = ThreadRegistry::instance())
        registry->removeThread(id);
}

void* RunThread(const platform::ThreadStart& start)
{
    platform::EnsureAltSignalStack();
    WrappedThreadInfo info;
    info.threadId = platform::CurrentKernelThreadId();
    info.creatorThread = start.creatorThread;
    info.creationAddress = start.creationAddress;
    const QObject* qthread = nullptr;
    if (platform::IsQtCoreAddress(reinterpret_cast<const void*>(start.routine)) && start.argument) {
        // Qt Core creates threads for QThread only; the argument is the QThread.
        const auto* thread = static_cast<QThread*>(start.argument);
        qthread = thread;
        info.className = QString::fromLatin1(thread->metaObject()->className());
        // Qt names the thread after its object through prctl, past the naming redirection.
        info.name = thread->objectName();
    }
    {
        WrappedThreads& wrapped = Wrapped();
        std::lock_guard guard(wrapped.lock);
        wrapped.byId[info.threadId] = info;
    }
    // The registry names the thread in reports: its creator, where it was created, its class.
    if (ThreadRegistry* registry = ThreadRegistry::instance()) {
        ThreadInfo entry;
        entry.threadId = info.threadId;
        entry.className = info.className;
        entry.creatorThread = info.creatorThread;
        entry.creationAddress = info.creationAddress;
        entry.name = info.name;
        registry->addThread(entry);
    }
    void* result = nullptr;
    t_inWrappedThread = true;
    try {
        platform::ExceptionFrame frame;
        result = start.routine(start.argument);
    } catch (abi::__forced_unwind&) {
        Forget(info.threadId);
        throw; // thread cancellation and pthread_exit must go on
    } catch (...) {
        std::exception_ptr error = std::current_exception();
        HandleExceptionRequest request;
        request.source = ExceptionSource::ThreadLastChance;
        request.object = &error;
        request.relatedObject = qthread;
        request.raiseStack = RaiseStackOf(error, request.raiseDepth);
        const InnerRaiseStacks inner = InnerRaiseStacksOf(error);
        request.innerRaiseStacks = &inner;
        HandleException(request);
    }
    Forget(info.threadId);
    return result;
}

void OnThreadName(std::uintptr_t handle, const char* name)
{
    const std::int64_t id = platform::KernelThreadIdOf(handle);
    if (!id)
        return;
    {
        WrappedThreads& wrapped = Wrapped();
        std::lock_guard guard(wrapped.lock);
        auto& info = wrapped.byId[id];
        info.threadId = id;
        info.name = QString::fromUtf8(name);
    }
    if (ThreadRegistry* registry = ThreadRegistry::instance())
        registry->setName(id, QString::fromUtf8(name));
}

} // namespace

void InstallThreadInterception()
{
    platform::RedirectThreadCreation(&RunThread);
    platform::RedirectThreadNaming(&OnThreadName);
}

void InstallPauseRedirection()
{
    ThreadPause::setThreadLister([] {
        std::vector<std::int64_t> ids;
        WrappedThreads& wrapped = Wrapped();
        std::lock_guard guard(wrapped.lock);
        for (const auto& [id, info] : wrapped.byId)
            if (info.creationAddress != 0)
                ids.push_back(id);
        return ids;
    });
    platform::RedirectEventWait(&ThreadPause::waitIfPaused);
}

std::optional<WrappedThreadInfo> FindWrappedThread(std::int64_t threadId)
{
    WrappedThreads& wrapped = Wrapped();
    std::lock_guard guard(wrapped.lock);
    const auto it = wrapped.byId.find(threadId);
    if (it == wrapped.byId.end())
        return std::nullopt;
    return it->second;
}

} // namespace crash
