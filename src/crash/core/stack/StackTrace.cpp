// The trace of one thread, phase by phase (the names appear in the internal-error line):
//   UnwindCallFrames          call-frame information from the captured registers (sure frames)
//   CollectPossibleStackItems where the unwinder stopped short of the thread's start: the frames of
//                             the frame-pointer chain (anchors) and the candidates of the stack scan
//                             above the last sure frame
//   RemoveRecursiveStackAreas the middle of a long recursion among those candidates dropped
//   InDeepChecks              each candidate's call located in its function; those without one go
//   RealizeOptimalLinkChains  the best-scoring chains between the anchors and above the last one
//   RemoveRecursiveAreas      a long recursion listed in reduced form: its first and last frames
//                             and a line with the number left out
//   FillFinalOutput           symbols for each frame, inlined frames expanded
//   ComposeResult             the listing and the checksum values
// A raise-time stack, when given, replaces the first five: its addresses are the frames. Symbols
// are looked up only after the chain is fixed, on addresses alone. A fault or exception inside a
// phase ends the trace: what was listed so far stays, followed by the internal-error line.

#include "crash/core/stack/StackTrace.h"

#include "crash/core/settings/CrashSettings.h"
#include "crash/core/stack/CfiUnwinder.h"
#include "crash/core/stack/Disassembly.h"
#include "crash/core/stack/FramePointerChain.h"
#include "crash/core/stack/ModuleCodeView.h"
#include "crash/core/stack/OptimalChains.h"
#include "crash/core/stack/ProcessModules.h"
#include "crash/core/stack/StackListing.h"
#include "crash/core/stack/StackScanner.h"
#include "crash/core/stack/TailCallReach.h"
#include "platform/ThreadSnapshot.h"

#include <mutex>
#include <stdexcept>
#include <utility>

