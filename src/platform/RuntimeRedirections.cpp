#include "platform/RuntimeRedirections.h"

#include "platform/FaultSignals.h"
#include "platform/ImportSlots.h"
#include "platform/ModuleHandle.h"

#include <QString>
#include <algorithm>
#include <array>
#include <atomic>
#include <cstdlib>
#include <cxxabi.h>
#include <dlfcn.h>
#include <execinfo.h>
#include <memory>
#include <new>
#include <poll.h>
#include <pthread.h>
#include <span>
#include <utility>
#include <vector>

extern "C" void __cxa_pure_virtual();
extern "C" void __stack_chk_fail();

namespace platform {
namespace {

using PthreadCreate = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);
using CxaThrow = void (*)(void*, std::type_info*, void (*)(void*));
using SetName = int (*)(pthread_t, const char*);
using Poll = int (*)(pollfd*, nfds_t, int);
using PPoll = int (*)(pollfd*, nfds_t, const timespec*, const sigset_t*);
using VoidFunction = void (*)();

constexpr char kCLibrary[] = "libc.so.6";
constexpr char kCxxLibrary[] = "libstdc++.so.6";

// The real routines, looked up by symbol (a taken address would read a slot that may be rewritten).
template <typename F> F Real(const char* name, F fallback)
{
    void* found = dlsym(RTLD_DEFAULT, name);
    return found ? reinterpret_cast<F>(found) : fallback;
}
PthreadCreate g_realCreate = Real<PthreadCreate>("pthread_create", &pthread_create);
CxaThrow g_realThrow = Real<CxaThrow>("__cxa_throw", reinterpret_cast<CxaThrow>(&__cxxabiv1::__cxa_throw));
SetName g_realSetName = Real<SetName>("pthread_setname_np", &pthread_setname_np);
VoidFunction g_realPureVirtual = Real<VoidFunction>("__cxa_pure_virtual", &__cxa_pure_virtual);
VoidFunction g_realStackChkFail = Real<VoidFunction>("__stack_chk_fail", &__stack_chk_fail);
Poll g_realPoll = Real<Poll>("poll", &poll);
PPoll g_realPPoll = Real<PPoll>("ppoll", &ppoll);

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

// Only the event loops' modules wait for messages; other modules' polls are left alone.
bool RedirectIn(const char* moduleName, const char* function, std::uintptr_t to)
{
    bool any = false;
    for (const ModuleFile& module : LoadedModuleFiles())
        if (module.fileName.contains(QLatin1String(moduleName)))
            any = ReplaceImportSlots(module.handle, function, kCLibrary, to) != 0 || any;
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

int HookedCreate(pthread_t* thread, const pthread_attr_t* attr, void* (*routine)(void*), void* argument)
{
    auto* start =
        new (std::nothrow) ThreadStart{routine, argument, CurrentKernelThreadId(),
                                       reinterpret_cast<std::uintptr_t>(__builtin_return_address(0))};
    if (!start)
        return g_realCreate(thread, attr, routine, argument);
    const int result = g_realCreate(thread, attr, StartTrampoline, start);
    if (result != 0)
        delete start;
    return result;
}

[[noreturn]] void HookedThrow(void* object, std::type_info* type, void (*destroy)(void*))
{
    if (ThrowObserver observer = g_throwObserver.load()) {
        void* frames[64];
        const int depth = backtrace(frames, 64);
        // Frame 0 is this function: the raising site starts with its caller.
        observer(object, type, reinterpret_cast<const std::uintptr_t*>(frames) + 1,
                 depth > 0 ? depth - 1 : 0);
    }
    g_realThrow(object, type, destroy);
    __builtin_unreachable();
}

int HookedSetName(pthread_t thread, const char* name)
{
    const int result = g_realSetName(thread, name);
    if (ThreadNameObserver observer = g_nameObserver.load(); observer && name)
        observer(static_cast<std::uintptr_t>(thread), name);
    return result;
}

[[noreturn]] void HookedPureVirtual()
{
    if (RuntimeErrorHandler handler = g_errorHandler.load())
        handler(RuntimeError::PureVirtualCall, reinterpret_cast<std::uintptr_t>(__builtin_return_address(0)));
    g_realPureVirtual();
    std::abort();
}

[[noreturn]] void HookedStackChkFail()
{
    if (RuntimeErrorHandler handler = g_errorHandler.load())
        handler(RuntimeError::StackSmashing, reinterpret_cast<std::uintptr_t>(__builtin_return_address(0)));
    g_realStackChkFail();
    std::abort();
}

// The open batch's requests (the batch is opened and applied on one thread, at start-up or stop).
std::vector<ImportRewrite>* g_openBatch = nullptr;

bool IsRuntimeLibrary(const QString& moduleFile, std::string_view library)
{
    return moduleFile.endsWith(QLatin1Char('/') + QLatin1String(library.data(), qsizetype(library.size())));
}

// Rewrites the slots of each function in every loaded module but the library that defines it, in
// one walk per module; answers whether every function had a slot rewritten somewhere.
bool RedirectAll(std::span<const ImportRewrite> list)
{
    std::vector<bool> found(list.size());
    std::vector<ImportRewrite> rewrites;
    std::vector<std::size_t> asked;
    ImportSlotWriteScope writes;
    const ModuleHandle main = MainModuleHandle();
    for (const ModuleFile& module : LoadedModuleFiles()) {
        rewrites.clear();
        asked.clear();
        for (std::size_t i = 0; i < list.size(); ++i) {
            if (IsRuntimeLibrary(module.fileName, list[i].library))
                continue;
            rewrites.push_back(list[i]);
            asked.push_back(i);
        }
        ReplaceImportSlots(module.handle == main ? 0 : module.handle, rewrites);
        for (std::size_t j = 0; j < rewrites.size(); ++j)
            if (rewrites[j].previous != 0)
                found[asked[j]] = true;
    }
    return std::all_of(found.begin(), found.end(), [](bool f) { return f; });
}

// `to` passes the calls on to `replacing` (or the other way round, when a redirection is undone).
bool RedirectEverywhere(const char* function, const char* library, std::uintptr_t to,
                        std::uintptr_t replacing, bool alsoStoredPointers = false)
{
    const ImportRewrite one{function, library, to, 0, alsoStoredPointers, replacing};
    if (g_openBatch) {
        g_openBatch->push_back(one);
        return true;
    }
    return RedirectAll(std::span(&one, 1));
}

template <typename F> std::uintptr_t Address(F function)
{
    return reinterpret_cast<std::uintptr_t>(function);
}

// The redirections made in every module: each routine's hook, the real routine the hook passes the
// calls on to, and whether the routine's pointers stored in data (virtual tables) are taken too.
struct Everywhere
{
    const char* function;
    const char* library;
    std::uintptr_t hook;
    std::uintptr_t real;
    bool storedPointers;
    bool inForce;
};

enum Routine
{
    ThreadCreation,
    Throw,
    ThreadNaming,
    PureVirtualCall,
    StackSmashing,
    RoutineCount
};

std::array<Everywhere, RoutineCount> Redirections()
{
    return {{{"pthread_create", kCLibrary, Address(PthreadCreate(&HookedCreate)), Address(g_realCreate),
              false, g_runner.load() != nullptr},
             {"__cxa_throw", kCxxLibrary, Address(CxaThrow(&HookedThrow)), Address(g_realThrow), false,
              g_throwObserver.load() != nullptr},
             {"pthread_setname_np", kCLibrary, Address(SetName(&HookedSetName)), Address(g_realSetName),
              false, g_nameObserver.load() != nullptr},
             {"__cxa_pure_virtual", kCxxLibrary, Address(VoidFunction(&HookedPureVirtual)),
              Address(g_realPureVirtual), true, g_errorHandler.load() != nullptr},
             {"__stack_chk_fail", kCLibrary, Address(VoidFunction(&HookedStackChkFail)),
              Address(g_realStackChkFail), false, g_errorHandler.load() != nullptr}}};
}

bool Redirect(Routine routine)
{
    const Everywhere r = Redirections()[routine];
    return RedirectEverywhere(r.function, r.library, r.hook, r.real, r.storedPointers);
}

// Thread names are kept by the kernel id; the pthread_t of this implementation is the address of
// the thread's descriptor, whose tid field pthread_getattr_np does not expose, so ask the thread.
thread_local std::int64_t t_kernelId = 0;

} // namespace

RedirectionBatch::RedirectionBatch() : m_owner(g_openBatch == nullptr)
{
    if (m_owner)
        g_openBatch = new std::vector<ImportRewrite>;
}

RedirectionBatch::~RedirectionBatch()
{
    apply();
}

bool RedirectionBatch::apply()
{
    if (!m_owner)
        return true;
    m_owner = false;
    std::unique_ptr<std::vector<ImportRewrite>> requests(std::exchange(g_openBatch, nullptr));
    return !requests || RedirectAll(*requests);
}

bool RedirectThreadCreation(ThreadRunner runner)
{
    g_runner = runner;
    return Redirect(ThreadCreation);
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
    return Redirect(Throw);
}

bool RedirectThreadNaming(ThreadNameObserver observer)
{
    g_nameObserver = observer;
    return Redirect(ThreadNaming);
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
    g_errorHandler = handler;
    // Virtual tables hold the pure-virtual routine's address directly.
    const bool pure = Redirect(PureVirtualCall);
    const bool chk = Redirect(StackSmashing);
    return pure || chk;
}

bool RedirectEventWait(EventWaitObserver observer)
{
    g_waitObserver = observer;
    bool any = false;
    for (const char* module : {"/libQt6Core.so", "/libglib-2.0.so"}) {
        any = RedirectIn(module, "poll", reinterpret_cast<std::uintptr_t>(&HookedPoll)) || any;
        any = RedirectIn(module, "ppoll", reinterpret_cast<std::uintptr_t>(&HookedPPoll)) || any;
    }
    return any;
}

void ApplyRuntimeRedirectionsTo(ModuleHandle module)
{
    // As RedirectEverywhere asks for them: a slot holding the real routine is rewritten wherever
    // that routine lies (an interposing sanitizer's, say).
    std::vector<ImportRewrite> rewrites;
    for (const Everywhere& r : Redirections())
        if (r.inForce)
            rewrites.push_back({r.function, r.library, r.hook, 0, r.storedPointers, r.real});
    if (module != 0 && !rewrites.empty()) {
        ImportSlotWriteScope writes;
        ReplaceImportSlots(module, rewrites);
    }
}

void RestoreRuntimeRedirections()
{
    RedirectionBatch batch;
    for (const char* module : {"/libQt6Core.so", "/libglib-2.0.so"}) {
        RedirectIn(module, "poll", reinterpret_cast<std::uintptr_t>(g_realPoll));
        RedirectIn(module, "ppoll", reinterpret_cast<std::uintptr_t>(g_realPPoll));
    }
    g_waitObserver = nullptr;
    for (const Everywhere& r : Redirections())
        RedirectEverywhere(r.function, r.library, r.real, r.hook, r.storedPointers);
    g_runner = nullptr;
    g_throwObserver = nullptr;
    g_nameObserver = nullptr;
    g_errorHandler = nullptr;
}

} // namespace platform
