// Snapshot handshake. The tracer parks a batch of threads at once, copies their stacks while all
// of them stand still (one consistent moment, and one scheduling delay instead of one per thread),
// then lets them go. Each thread of a batch has a request slot in static storage, so a thread that
// answers late never writes into freed memory. The tracer names the thread in its slot and sends
// it a real-time signal with tgkill. The handler finds its slot, claims it (compare-and-swap from
// Requested to Copying), copies its interrupted registers, publishes Answered and waits on the
// slot's futex until the tracer has copied its stack (Released), then reports Left and returns.
// The tracer gives up on a thread after the answer timeout by taking its request back
// (Requested -> Idle); a handler that arrives after that finds nothing to claim. Every wait on
// either side has a deadline, so neither side can hang the other. While threads are parked the
// tracer does not allocate (a parked thread may hold the allocator's lock): copy buffers are
// reserved before the first signal.

#include "platform/ThreadSnapshot.h"

#include "platform/GuardedMemory.h"
#include "platform/MemoryMap.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <memory>
#include <linux/futex.h>
#include <mutex>
#include <sys/syscall.h>
#include <time.h>
#include <ucontext.h>
#include <unistd.h>

namespace platform {
namespace {

enum State : int { Idle, Requested, Copying, Answered, Released, Left };

struct Slot
{
    std::atomic<int> state{Idle};
    std::atomic<std::int64_t> target{0};
    ThreadRegisters registers;
};

constexpr std::size_t BatchSize = 64;
Slot slots[BatchSize];
std::mutex batchMutex;

static_assert(sizeof(std::atomic<int>) == sizeof(int), "futex word");

int* FutexWord(Slot& slot)
{
    return reinterpret_cast<int*>(&slot.state);
}

void FutexWake(Slot& slot)
{
    syscall(SYS_futex, FutexWord(slot), FUTEX_WAKE_PRIVATE, INT32_MAX, nullptr, nullptr, 0);
}

std::int64_t NowNanoseconds()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return std::int64_t(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// Waits until the slot's state is no longer `from`, at most until `deadline` (monotonic ns).
// Async-signal-safe.
int WaitWhileState(Slot& slot, int from, std::int64_t deadline)
{
    for (;;) {
        const int now = slot.state.load(std::memory_order_acquire);
        if (now != from)
            return now;
        const std::int64_t left = deadline - NowNanoseconds();
        if (left <= 0)
            return now;
        timespec wait{left / 1000000000, left % 1000000000};
        syscall(SYS_futex, FutexWord(slot), FUTEX_WAIT_PRIVATE, from, &wait, nullptr, 0);
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
    for (Slot& slot : slots) {
        int expected = Requested;
        if (slot.target.load(std::memory_order_acquire) != self ||
            !slot.state.compare_exchange_strong(expected, Copying, std::memory_order_acq_rel))
            continue;
        slot.registers = RegistersOf(static_cast<ucontext_t*>(context)->uc_mcontext);
        slot.state.store(Answered, std::memory_order_release);
        FutexWake(slot);
        WaitWhileState(slot, Answered, NowNanoseconds() + ReleaseWaitLimitNs);
        slot.state.store(Left, std::memory_order_release);
        FutexWake(slot);
        break;
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

// Copies [sp, end of its mapping) into `buffer` (room for `room` bytes); returns the bytes copied.
std::size_t CopyStack(std::uint64_t sp, const std::vector<MemoryRange>& map, std::uint8_t* buffer,
                      std::size_t room, std::uint64_t& stackTop)
{
    const auto mapping = MappingContaining(map, sp);
    if (!mapping)
        return 0;
    stackTop = mapping->end;
    return ReadOwnMemory(sp, buffer, std::min<std::uint64_t>(mapping->end - sp, room));
}

// The calling thread's registers as they are inside this call; kept out of line so the frame it
// describes stays alive (and unchanged above its stack pointer) while the stack is copied.
[[gnu::noinline]] void SnapshotSelf(ThreadSnapshot& snapshot, const std::vector<MemoryRange>& map,
                                    std::size_t maxStackBytes)
{
    std::unique_ptr<std::uint8_t[]> buffer(new std::uint8_t[maxStackBytes]);
    ucontext_t context;
    if (getcontext(&context) != 0)
        return;
    snapshot.registers = RegistersOf(context.uc_mcontext);
    const std::size_t copied =
        CopyStack(snapshot.registers.rsp, map, buffer.get(), maxStackBytes, snapshot.stackTop);
    snapshot.stack.assign(buffer.get(), buffer.get() + copied);
    snapshot.answered = copied > 0;
    asm volatile("" ::: "memory"); // keep the frame until the copy is done
}

// Parks up to BatchSize other threads together, copies their stacks, releases them.
void SnapshotBatch(std::vector<ThreadSnapshot*>& batch, const std::vector<MemoryRange>& map,
                   std::chrono::milliseconds answerTimeout, std::size_t maxStackBytes)
{
    // Reserved now: nothing is allocated while threads are parked. Untouched pages cost nothing.
    std::vector<std::unique_ptr<std::uint8_t[]>> buffers;
    buffers.reserve(batch.size());
    for (std::size_t i = 0; i < batch.size(); ++i)
        buffers.emplace_back(new std::uint8_t[maxStackBytes]);
    std::vector<std::size_t> copied(batch.size(), 0);
    std::vector<bool> signalled(batch.size(), false), answered(batch.size(), false);

    const pid_t process = getpid();
    for (std::size_t i = 0; i < batch.size(); ++i) {
        Slot& slot = slots[i];
        slot.target.store(batch[i]->threadId, std::memory_order_release);
        slot.state.store(Requested, std::memory_order_release);
        signalled[i] = syscall(SYS_tgkill, process, pid_t(batch[i]->threadId), SnapshotSignal()) == 0;
        if (!signalled[i]) {
            slot.state.store(Idle, std::memory_order_release);
            slot.target.store(0, std::memory_order_release);
        }
    }
    const std::int64_t deadline =
        NowNanoseconds() + std::chrono::duration_cast<std::chrono::nanoseconds>(answerTimeout).count();
    for (std::size_t i = 0; i < batch.size(); ++i) {
        if (!signalled[i])
            continue;
        Slot& slot = slots[i];
        int state = WaitWhileState(slot, Requested, deadline);
        if (state == Requested) {
            int expected = Requested;
            if (slot.state.compare_exchange_strong(expected, Idle, std::memory_order_acq_rel))
                continue; // no answer in time; a late handler finds nothing to claim
            state = expected;
        }
        if (state == Copying) // claimed just now: copying registers takes microseconds
            state = WaitWhileState(slot, Copying, NowNanoseconds() + 50000000);
        answered[i] = state == Answered;
    }
    for (std::size_t i = 0; i < batch.size(); ++i) {
        if (!answered[i])
            continue;
        batch[i]->registers = slots[i].registers;
        copied[i] = CopyStack(batch[i]->registers.rsp, map, buffers[i].get(), maxStackBytes, batch[i]->stackTop);
    }
    for (std::size_t i = 0; i < batch.size(); ++i) {
        if (!answered[i])
            continue;
        slots[i].state.store(Released, std::memory_order_release);
        FutexWake(slots[i]);
    }
    for (std::size_t i = 0; i < batch.size(); ++i) {
        if (answered[i])
            WaitWhileState(slots[i], Released, NowNanoseconds() + ReleaseWaitLimitNs);
        slots[i].target.store(0, std::memory_order_release);
        slots[i].state.store(Idle, std::memory_order_release);
    }
    // The threads run on; now the copies can be sized.
    for (std::size_t i = 0; i < batch.size(); ++i) {
        batch[i]->stack.assign(buffers[i].get(), buffers[i].get() + copied[i]);
        batch[i]->answered = answered[i] && copied[i] > 0;
    }
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
    std::lock_guard lock(batchMutex);
    const std::vector<MemoryRange> map = ReadMemoryMap();
    const std::int64_t self = CurrentThreadId();
    std::vector<ThreadSnapshot> snapshots(threadIds.size());
    std::vector<ThreadSnapshot*> batch;
    batch.reserve(BatchSize);
    for (std::size_t i = 0; i < threadIds.size(); ++i) {
        snapshots[i].threadId = threadIds[i];
        if (threadIds[i] <= 0)
            continue;
        if (threadIds[i] == self) {
            SnapshotSelf(snapshots[i], map, maxStackBytes);
            continue;
        }
        batch.push_back(&snapshots[i]);
        if (batch.size() == BatchSize) {
            SnapshotBatch(batch, map, answerTimeout, maxStackBytes);
            batch.clear();
        }
    }
    if (!batch.empty())
        SnapshotBatch(batch, map, answerTimeout, maxStackBytes);
    return snapshots;
}

} // namespace platform
