// Snapshot handshake. One request at a time (a mutex) lives in static storage, so a thread that
// answers late never writes into freed memory. The tracer names the target thread and sends it a
// real-time signal with tgkill. The handler claims the request (compare-and-swap from Requested to
// Copying, only if it is the named thread), copies its interrupted registers, publishes Answered and
// waits on a futex until the tracer has copied its stack (Released), then reports Left and returns.
// The tracer gives up on a thread after the answer timeout by taking the request back
// (Requested -> Idle); a handler that arrives after that finds nothing to claim. Every wait on
// either side has a deadline, so neither side can hang the other.

#include "platform/ThreadSnapshot.h"

#include "platform/GuardedMemory.h"
#include "platform/MemoryMap.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <linux/futex.h>
#include <mutex>
#include <sys/syscall.h>
#include <time.h>
#include <ucontext.h>
#include <unistd.h>

namespace platform {
namespace {

enum State : int { Idle, Requested, Copying, Answered, Released, Left };

struct Request
{
    std::atomic<int> state{Idle};
    std::atomic<std::int64_t> target{0};
    ThreadRegisters registers;
};

Request request;
std::mutex requestMutex;

static_assert(sizeof(std::atomic<int>) == sizeof(int), "futex word");

int* FutexWord()
{
    return reinterpret_cast<int*>(&request.state);
}

void FutexWake()
{
    syscall(SYS_futex, FutexWord(), FUTEX_WAKE_PRIVATE, INT32_MAX, nullptr, nullptr, 0);
}

std::int64_t NowNanoseconds()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return std::int64_t(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// Waits until the state is no longer `from`, at most until `deadline` (monotonic ns). Async-signal-safe.
int WaitWhileState(int from, std::int64_t deadline)
{
    for (;;) {
        const int now = request.state.load(std::memory_order_acquire);
        if (now != from)
            return now;
        const std::int64_t left = deadline - NowNanoseconds();
        if (left <= 0)
            return now;
        timespec wait{left / 1000000000, left % 1000000000};
        syscall(SYS_futex, FutexWord(), FUTEX_WAIT_PRIVATE, from, &wait, nullptr, 0);
    }
}

ThreadRegisters RegistersOf(const mcontext_t& m)
{
    ThreadRegisters r;
    r.rax = std::uint64_t(m.gregs[REG_RAX]);
    r.rbx = std::uint64_t(m.gregs[REG_RBX]);
    r.rcx = std::uint64_t(m.gregs[REG_RCX]);
    r.rdx = std::uint64_t(m.gregs[REG_RDX]);
    r.rsi = std::uint64_t(m.gregs[REG_RSI]);
    r.rdi = std::uint64_t(m.gregs[REG_RDI]);
    r.rip = std::uint64_t(m.gregs[REG_RIP]);
    r.rsp = std::uint64_t(m.gregs[REG_RSP]);
    r.rbp = std::uint64_t(m.gregs[REG_RBP]);
    r.r8 = std::uint64_t(m.gregs[REG_R8]);
    r.r9 = std::uint64_t(m.gregs[REG_R9]);
    r.r10 = std::uint64_t(m.gregs[REG_R10]);
    r.r11 = std::uint64_t(m.gregs[REG_R11]);
    r.r12 = std::uint64_t(m.gregs[REG_R12]);
    r.r13 = std::uint64_t(m.gregs[REG_R13]);
    r.r14 = std::uint64_t(m.gregs[REG_R14]);
    r.r15 = std::uint64_t(m.gregs[REG_R15]);
    return r;
}

constexpr std::int64_t ReleaseWaitLimitNs = 1000000000; // the tracer copies in milliseconds

void OnSnapshotSignal(int, siginfo_t*, void* context)
{
    const int savedErrno = errno;
    const auto self = static_cast<std::int64_t>(syscall(SYS_gettid));
    int expected = Requested;
    if (request.target.load(std::memory_order_acquire) == self &&
        request.state.compare_exchange_strong(expected, Copying, std::memory_order_acq_rel)) {
        request.registers = RegistersOf(static_cast<ucontext_t*>(context)->uc_mcontext);
        request.state.store(Answered, std::memory_order_release);
        FutexWake();
        WaitWhileState(Answered, NowNanoseconds() + ReleaseWaitLimitNs);
        request.state.store(Left, std::memory_order_release);
        FutexWake();
    }
    errno = savedErrno;
}

int SnapshotSignal()
{
    return SIGRTMIN + 7;
}

void InstallHandlerOnce()
{
    static std::once_flag once;
    std::call_once(once, [] {
        struct sigaction action{};
        action.sa_sigaction = OnSnapshotSignal;
        action.sa_flags = SA_SIGINFO | SA_RESTART;
        sigfillset(&action.sa_mask); // nothing else runs while the thread is parked
        sigaction(SnapshotSignal(), &action, nullptr);
    });
}

void CopyStack(ThreadSnapshot& snapshot, const std::vector<MemoryRange>& map, std::size_t maxStackBytes)
{
    const std::uint64_t sp = snapshot.registers.rsp;
    const auto mapping = MappingContaining(map, sp);
    if (!mapping)
        return;
    snapshot.stackTop = mapping->end;
    const std::size_t wanted = std::min<std::uint64_t>(mapping->end - sp, maxStackBytes);
    snapshot.stack.resize(wanted);
    snapshot.stack.resize(ReadOwnMemory(sp, snapshot.stack.data(), wanted));
}

// The calling thread's registers as they are inside this call; kept out of line so the frame it
// describes stays alive (and unchanged above its stack pointer) while the stack is copied.
[[gnu::noinline]] void SnapshotSelf(ThreadSnapshot& snapshot, const std::vector<MemoryRange>& map,
                                    std::size_t maxStackBytes)
{
    ucontext_t context;
    if (getcontext(&context) != 0)
        return;
    snapshot.registers = RegistersOf(context.uc_mcontext);
    CopyStack(snapshot, map, maxStackBytes);
    snapshot.answered = !snapshot.stack.empty();
    asm volatile("" ::: "memory"); // keep the frame until the copy is done
}

void SnapshotOther(ThreadSnapshot& snapshot, const std::vector<MemoryRange>& map,
                   std::chrono::milliseconds answerTimeout, std::size_t maxStackBytes)
{
    request.target.store(snapshot.threadId, std::memory_order_release);
    request.state.store(Requested, std::memory_order_release);
    if (syscall(SYS_tgkill, getpid(), pid_t(snapshot.threadId), SnapshotSignal()) != 0) {
        request.state.store(Idle, std::memory_order_release);
        request.target.store(0, std::memory_order_release);
        return;
    }
    const std::int64_t deadline =
        NowNanoseconds() + std::chrono::duration_cast<std::chrono::nanoseconds>(answerTimeout).count();
    int state = WaitWhileState(Requested, deadline);
    if (state == Requested) {
        int expected = Requested;
        if (request.state.compare_exchange_strong(expected, Idle, std::memory_order_acq_rel)) {
            request.target.store(0, std::memory_order_release);
            return; // no answer in time; a late handler finds nothing to claim
        }
        state = expected;
    }
    if (state == Copying) // claimed just now: copying registers takes microseconds
        state = WaitWhileState(Copying, NowNanoseconds() + 50000000);
    if (state == Answered) {
        snapshot.registers = request.registers;
        CopyStack(snapshot, map, maxStackBytes);
        snapshot.answered = !snapshot.stack.empty();
        request.state.store(Released, std::memory_order_release);
        FutexWake();
        WaitWhileState(Released, NowNanoseconds() + ReleaseWaitLimitNs);
    }
    request.target.store(0, std::memory_order_release);
    request.state.store(Idle, std::memory_order_release);
}

} // namespace

std::int64_t CurrentThreadId()
{
    return static_cast<std::int64_t>(syscall(SYS_gettid));
}

std::vector<ThreadSnapshot> SnapshotThreads(const std::vector<std::int64_t>& threadIds,
                                            std::chrono::milliseconds answerTimeout,
                                            std::size_t maxStackBytes)
{
    InstallHandlerOnce();
    std::lock_guard lock(requestMutex);
    const std::vector<MemoryRange> map = ReadMemoryMap();
    const std::int64_t self = CurrentThreadId();
    std::vector<ThreadSnapshot> snapshots;
    snapshots.reserve(threadIds.size());
    for (std::int64_t id : threadIds) {
        ThreadSnapshot& snapshot = snapshots.emplace_back();
        snapshot.threadId = id;
        if (id <= 0)
            continue;
        if (id == self)
            SnapshotSelf(snapshot, map, maxStackBytes);
        else
            SnapshotOther(snapshot, map, answerTimeout, maxStackBytes);
    }
    return snapshots;
}

} // namespace platform
