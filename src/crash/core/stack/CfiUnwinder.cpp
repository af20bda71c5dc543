// libdw unwinds a "process" attached through callbacks. The process stays attached for the life
// of the Dwfl (attaching is once per Dwfl); each unwind points the callbacks at the capture being
// unwound. The register numbers are the DWARF ones of x86-64.

#include "crash/core/stack/CfiUnwinder.h"

#include "platform/GuardedMemory.h"
#include "platform/ProcessInfo.h"

#include <cstring>
#include <elfutils/libdwfl.h>

namespace crash::stack {

bool ReadStackWord(const ThreadCapture& capture, std::uint64_t address, std::uint64_t& value)
{
    const std::uint64_t base = capture.context.rsp;
    if (address >= base && address - base <= capture.stack.size() &&
        capture.stack.size() - (address - base) >= 8) {
        std::memcpy(&value, capture.stack.data() + (address - base), 8);
        return true;
    }
    return platform::ReadOwnMemory(address, &value, 8) == 8;
}

namespace {

struct AttachedState
{
    const ThreadCapture* capture = nullptr;
    bool attached = false;
};

AttachedState& State()
{
    static AttachedState& state = *new AttachedState; // outlives the static teardown
    return state;
}

pid_t NextThread(Dwfl*, void* arg, void** threadArg)
{
    // One thread per unwind: handed out once, then the list ends.
    auto* state = static_cast<AttachedState*>(arg);
    if (*threadArg != nullptr || state->capture == nullptr)
        return 0;
    *threadArg = state;
    return pid_t(state->capture->threadId);
}

bool GetThread(Dwfl*, pid_t tid, void* arg, void** threadArg)
{
    auto* state = static_cast<AttachedState*>(arg);
    if (state->capture == nullptr || pid_t(state->capture->threadId) != tid)
        return false;
    *threadArg = state;
    return true;
}

bool MemoryRead(Dwfl*, Dwarf_Addr address, Dwarf_Word* result, void* arg)
{
    auto* state = static_cast<AttachedState*>(arg);
    std::uint64_t value = 0;
    if (state->capture == nullptr || !ReadStackWord(*state->capture, address, value))
        return false;
    *result = value;
    return true;
}

bool SetInitialRegisters(Dwfl_Thread* thread, void* threadArg)
{
    const CpuContext& c = static_cast<AttachedState*>(threadArg)->capture->context;
    const Dwarf_Word regs[17] = {c.rax, c.rdx, c.rcx, c.rbx, c.rsi, c.rdi, c.rbp, c.rsp, c.r8,
                                 c.r9,  c.r10, c.r11, c.r12, c.r13, c.r14, c.r15, c.rip};
    if (!dwfl_thread_state_registers(thread, 0, 17, regs))
        return false;
    dwfl_thread_state_register_pc(thread, c.rip);
    return true;
}

const Dwfl_Thread_Callbacks threadCallbacks = {
    NextThread, GetThread, MemoryRead, SetInitialRegisters, nullptr, nullptr,
};

struct Collect
{
    CfiResult* result;
    std::size_t maxFrames;
};

int OnFrame(Dwfl_Frame* frame, void* arg)
{
    auto* collect = static_cast<Collect*>(arg);
    Dwarf_Addr pc = 0;
    bool activation = false;
    if (!dwfl_frame_pc(frame, &pc, &activation))
        return DWARF_CB_ABORT;
    CfiFrame out{pc, activation, 0, std::nullopt};
    Dwarf_Word sp = 0, bp = 0;
    if (dwfl_frame_reg(frame, 7, &sp) == 0)
        out.stackPointer = sp;
    if (dwfl_frame_reg(frame, 6, &bp) == 0)
        out.framePointer = bp;
    collect->result->frames.push_back(out);
    return collect->result->frames.size() >= collect->maxFrames ? DWARF_CB_ABORT : DWARF_CB_OK;
}

} // namespace

CfiResult UnwindWithCfi(ProcessModules& modules, const ThreadCapture& capture, std::size_t maxFrames)
{
    CfiResult result;
    Dwfl* dwfl = modules.dwfl();
    if (dwfl == nullptr || !capture.accessible)
        return result;
    AttachedState& state = State();
    if (!state.attached) {
        state.attached =
            dwfl_attach_state(dwfl, nullptr, pid_t(platform::CurrentProcessId()), &threadCallbacks, &state);
        if (!state.attached)
            return result;
    }
    state.capture = &capture;
    Collect collect{&result, maxFrames};
    const int rc = dwfl_getthread_frames(dwfl, pid_t(capture.threadId), OnFrame, &collect);
    state.capture = nullptr;
    // 0: the unwinder ran out of frames by itself (an undefined return address at thread start).
    result.complete = rc == 0 && !result.frames.empty();
    return result;
}

} // namespace crash::stack
