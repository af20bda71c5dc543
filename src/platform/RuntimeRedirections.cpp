#include "platform/RuntimeRedirections.h"

#include "platform/FaultSignals.h"
#include "platform/ImportSlots.h"
#include "platform/ModuleHandle.h"

#include <QString>
#include <atomic>
#include <cstdlib>
#include <dlfcn.h>
#include <execinfo.h>
#include <new>
#include <poll.h>
#include <pthread.h>
#include <typeinfo>

// The five runtime routines are defined again here, under their own symbol names, and exported by
// the executable. The loader looks a symbol up in the executable before any library, so every
// module's calls reach these definitions: the libraries linked at start, those opened later (Qt's
// plugins, the delivery module) and the runtime libraries' own calls between each other, with no
// table of any module rewritten. While the reporter has no callback set, each passes the call
// straight on to the next definition of the routine (the C or C++ library's, or a sanitizer's).
extern "C" int InterposedThreadCreation(pthread_t* thread, const pthread_attr_t* attr,
                                        void* (*routine)(void*), void* argument) __asm__("pthread_create");
extern "C" [[noreturn]] void InterposedThrow(void* object, std::type_info* type,
                                             void (*destroy)(void*)) __asm__("__cxa_throw");
extern "C" int InterposedThreadNaming(pthread_t thread, const char* name) __asm__("pthread_setname_np");
extern "C" [[noreturn]] void InterposedPureVirtualCall() __asm__("__cxa_pure_virtual");
extern "C" [[noreturn]] void InterposedStackSmashing() __asm__("__stack_chk_fail");

namespace platform {
namespace {

using PthreadCreate = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);
using CxaThrow = void (*)(void*, std::type_info*, void (*)(void*));
using SetName = int (*)(pthread_t, const char*);
using Poll = int (*)(pollfd*, nfds_t, int);
using PPoll = int (*)(pollfd*, nfds_t, const timespec*, const sigset_t*);
using VoidFunction = void (*)();

constexpr char kCLibrary[] = "libc.so.6";

// The definition a routine would have without this file's: the next one in the loader's order.
// Looked up at the first call, which may come from another library's start-up before this
// file's own initialisation has run.
template <typename F> F Next(const char* name)
{
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}
PthreadCreate RealCreate()
{
    static const PthreadCreate real = Next<PthreadCreate>("pthread_create");
    return real;
}
CxaThrow RealThrow()
{
    static const CxaThrow real = Next<CxaThrow>("__cxa_throw");
    return real;
}
SetName RealSetName()
{
    static const SetName real = Next<SetName>("pthread_setname_np");
    return real;
}

Poll g_realPoll = &poll;
PPoll g_realPPoll = &ppoll;

std::atomic<ThreadRunner> g_runner{nullptr};
std::atomic<ThrowObserver> g_throwObserver{nullptr};
std::atomic<ThreadNameObserver> g_nameObserver{nullptr};
std::atomic<RuntimeErrorHandler> g_errorHandler{nullptr};
std::atomic<EventWaitObserver> g_waitObserver{nullptr};

int HookedPoll(pollfd* fds, nfds_t count, int timeout)
{
    if (EventWaitObserver observer = g_waitObserver.load())
        observer();
    return g_realPoll(fds, count, timeout);
}

int HookedPPoll(pollfd* fds, nfds_t count, const timespec* timeout, const sigset_t* mask)
{
    if (EventWaitObserver observer = g_waitObserver.load())
        observer();
    return g_realPPoll(fds, count, timeout, mask);
}

// Points the event loops' waits at `pollTo` and `ppollTo`, in one walk of the module list: only
// Qt Core and GLib wait for messages, other modules' polls are left alone. Whether any slot was
// found.
bool PointEventLoopWaitsAt(Poll pollTo, PPoll ppollTo)
{
    bool any = false;
    for (const ModuleFile& module : LoadedModuleFiles()) {
        if (!module.fileName.contains(QLatin1String("/libQt6Core.so")) &&
            !module.fileName.contains(QLatin1String("/libglib-2.0.so")))
            continue;
        ImportRewrite waits[] = {{"poll", kCLibrary, reinterpret_cast<std::uintptr_t>(pollTo)},
                                 {"ppoll", kCLibrary, reinterpret_cast<std::uintptr_t>(ppollTo)}};
        ReplaceImportSlots(module.handle, waits);
        any = any || waits[0].previous != 0 || waits[1].previous != 0;
    }
    return any;
}

void* StartTrampoline(void* raw)
{
    const ThreadStart start = *static_cast<ThreadStart*>(raw);
    delete static_cast<ThreadStart*>(raw);
    if (ThreadRunner runner = g_runner.load())
        return runner(start);
    return start.routine(start.argument);
}

// The C++ and C libraries' own fatal routines (they print their message and abort), for when the
// handler returns or none is set. Looked up when the handler is set, not at the failure, where
// the stack may be corrupt; without a handler, at the failure.
std::atomic<VoidFunction> g_nextPureVirtual{nullptr};
std::atomic<VoidFunction> g_nextStackSmashing{nullptr};

[[noreturn]] void RunNextFatalRoutine(const std::atomic<VoidFunction>& next, const char* name)
{
    VoidFunction routine = next.load();
    if (!routine)
        routine = Next<VoidFunction>(name);
    if (routine)
        routine();
    std::abort();
}

// Thread names are kept by the kernel id; the pthread_t of this implementation is the address of
// the thread's descriptor, whose tid field pthread_getattr_np does not expose, so ask the thread.
thread_local std::int64_t t_kernelId = 0;

} // namespace

