#include "CrashCases.h"

#include "platform/Exception.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <exception>
#include <link.h>
#include <memory>
#include <pthread.h>
#include <thread>
#include <ucontext.h>

namespace crashtest {

// External linkage: the optimiser must not assume it knows every class deriving from PureBase.
struct PureBase
{
    PureBase();
    virtual ~PureBase() = default;
    virtual void pureCall() = 0;
};

[[gnu::noinline]] void CallPure(PureBase* object)
{
    object->pureCall();
}

// Called through a pointer the optimiser cannot see through, so the call stays virtual.
extern void (*volatile g_callPure)(PureBase*);
void (*volatile g_callPure)(PureBase*) = CallPure;

PureBase::PureBase()
{
    g_callPure(this); // during construction the object is still a PureBase
}

struct PureDerived : PureBase
{
    void pureCall() override {}
};

namespace {

// Opaque to the optimiser, so the faults happen where the source says.
volatile int g_zero = 0;
volatile bool g_stopRecursion = false;
int* volatile g_null = nullptr;

[[gnu::noinline]] void WriteNull()
{
    *g_null = 1;
}

[[gnu::noinline]] void DivideByZero()
{
    volatile int result = 1 / g_zero;
    (void)result;
}

[[gnu::noinline]] int Recurse(int depth)
{
    volatile char frame[512];
    frame[0] = static_cast<char>(depth);
    if (g_stopRecursion)
        return 0;
    return Recurse(depth + 1) + frame[0];
}

// Writes past the end of a local buffer, over the guard value that stack protection puts behind
// it (this one function is built with the guard); the check at its return finds the change.
// AddressSanitizer is kept out of it, or it would report the overflow itself first.
volatile std::size_t g_smashLength = 32; // the buffer, the gap after it and the guard
[[gnu::noinline, gnu::stack_protect, gnu::no_sanitize_address]] void SmashStack()
{
    char buffer[16];
    volatile char* bytes = buffer;
    for (std::size_t i = 0; i < g_smashLength; ++i)
        bytes[i] = 'x';
}

[[gnu::noinline]] void ThrowException()
{
    throw platform::Exception(QStringLiteral("crash-test exception"));
}

class CrashTestWorker : public QThread
{
    Q_OBJECT
public:
    CrashTestWorker() { setObjectName(QStringLiteral("crash-test worker")); }

protected:
    void run() override { ThrowException(); }
};

template <typename F> void InWorker(F work)
{
    std::thread worker(work);
    worker.join();
}

// The allocator's entry points, called through pointers the optimiser cannot see through: it may
// otherwise drop a block that is freed unused, and these cases need every call to happen.
void* (*volatile g_malloc)(std::size_t) = std::malloc;
void (*volatile g_free)(void*) = std::free;
void* (*volatile g_memset)(void*, int, std::size_t) = std::memset;
void* volatile g_kept = nullptr;

// A freed block's links overwritten, as a use after free does. The blocks are too big for the
// per-thread cache, and the freed one lies between two in use, so it waits in the arena's unsorted
// list; the next larger request walks that list under the arena's lock and reads through the bad
// back link.
[[gnu::noinline]] void CorruptUnsortedList()
{
    constexpr std::size_t kSize = 0x1230, kChunk = kSize + 16;
    char* before = static_cast<char*>(g_malloc(kSize));
    char* block = static_cast<char*>(g_malloc(kSize));
    // Blocks taken from the top of the heap lie one after the other; earlier ones may come from
    // free space elsewhere (and are kept: they are few).
    for (int i = 0; i < 64 && block - before != static_cast<std::ptrdiff_t>(kChunk); ++i) {
        before = block;
        block = static_cast<char*>(g_malloc(kSize));
    }
    char* after = static_cast<char*>(g_malloc(kSize));
    if (after - block != static_cast<std::ptrdiff_t>(kChunk))
        std::fprintf(stderr, "crash-test: no freed block between two in use; the heap may not fault\n");
    g_free(block);
    reinterpret_cast<std::uintptr_t*>(block)[1] = 0x10;
    g_kept = g_malloc(kSize + 0x100);
}

// The per-thread cache's list of freed blocks of one size, its link pointed at an unmapped
// address: the second request of that size follows the link inside malloc itself. The links are
// stored mixed with their own address shifted by a page, and only their alignment is checked.
[[gnu::noinline]] void CorruptThreadCache()
{
    void* first = g_malloc(200);
    void* second = g_malloc(200);
    g_free(first);
    g_free(second);
    const auto at = reinterpret_cast<std::uintptr_t>(second);
    *static_cast<std::uintptr_t*>(second) = 0x10 ^ (at >> 12);
    g_kept = g_malloc(200);
    g_kept = g_malloc(200);
}

// A thread parked inside the allocator while it holds the arena's lock, and then another thread
// faults. The holder loops on blocks too big for the per-thread cache (each call takes the lock);
// a signal stops it when it was interrupted inside the C library, and a probe thread's own
// request tells whether the lock was held then. Every thread shares the lock only when the
// allocator keeps one arena (GLIBC_TUNABLES=glibc.malloc.arena_max=1); otherwise the probe never
// waits and the case faults without the lock held.
struct LibraryCode
{
    std::uintptr_t begin = 0, end = 0;
};
LibraryCode g_libc;
std::atomic<int> g_parkState{0}; // 1 parked, 2 missed
std::atomic<bool> g_unpark{false};
std::atomic<bool> g_stopLooping{false};

int FindLibc(dl_phdr_info* info, std::size_t, void*)
{
    if (!info->dlpi_name || !std::strstr(info->dlpi_name, "/libc.so"))
        return 0;
    for (int i = 0; i < info->dlpi_phnum; ++i) {
        const auto& ph = info->dlpi_phdr[i];
        if (ph.p_type == PT_LOAD && (ph.p_flags & PF_X))
            g_libc = {info->dlpi_addr + ph.p_vaddr, info->dlpi_addr + ph.p_vaddr + ph.p_memsz};
    }
    return 1;
}

void ParkInsideLibc(int, siginfo_t*, void* context)
{
    const auto pc =
        static_cast<std::uintptr_t>(static_cast<ucontext_t*>(context)->uc_mcontext.gregs[REG_RIP]);
    if (pc < g_libc.begin || pc >= g_libc.end) {
        g_parkState = 2;
        return;
    }
    g_parkState = 1;
    // Bounded: a run that is never released ends on its own after a minute.
    for (int i = 0; i < 60000 && !g_unpark.load(); ++i) {
        const timespec pause{0, 1000000};
        nanosleep(&pause, nullptr);
    }
}

// Waits up to `ms` for `done`.
bool WaitFor(const std::atomic<bool>& done, int ms)
{
    for (int i = 0; i < ms && !done.load(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return done.load();
}

// A thread that waits for `go` and then runs `work`; returns once the thread is running, so that
// nothing of its start (which allocates) is left for later.
template <typename F> std::thread StartedThread(std::shared_ptr<std::atomic<bool>> go, F work)
{
    auto running = std::make_shared<std::atomic<bool>>(false);
    std::thread thread([running, go, work] {
        *running = true;
        WaitFor(*go, 60000);
        work();
    });
    WaitFor(*running, 10000);
    return thread;
}

// Parks `holder` inside the allocator with its lock held; false when no try caught it so.
bool ParkHoldingTheLock(pthread_t holder)
{
    for (int attempt = 0; attempt < 50; ++attempt) {
        auto go = std::make_shared<std::atomic<bool>>(false);
        auto probed = std::make_shared<std::atomic<bool>>(false);
        StartedThread(go, [probed] {
            g_free(g_malloc(0x10000));
            *probed = true;
        }).detach();
        g_parkState = 0;
        g_unpark = false;
        pthread_kill(holder, SIGUSR2);
        for (int i = 0; i < 1000 && g_parkState.load() == 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        *go = true;
        if (g_parkState.load() == 1 && !WaitFor(*probed, 300))
            return true; // the probe waits for the parked thread's lock
        g_unpark = true;
        WaitFor(*probed, 1000);
    }
    return false;
}

void FaultWhileAnotherThreadHoldsTheAllocatorLock()
{
    dl_iterate_phdr(FindLibc, nullptr);
    struct sigaction park
    {
    };
    park.sa_sigaction = ParkInsideLibc;
    park.sa_flags = SA_SIGINFO;
    sigemptyset(&park.sa_mask);
    sigaction(SIGUSR2, &park, nullptr);
    std::thread holder([] {
        while (!g_stopLooping.load())
            g_free(g_malloc(0x10000));
    });
    // A fault inside the C library: the signal path, not an exception.
    auto fault = std::make_shared<std::atomic<bool>>(false);
    std::thread faulting = StartedThread(fault, [] { g_memset(nullptr, 0, 64); });
    if (!ParkHoldingTheLock(holder.native_handle()))
        std::fprintf(stderr, "crash-test: the allocator's lock was not caught held (one arena for all "
                             "threads needs GLIBC_TUNABLES=glibc.malloc.arena_max=1); faulting anyway\n");
    *fault = true;
    faulting.join();
    g_stopLooping = true;
    g_unpark = true;
    holder.join();
}

void Exception(int)
{
    ThrowException();
}
void AbortException(int)
{
    throw platform::EAbort();
}
void NullWrite(int)
{
    WriteNull();
}
void DivZero(int)
{
    DivideByZero();
}
void WorkerException(int)
{
    InWorker([] { ThrowException(); });
}
void WorkerNullWrite(int)
{
    InWorker([] { WriteNull(); });
}
void QThreadException(int)
{
    CrashTestWorker worker;
    worker.start();
    worker.wait(10000);
}
void WorkerExceptionAtExit(int)
{
    std::thread([] { ThrowException(); }).detach();
    // Its report is under way when the program ends.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    QCoreApplication::quit();
}
void Terminate(int)
{
    std::terminate();
}
void Abort(int)
{
    std::abort();
}
void PureVirtual(int)
{
    PureDerived object;
}
void StackSmash(int)
{
    SmashStack();
}
void StackOverflow(int)
{
    Recurse(0);
}
void WorkerStackOverflow(int)
{
    InWorker([] { Recurse(0); });
}
void Freeze(int seconds)
{
    QElapsedTimer timer;
    timer.start();
    volatile unsigned long spin = 0;
    while (timer.elapsed() < 1000LL * seconds)
        spin = spin + 1;
}

} // namespace

const std::vector<CrashCase>& Cases()
{
    static const std::vector<CrashCase> cases{
        {"exception", "throws the program's exception \"crash-test exception\" from the timer's handler",
         Exception},
        {"abort-exception", "throws EAbort, the silent exception (no report)", AbortException},
        {"null-write", "writes through a null pointer in the timer's handler", NullWrite},
        {"div-zero", "divides an integer by zero in the timer's handler", DivZero},
        {"worker-exception", "throws the program's exception in a std::thread", WorkerException},
        {"worker-null-write", "writes through a null pointer in a std::thread", WorkerNullWrite},
        {"qthread-exception", "throws the program's exception in a QThread named \"crash-test worker\"",
         QThreadException},
        {"worker-exception-at-exit",
         "throws the program's exception in a std::thread just before the program ends",
         WorkerExceptionAtExit},
        {"terminate", "calls std::terminate", Terminate},
        {"abort", "calls abort()", Abort},
        {"pure-virtual", "calls a pure virtual function during construction", PureVirtual},
        {"stack-smash", "overwrites the guard behind a local buffer (stack protection)", StackSmash},
        {"stack-overflow", "recurses without end in the timer's handler", StackOverflow},
        {"worker-stack-overflow", "recurses without end in a std::thread", WorkerStackOverflow},
        {"freeze", "keeps the main thread busy for N seconds", Freeze},
        {"malloc-fault", "corrupts a freed block's links, so that malloc faults holding its lock",
         [](int) { CorruptUnsortedList(); }},
        {"malloc-cache-fault", "corrupts the per-thread cache of freed blocks, so that malloc itself faults",
         [](int) { CorruptThreadCache(); }},
        {"locked-allocator",
         "a thread faults while another is parked inside malloc holding its lock (needs "
         "GLIBC_TUNABLES=glibc.malloc.arena_max=1)",
         [](int) { FaultWhileAnotherThreadHoldsTheAllocatorLock(); }},
        {kOutsideHandlerCase, "writes through a null pointer from main, before the event loop", NullWrite},
    };
    return cases;
}

const CrashCase* FindCase(const QString& name)
{
    for (const CrashCase& c : Cases())
        if (name == QLatin1String(c.name))
            return &c;
    return nullptr;
}

} // namespace crashtest

#include "CrashCases.moc"
