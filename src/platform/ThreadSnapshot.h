#pragma once
// Registers and a copy of the used stack of other threads of this process, taken while each thread
// is briefly parked in a signal handler. Nothing but the copy happens while a thread is parked;
// everything slow (unwinding, symbols) works on the copies afterwards while the threads run on.

#include <chrono>
#include <cstdint>
#include <vector>

namespace platform {

// x86-64 general-purpose registers and the instruction pointer.
struct ThreadRegisters
{
    std::uint64_t rax = 0, rbx = 0, rcx = 0, rdx = 0, rsi = 0, rdi = 0, rip = 0, rsp = 0, rbp = 0;
    std::uint64_t r8 = 0, r9 = 0, r10 = 0, r11 = 0, r12 = 0, r13 = 0, r14 = 0, r15 = 0;
};

struct ThreadSnapshot
{
    std::int64_t threadId = 0;
    bool answered = false; // false: no such thread, signal blocked, or no answer in time
    ThreadRegisters registers;
    std::uint64_t stackTop = 0;      // end of the mapping that holds the stack pointer
    std::vector<std::uint8_t> stack; // bytes [registers.rsp, rsp + stack.size())
};

// Takes snapshots of the given threads (kernel thread ids) one after the other. The calling thread
// may be among them (its registers are those inside this call). A thread that does not answer
// within `answerTimeout` comes back with answered == false. At most `maxStackBytes` are copied.
std::vector<ThreadSnapshot> SnapshotThreads(const std::vector<std::int64_t>& threadIds,
                                            std::chrono::milliseconds answerTimeout,
                                            std::size_t maxStackBytes);

// The kernel id of the calling thread.
std::int64_t CurrentThreadId();

} // namespace platform
