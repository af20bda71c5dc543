#pragma once
// Processor faults and abort signals, delivered to one callback on the faulting thread.
//
// The handler runs on the thread's alternate signal stack (see AltSignalStack.h) so even a stack
// overflow reaches it. It copies the registers into a plain record and calls the callback; the
// callback may throw a C++ exception (the project is compiled with -fnon-call-exceptions, and the
// unwinder steps through the signal frame), or return, in which case the default action of the
// signal runs. Everything here is async-signal-safe: no allocation, no locks.

#include <cstdint>

namespace platform {

enum class FaultKind
{
    Access,     // SIGSEGV
    Bus,        // SIGBUS
    Arithmetic, // SIGFPE
    Illegal,    // SIGILL
    Abort       // SIGABRT
};

struct FaultRecord
{
    FaultKind kind = FaultKind::Access;
    int signal = 0;
    int code = 0;                     // si_code
    bool integerDivide = false;       // SIGFPE from an integer division
    bool privileged = false;          // SIGILL from a privileged instruction, SIGSEGV from a protected one
    bool sentByProcess = false;       // raised by kill/abort rather than by the processor
    bool write = false;               // the faulting access was a write
    std::uintptr_t accessAddress = 0; // si_addr
    std::int64_t threadId = 0;
    // rax, rbx, rcx, rdx, rsi, rdi, rip, rsp, rbp, r8 .. r15
    std::uint64_t registers[17] = {};
};

using FaultCallback = void (*)(const FaultRecord& fault);

// Installs the handler for SIGSEGV, SIGBUS, SIGFPE, SIGILL and SIGABRT. The callback is the only one.
bool InstallFaultHandlers(FaultCallback callback);
// Puts the default actions back.
void RemoveFaultHandlers();

// Unblocks `signal` for this thread, so a fault after leaving its handler by an exception is caught.
void UnblockSignal(int signal) noexcept;

// The kernel id of the calling thread (async-signal-safe).
std::int64_t CurrentKernelThreadId() noexcept;

// Address ranges of code, computed once at start-up so the signal handler can classify addresses.
struct CodeRanges
{
    struct Range
    {
        std::uintptr_t begin = 0, end = 0;
    };
    static constexpr int kMax = 8;
    Range executable[kMax];
    int executableCount = 0;
    Range loader[kMax];
    int loaderCount = 0;
    Range cLibrary[kMax];
    int cLibraryCount = 0;
    static constexpr int kMaxAllocator = 12;
    Range allocator[kMaxAllocator]; // the C library's malloc family
    int allocatorCount = 0;

    bool inExecutable(std::uintptr_t a) const noexcept { return In(executable, executableCount, a); }
    bool inLoader(std::uintptr_t a) const noexcept { return In(loader, loaderCount, a); }
    bool inCLibrary(std::uintptr_t a) const noexcept { return In(cLibrary, cLibraryCount, a); }
    bool inAllocator(std::uintptr_t a) const noexcept { return In(allocator, allocatorCount, a); }

private:
    static bool In(const Range* r, int n, std::uintptr_t a) noexcept
    {
        for (int i = 0; i < n; ++i)
            if (a >= r[i].begin && a < r[i].end)
                return true;
        return false;
    }
};
// The executable segments of the main program, of ld.so and of libc, and libc's malloc family.
CodeRanges ComputeCodeRanges();

// Whether a fault at `rip` with stack pointer `rsp` interrupted the C library's allocator, which
// may hold its lock then: `rip` lies in it, or in libc with a return into it on the nearby stack.
// Async-signal-safe: the stack is read through checked reads.
bool AllocatorWasActive(const CodeRanges& ranges, std::uintptr_t rip, std::uintptr_t rsp) noexcept;

// Whether thread `threadId` of this process waits for a lock inside the allocator, as /proc lists
// its system call. A thread that runs is not waiting. Async-signal-safe.
bool ThreadWaitsInAllocator(const CodeRanges& ranges, std::int64_t threadId) noexcept;
// The same for a thread interrupted at `pc` with stack pointer `sp` (a signal handler's own thread):
// the interrupted instruction is a system call's.
bool InterruptedWaitInAllocator(const CodeRanges& ranges, std::uintptr_t pc, std::uintptr_t sp) noexcept;

// The exported function of the module loaded at `base` (its ELF header's address) that holds
// `address`, from the module's dynamic symbol table; null when none does. `start` gets the
// function's first address. Async-signal-safe.
const char* ExportedFunctionAt(std::uintptr_t base, std::uintptr_t address, std::uintptr_t& start) noexcept;

// Calls `tick` every `periodMs`, on whichever thread takes the timer signal, with that thread's id
// and where it was interrupted, until stopped. The tick runs in a signal handler.
struct InterruptedThread
{
    std::int64_t threadId = 0;
    std::uintptr_t pc = 0, sp = 0;
};
using TimerTick = void (*)(const InterruptedThread& thread);
void StartTimerTicks(TimerTick tick, int periodMs) noexcept;
void StopTimerTicks() noexcept;

// Aborts through the C library (default SIGABRT action), bypassing nothing.
[[noreturn]] void RaiseAbort();

} // namespace platform