bool RedirectThreadCreation(ThreadRunner runner)
{
    g_runner = runner;
    return RealCreate() != nullptr;
}

bool IsQtCoreAddress(const void* routine)
{
    const ModuleHandle module = ModuleOfAddress(routine);
    return module != 0 && ModuleFileName(module).contains(QLatin1String("/libQt6Core.so"));
}

bool RedirectThrow(ThrowObserver observer)
{
    // The unwinder behind backtrace() is loaded on first use; do that now, not inside a throw.
    void* warm[2];
    backtrace(warm, 2);
    g_throwObserver = observer;
    return RealThrow() != nullptr;
}

bool RedirectThreadNaming(ThreadNameObserver observer)
{
    g_nameObserver = observer;
    return RealSetName() != nullptr;
}

std::int64_t KernelThreadIdOf(std::uintptr_t threadHandle)
{
    if (static_cast<pthread_t>(threadHandle) == pthread_self()) {
        if (!t_kernelId)
            t_kernelId = CurrentKernelThreadId();
        return t_kernelId;
    }
    return 0;
}

bool RedirectRuntimeErrors(RuntimeErrorHandler handler)
{
    g_nextPureVirtual = Next<VoidFunction>("__cxa_pure_virtual");
    g_nextStackSmashing = Next<VoidFunction>("__stack_chk_fail");
    g_errorHandler = handler;
    return g_nextPureVirtual.load() && g_nextStackSmashing.load();
}

bool RedirectEventWait(EventWaitObserver observer)
{
    g_waitObserver = observer;
    return PointEventLoopWaitsAt(&HookedPoll, &HookedPPoll);
}

void RestoreRuntimeRedirections()
{
    PointEventLoopWaitsAt(g_realPoll, g_realPPoll);
    g_waitObserver = nullptr;
    g_runner = nullptr;
    g_throwObserver = nullptr;
    g_nameObserver = nullptr;
    g_errorHandler = nullptr;
}

} // namespace platform

using platform::g_errorHandler;
using platform::g_nameObserver;
using platform::g_runner;
using platform::g_throwObserver;

extern "C" int InterposedThreadCreation(pthread_t* thread, const pthread_attr_t* attr,
                                        void* (*routine)(void*), void* argument)
{
    const platform::PthreadCreate real = platform::RealCreate();
    if (!g_runner.load())
        return real(thread, attr, routine, argument);
    auto* start = new (std::nothrow)
        platform::ThreadStart{routine, argument, platform::CurrentKernelThreadId(),
                              reinterpret_cast<std::uintptr_t>(__builtin_return_address(0))};
    if (!start)
        return real(thread, attr, routine, argument);
    const int result = real(thread, attr, platform::StartTrampoline, start);
    if (result != 0)
        delete start;
    return result;
}

extern "C" void InterposedThrow(void* object, std::type_info* type, void (*destroy)(void*))
{
    if (platform::ThrowObserver observer = g_throwObserver.load()) {
        void* frames[64];
        const int depth = backtrace(frames, 64);
        // Frame 0 is this function: the raising site starts with its caller.
        observer(object, type, reinterpret_cast<const std::uintptr_t*>(frames) + 1,
                 depth > 0 ? depth - 1 : 0);
    }
    platform::RealThrow()(object, type, destroy);
    __builtin_unreachable();
}

extern "C" int InterposedThreadNaming(pthread_t thread, const char* name)
{
    const int result = platform::RealSetName()(thread, name);
    if (platform::ThreadNameObserver observer = g_nameObserver.load(); observer && name)
        observer(static_cast<std::uintptr_t>(thread), name);
    return result;
}

extern "C" void InterposedPureVirtualCall()
{
    if (platform::RuntimeErrorHandler handler = g_errorHandler.load())
        handler(platform::RuntimeError::PureVirtualCall,
                reinterpret_cast<std::uintptr_t>(__builtin_return_address(0)));
    platform::RunNextFatalRoutine(platform::g_nextPureVirtual, "__cxa_pure_virtual");
}

extern "C" void InterposedStackSmashing()
{
    if (platform::RuntimeErrorHandler handler = g_errorHandler.load())
        handler(platform::RuntimeError::StackSmashing,
                reinterpret_cast<std::uintptr_t>(__builtin_return_address(0)));
    platform::RunNextFatalRoutine(platform::g_nextStackSmashing, "__stack_chk_fail");
}
