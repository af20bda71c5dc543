#pragma once
// The call-stack tracer's public face: what the report and the handling flow hand it and get back.
// Capture (registers and a copy of each thread's stack) is separated from tracing (turning a
// capture into frames) and from symbolising, so a capture can be taken quickly while threads are
// briefly stopped, and the slow work runs afterwards on addresses only.

#include <QString>
#include <QStringList>
#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace crash {
class CrashSettings;
}

namespace crash::stack {

// The registers of one thread at one moment (x86-64, general-purpose and instruction pointer).
struct CpuContext
{
    std::uint64_t rax = 0, rbx = 0, rcx = 0, rdx = 0, rsi = 0, rdi = 0, rip = 0, rsp = 0, rbp = 0;
    std::uint64_t r8 = 0, r9 = 0, r10 = 0, r11 = 0, r12 = 0, r13 = 0, r14 = 0, r15 = 0;
};

// One thread as captured: its registers and a copy of its used stack [stackPointer, stackTop).
struct ThreadCapture
{
    std::int64_t threadId = 0;
    bool accessible = false; // false: the thread did not answer or its stack could not be read
    CpuContext context;
    std::uint64_t stackTop = 0; // highest address of the stack mapping
    std::vector<std::uint8_t> stack;
};

// Captures the given threads of this process (kernel thread ids). The calling thread may be among
// them; a thread that does not answer within 100 ms comes back with accessible == false.
std::vector<ThreadCapture> CaptureThreads(const std::vector<std::int64_t>& threadIds);

// One listed frame.
struct StackEntry
{
    std::uint64_t address = 0;
    std::uint64_t functionStart = 0; // 0 when unknown
    QString module;                  // file name without folder; "???" when in no module
    QString unit;                    // source file name without folder and extension
    int line = 0;                    // 0 when unknown
    int relativeLine = -1;           // line minus the function's first line; -1 when unknown
    QString function;                // demangled, without parameter list
    bool inlined = false;            // an inlined frame expanded from the entry after it
    QString note;                    // a line of its own before the entry (">> created by ...")
};

constexpr std::uint64_t RaiseStackGap = 0;

struct TraceOptions
{
    bool showRelAddrs = false;
    bool showRelLines = false;
    bool hideUglyItems = false;
    std::uint64_t startAddress = 0; // the exception address; 0 = none
    // The start address is a call the thread made (a throw, the runtime's fatal-error routine): the
    // frames inside that call are the runtime's and the reporter's, and are left out.
    bool startIsCall = false;
    // Return addresses captured at throw time, innermost first. A deep stack keeps its innermost
    // and outermost frames: between them stand RaiseStackGap and the number of frames left out.
    std::vector<std::uint64_t> raiseTimeStack;
    std::optional<std::uint64_t> creationAddress; // the creating call, listed last (forced)
    QString creator;                              // who made the creating call, for the line before it
    const std::atomic<bool>* cancel = nullptr;
    std::function<void(int thousandths)> progress;
    // Off: frames come from the stack scan alone (what happens where call-frame information is
    // missing); for checking the scan.
    bool useCallFrameInfo = true;
    // Leave out the runtime's throw helpers (__cxa_throw, __cxa_rethrow, _Unwind_RaiseException,
    // ...) and the frames they called, as a stack taken while throwing ends in them.
    bool hideThrowHelpers = false;
};

struct TraceResult
{
    QString listing; // one formatted line per entry, CR LF separated; or ">> internal error in ..."
    std::vector<StackEntry> entries;
    // For the report's call-stack checksums.
    std::uint32_t firstEntryValue = 0;
    std::uint32_t runningCrc = 0;
    bool hasLineInfo = false;
};

TraceResult TraceStack(const ThreadCapture& capture, const TraceOptions& options);

// The single-address form (exception location, creation address).
QString FormatAddress(std::uint64_t address, bool showRelAddrs, bool showRelLines);

// The call instruction that `returnAddress` follows; `returnAddress - 1` when no call decodes there.
std::uint64_t CallSiteOf(std::uint64_t returnAddress);

// The "disassembling" section around `address`, as FormatDisAsm/LimitDisAsm ask; empty when the
// code cannot be read.
QString DisassembleAround(std::uint64_t address, const CrashSettings& settings);

} // namespace crash::stack