namespace crash::stack {
namespace {

std::mutex& TraceMutex()
{
    static std::mutex& mutex = *new std::mutex; // outlives the static teardown
    return mutex;
}

constexpr std::size_t MaxStackCopy = 8u << 20;

// A run of frames repeated this often is a recursion; its first and last copies are listed.
constexpr int RecursionRepeats = 8;
constexpr int RecursionKeptCopies = 2;

bool Cancelled(const TraceOptions& options)
{
    return options.cancel != nullptr && options.cancel->load(std::memory_order_relaxed);
}

void Progress(const TraceOptions& options, int thousandths)
{
    if (options.progress)
        options.progress(thousandths);
}

// The entries of one item: one per inlining level, innermost first.
std::vector<StackEntry> EntriesOf(ModuleCodeView& code, const StackItem& item)
{
    const std::uint64_t shown = item.call ? item.call->address : item.address;
    const ResolvedAddress& r = code.Resolve(item.activation ? item.address : item.address - 1);
    std::vector<StackEntry> entries;
    if (r.frames.empty()) {
        StackEntry e;
        e.address = shown;
        e.module = r.inModule ? QString::fromStdString(r.module) : QStringLiteral("???");
        entries.push_back(e);
        return entries;
    }
    for (const SymbolFrame& f : r.frames) {
        StackEntry e;
        e.address = shown;
        e.functionStart = f.functionStart != 0 ? f.functionStart + r.moduleBias : 0;
        e.module = QString::fromStdString(r.module);
        e.unit = QString::fromStdString(f.unit);
        e.line = f.line;
        e.relativeLine = f.line > 0 && f.firstLine > 0 && f.line >= f.firstLine ? f.line - f.firstLine : -1;
        e.function = QString::fromStdString(f.function);
        e.inlined = f.inlined;
        entries.push_back(e);
    }
    return entries;
}

// Both lists in stack order; an anchor wins over a candidate in the same slot.
std::vector<StackItem> MergeBySlot(const std::vector<StackItem>& anchors,
                                   const std::vector<StackItem>& candidates)
{
    std::vector<StackItem> merged;
    merged.reserve(anchors.size() + candidates.size());
    std::size_t a = 0;
    for (const StackItem& candidate : candidates) {
        while (a < anchors.size() && anchors[a].slot < candidate.slot)
            merged.push_back(anchors[a++]);
        if (a < anchors.size() && anchors[a].slot == candidate.slot)
            continue;
        merged.push_back(candidate);
    }
    merged.insert(merged.end(), anchors.begin() + std::ptrdiff_t(a), anchors.end());
    return merged;
}

// Frame-pointer frames above `fromSlot`, from the rbp the unwinder ended with and from the captured
// rbp (the same chain, unless the unwinder lost track of rbp on the way).
std::vector<StackItem> FramePointerFrames(FunctionCache& functions, const ThreadCapture& capture,
                                          const CfiResult& cfi, std::uint64_t fromSlot)
{
    std::vector<StackItem> frames;
    std::optional<std::uint64_t> unwound;
    if (!cfi.frames.empty())
        unwound = cfi.frames.back().framePointer;
    if (unwound)
        frames = WalkFramePointers(functions, capture, *unwound, fromSlot);
    if (!unwound || *unwound != capture.context.rbp)
        frames = MergeBySlot(frames, WalkFramePointers(functions, capture, capture.context.rbp, fromSlot));
    return frames;
}

// The chain keeps a subset of `candidates` (both in stack order); what the dropped ones counted as
// left out moves to the next kept item.
void CarryLeftOutCounts(const std::vector<StackItem>& candidates, std::vector<StackItem>& chain)
{
    std::uint64_t carried = 0;
    std::size_t next = 0;
    for (const StackItem& candidate : candidates) {
        carried += candidate.leftOutBefore;
        if (next < chain.size() && chain[next].slot == candidate.slot &&
            chain[next].address == candidate.address) {
            chain[next++].leftOutBefore = std::exchange(carried, 0);
        }
    }
}

std::vector<StackItem> CollectItems(ModuleCodeView& code, const ThreadCapture& capture,
                                    const TraceOptions& options, const char*& phase)
{
    std::vector<StackItem> items;
    items.reserve(64);
    if (options.startAddress != 0)
        items.push_back({options.startAddress, 0, true, true, std::nullopt});
    if (!options.raiseTimeStack.empty()) {
        const std::vector<std::uint64_t>& raised = options.raiseTimeStack;
        std::uint64_t leftOut = 0;
        for (std::size_t i = 0; i < raised.size(); ++i) {
            if (raised[i] == RaiseStackGap) {
                leftOut += i + 1 < raised.size() ? raised[++i] : 0;
                continue;
            }
            items.push_back({raised[i], 0, false, true, CallBefore(code, raised[i])});
            items.back().leftOutBefore = std::exchange(leftOut, 0);
        }
        return items;
    }
    if (!capture.accessible || capture.stack.empty())
        return {};

    phase = "UnwindCallFrames";
    CfiResult cfi;
    if (options.useCallFrameInfo)
        cfi = UnwindWithCfi(Modules(), capture);
    for (std::size_t i = 0; i < cfi.frames.size(); ++i) {
        const CfiFrame& f = cfi.frames[i];
        if (i == 0 && !items.empty() && items[0].address == f.pc)
            continue;
        // A caller's return address lies just below the stack pointer the unwinder gives its frame.
        StackItem item{f.pc, f.activation || f.stackPointer < 8 ? 0 : f.stackPointer - 8, f.activation, true,
                       std::nullopt};
        if (!f.activation)
            item.call = CallBefore(code, f.pc);
        items.push_back(item);
    }
    if (items.empty())
        items.push_back({capture.context.rip, 0, true, true, std::nullopt});
    if (cfi.complete || Cancelled(options)) {
        Progress(options, 25);
        return items;
    }

    phase = "CollectPossibleStackItems";
    const std::uint64_t from = cfi.frames.empty() ? capture.context.rsp : cfi.frames.back().stackPointer;
    FunctionCache functions(code);
    std::vector<StackItem> above = MergeBySlot(FramePointerFrames(functions, capture, cfi, from),
                                               ScanCandidates(code, capture, from, options.cancel));
    Progress(options, 25);
    if (Cancelled(options))
        return items;

    // A deep recursion leaves thousands of candidates; its middle copies are dropped before the
    // deep checks and the chains, whose cost grows with the candidates.
    phase = "RemoveRecursiveStackAreas";
    RemoveRecursiveAreas(above, RecursionRepeats, RecursionKeptCopies, RecursionKeptCopies);

    phase = "InDeepChecks";
    ConfirmCalls(functions, above, options.cancel,
                 [&](int done) { Progress(options, 25 + done * 625 / 1000); });

    phase = "RealizeOptimalLinkChains";
    above.insert(above.begin(), items.back());
    std::vector<StackItem> chain = RealizeOptimalLinkChains(functions, above, options.cancel);
    CarryLeftOutCounts(above, chain);
    items.insert(items.end(), chain.begin() + 1, chain.end());
    return items;
}

// The frames inside the exception location are the raising machinery: the throw routine, the
// signal handler that turned a fault into an exception, the runtime's fatal-error routine and the
// reporter's handling. The location stands for the frame that made the call, so that frame goes too.
void LeaveOutFramesInsideTheLocation(std::vector<StackItem>& items, const TraceOptions& options)
{
    const bool raised = !options.raiseTimeStack.empty();
    if (options.startAddress == 0 || items.empty() || (!raised && !options.startIsCall))
        return;
    for (std::size_t i = 1; i < items.size(); ++i) {
        const StackItem& item = items[i];
        const bool sameCall = item.call && item.call->address == options.startAddress;
        // A fault's raise-time stack holds the interrupted instruction itself.
        const bool sameInstruction = raised && !options.startIsCall && item.address == options.startAddress;
        if (sameCall || sameInstruction) {
            items.erase(items.begin() + 1, items.begin() + std::ptrdiff_t(i + 1));
            return;
        }
    }
}

// A call from a function to itself: each item of a direct recursion shows the same address.
bool IsDirectRecursion(CodeView& code, const StackItem& item)
{
    if (!item.call || !item.call->target || item.activation)
        return false;
    const std::uint64_t function = code.FunctionStart(item.address - 1);
    return function != 0 && FollowJumps(code, *item.call->target) == function;
}

QString LeftOutLine(std::uint64_t frames)
{
    return QStringLiteral(">> %1 frames left out").arg(frames);
}

bool IsThrowHelper(const QString& function)
{
    static const QStringList& helpers = *new QStringList{QStringLiteral("__cxa_throw"),
                                                         QStringLiteral("__cxa_rethrow"),
                                                         QStringLiteral("_Unwind_RaiseException"),
                                                         QStringLiteral("_Unwind_Resume"),
                                                         QStringLiteral("_Unwind_Resume_or_Rethrow"),
                                                         QStringLiteral("std::rethrow_exception")};
    // Sanitizer builds wrap them: "__interceptor___cxa_throw".
    QString name = function;
    if (name.startsWith(QLatin1String("__interceptor_")))
        name.remove(0, 14);
    return helpers.contains(name);
}

// Drops the outermost throw helper and everything it called.
void HideThrowHelpers(std::vector<StackEntry>& entries)
{
    for (std::size_t i = entries.size(); i-- > 0;) {
        if (IsThrowHelper(entries[i].function)) {
            entries.erase(entries.begin(), entries.begin() + std::ptrdiff_t(i + 1));
            return;
        }
    }
}

void Compose(TraceResult& result, std::vector<StackEntry> listed, const TraceOptions& options)
{
    result.listing = ComposeListing(listed, options.showRelAddrs, options.showRelLines);
    ChecksumEntries(listed, result.firstEntryValue, result.runningCrc, result.hasLineInfo);
    result.entries = std::move(listed);
}

// The frames listed before the failure stay; the line after them names the phase and, as far as
// the error tells it, where it happened (a fault's message names the address and module).
void EndWithInternalError(TraceResult& result, std::vector<StackEntry> listed, const TraceOptions& options,
                          const char* phase, const QString& location)
{
    result = {};
    try {
        Compose(result, std::move(listed), options);
    } catch (...) {
        result = {};
    }
    if (!result.listing.isEmpty())
        result.listing += QLatin1String("\r\n");
    result.listing += QLatin1String(">> internal error in ") + QLatin1String(phase) + QLatin1Char(':');
    if (!location.isEmpty())
        result.listing += QLatin1Char(' ') + location;
}

} // namespace

std::vector<ThreadCapture> CaptureThreads(const std::vector<std::int64_t>& threadIds)
{
    const auto snapshots = platform::SnapshotThreads(threadIds, std::chrono::milliseconds(100), MaxStackCopy);
    std::vector<ThreadCapture> captures;
    captures.reserve(snapshots.size());
    for (const auto& s : snapshots) {
        ThreadCapture c;
        c.threadId = s.threadId;
        c.accessible = s.answered;
        const auto& r = s.registers;
        c.context = {r.rax, r.rbx, r.rcx, r.rdx, r.rsi, r.rdi, r.rip, r.rsp, r.rbp,
                     r.r8,  r.r9,  r.r10, r.r11, r.r12, r.r13, r.r14, r.r15};
        c.stackTop = s.stackTop;
        c.stack = std::move(s.stack);
        captures.push_back(std::move(c));
    }
    return captures;
}

TraceResult TraceStack(const ThreadCapture& capture, const TraceOptions& options)
{
    std::lock_guard lock(TraceMutex());
    TraceResult result;
    std::vector<StackEntry> listed;
    const char* phase = "CollectPossibleStackItems";
    try {
        ProcessModules& modules = Modules();
        modules.BeginTrace();
        ModuleCodeView code(modules);
        Progress(options, 0);
        std::vector<StackItem> items = CollectItems(code, capture, options, phase);
        LeaveOutFramesInsideTheLocation(items, options);
        phase = "RemoveRecursiveAreas";
        RemoveRecursiveAreas(items, RecursionRepeats, RecursionKeptCopies, RecursionKeptCopies);
        Progress(options, 650);

        phase = "FillFinalOutput";
        std::uint64_t previousShown = 0;
        std::uint64_t leftOut = 0;
        for (std::size_t i = 0; i < items.size() && !Cancelled(options); ++i) {
            leftOut += items[i].leftOutBefore;
            std::vector<StackEntry> entries = EntriesOf(code, items[i]);
            const bool exceptionLocation = i == 0 && options.startAddress != 0;
            // A scanned duplicate of the frame before adds nothing, unless the function calls
            // itself there; a sure frame with the same address is a direct recursion and stays.
            if (!exceptionLocation && i > 0 && !items[i].strong && entries.front().address == previousShown &&
                !IsDirectRecursion(code, items[i]))
                continue;
            previousShown = entries.front().address;
            for (auto& e : entries) {
                if (exceptionLocation || (!e.function.isEmpty() && (e.line > 0 || !options.hideUglyItems))) {
                    if (leftOut > 0)
                        e.note = LeftOutLine(std::exchange(leftOut, 0));
                    listed.push_back(std::move(e));
                }
            }
            Progress(options, 650 + int(350 * (i + 1) / items.size()));
        }
        if (options.hideThrowHelpers)
            HideThrowHelpers(listed);
        if (options.creationAddress) {
            // The creating call's return address, as the tracer's other frames.
            const std::uint64_t created = *options.creationAddress;
            StackItem creation{created, 0, false, true, CallBefore(code, created)};
            StackEntry entry = EntriesOf(code, creation).front(); // always at least one entry
            if (!options.creator.isEmpty())
                entry.note = QLatin1String(">> created by ") + options.creator + QLatin1String(" at:");
            listed.push_back(std::move(entry));
        }

        phase = "ComposeResult";
        Compose(result, std::move(listed), options);
    } catch (const std::exception& error) {
        EndWithInternalError(result, std::move(listed), options, phase, QString::fromLocal8Bit(error.what()));
    } catch (...) {
        EndWithInternalError(result, std::move(listed), options, phase, {});
    }
    try {
        Progress(options, 1000);
    } catch (...) { // the trace is done; a failing progress box takes nothing from it
    }
    return result;
}

std::uint64_t CallSiteOf(std::uint64_t returnAddress)
{
    std::lock_guard lock(TraceMutex());
    ModuleCodeView code(Modules());
    const std::optional<CallSite> call = CallBefore(code, returnAddress);
    return call ? call->address : returnAddress - 1;
}

QString FormatAddress(std::uint64_t address, bool showRelAddrs, bool showRelLines)
{
    std::lock_guard lock(TraceMutex());
    ModuleCodeView code(Modules());
    const auto entries = EntriesOf(code, StackItem{address, 0, true, true, std::nullopt});
    const StackEntry& innermost = entries.front();
    return FormatSingle(innermost, !innermost.function.isEmpty(), showRelAddrs, showRelLines);
}

} // namespace crash::stack

namespace crash::stack {

QString DisassembleAround(std::uint64_t address, const CrashSettings& settings)
{
    std::lock_guard lock(TraceMutex());
    return DisassembleFunction(address, settings.FormatDisAsm(), settings.LimitDisAsm());
}

} // namespace crash::stack
