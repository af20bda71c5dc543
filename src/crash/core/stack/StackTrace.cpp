// The trace of one thread, phase by phase:
//   UnwindCallFrames          call-frame information from the captured registers (sure frames)
//   CollectPossibleStackItems candidates on the stack above the last sure frame, when the unwinder
//                             stopped short of the thread's start
//   RealizeOptimalLinkChains  the best-scoring chain through the candidates
//   FillFinalOutput           symbols for each frame, inlined frames expanded
//   ComposeResult             the listing and the checksum values
// A raise-time stack, when given, replaces the first three: its addresses are the frames. Symbols
// are looked up only after the chain is fixed, on addresses alone.

#include "crash/core/stack/StackTrace.h"

#include "crash/core/settings/CrashSettings.h"
#include "crash/core/stack/CfiUnwinder.h"
#include "crash/core/stack/Disassembly.h"
#include "crash/core/stack/ProcessModules.h"
#include "crash/core/stack/StackListing.h"
#include "crash/core/stack/StackScanner.h"
#include "platform/GuardedMemory.h"
#include "platform/ThreadSnapshot.h"

#include <mutex>
#include <stdexcept>
#include <unordered_map>

namespace crash::stack {
namespace {

std::mutex& TraceMutex()
{
    static std::mutex& mutex = *new std::mutex; // outlives the static teardown
    return mutex;
}

constexpr std::size_t MaxStackCopy = 8u << 20;

class ModuleCodeView : public CodeView
{
public:
    explicit ModuleCodeView(ProcessModules& modules) : modules_(modules) {}
    bool IsCode(std::uint64_t address) override { return modules_.IsCode(address); }
    std::uint64_t FunctionStart(std::uint64_t address) override
    {
        const ResolvedAddress& r = Resolve(address);
        return r.frames.empty() || r.frames.back().functionStart == 0
                   ? 0
                   : r.frames.back().functionStart + r.moduleBias;
    }
    bool HasLine(std::uint64_t address) override
    {
        const ResolvedAddress& r = Resolve(address);
        return !r.frames.empty() && r.frames.front().line > 0;
    }
    std::size_t ReadCode(std::uint64_t address, std::uint8_t* buffer, std::size_t size) override
    {
        return platform::ReadOwnMemory(address, buffer, size);
    }
    const ResolvedAddress& Resolve(std::uint64_t address)
    {
        auto it = cache_.find(address);
        if (it == cache_.end())
            it = cache_.emplace(address, modules_.Resolve(address)).first;
        return it->second;
    }

private:
    ProcessModules& modules_;
    std::unordered_map<std::uint64_t, ResolvedAddress> cache_;
};

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

std::vector<StackItem> CollectItems(ModuleCodeView& code, const ThreadCapture& capture,
                                    const TraceOptions& options, const char*& phase)
{
    std::vector<StackItem> items;
    items.reserve(64);
    if (options.startAddress != 0)
        items.push_back({options.startAddress, 0, true, true, std::nullopt});
    if (!options.raiseTimeStack.empty()) {
        for (std::uint64_t address : options.raiseTimeStack)
            items.push_back({address, 0, false, true, CallBefore(code, address)});
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
        StackItem item{f.pc, f.stackPointer, f.activation, true, std::nullopt};
        if (!f.activation)
            item.call = CallBefore(code, f.pc);
        items.push_back(item);
    }
    if (items.empty())
        items.push_back({capture.context.rip, 0, true, true, std::nullopt});
    Progress(options, 25);
    if (cfi.complete || Cancelled(options))
        return items;

    phase = "CollectPossibleStackItems";
    const std::uint64_t from = cfi.frames.empty() ? capture.context.rsp : cfi.frames.back().stackPointer;
    const std::vector<StackItem> candidates = ScanCandidates(code, capture, from, options.cancel);
    Progress(options, 100);
    if (Cancelled(options))
        return items;

    phase = "RealizeOptimalLinkChains";
    const std::vector<StackItem> chain = ChooseChain(code, items.back(), candidates, options.cancel);
    items.insert(items.end(), chain.begin(), chain.end());
    return items;
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
    const char* phase = "CollectPossibleStackItems";
    try {
        ProcessModules& modules = Modules();
        modules.BeginTrace();
        ModuleCodeView code(modules);
        Progress(options, 0);
        std::vector<StackItem> items = CollectItems(code, capture, options, phase);
        RemoveRecursiveAreas(items);
        Progress(options, 650);

        phase = "FillFinalOutput";
        std::vector<StackEntry> listed;
        std::uint64_t previousShown = 0;
        for (std::size_t i = 0; i < items.size() && !Cancelled(options); ++i) {
            std::vector<StackEntry> entries = EntriesOf(code, items[i]);
            const bool exceptionLocation = i == 0 && options.startAddress != 0;
            // A scanned duplicate of the frame before adds nothing; a sure frame with the same
            // address is a direct recursion and stays.
            if (!exceptionLocation && i > 0 && !items[i].strong && entries.front().address == previousShown)
                continue;
            previousShown = entries.front().address;
            for (auto& e : entries) {
                if (exceptionLocation || (!e.function.isEmpty() && (e.line > 0 || !options.hideUglyItems)))
                    listed.push_back(std::move(e));
            }
            Progress(options, 650 + int(350 * (i + 1) / items.size()));
        }
        if (options.hideThrowHelpers)
            HideThrowHelpers(listed);
        if (options.creationAddress) {
            StackItem creation{*options.creationAddress, 0, true, true, std::nullopt};
            auto entries = EntriesOf(code, creation);
            listed.push_back(entries.front()); // always at least one entry
        }

        phase = "ComposeResult";
        result.listing = ComposeListing(listed, options.showRelAddrs, options.showRelLines);
        ChecksumEntries(listed, result.firstEntryValue, result.runningCrc, result.hasLineInfo);
        result.entries = std::move(listed);
    } catch (const std::exception& error) {
        result.listing = QStringLiteral(">> internal error in %1:\r\n%2")
                             .arg(QLatin1String(phase), QString::fromLocal8Bit(error.what()));
    } catch (...) {
        result.listing = QStringLiteral(">> internal error in %1").arg(QLatin1String(phase));
    }
    Progress(options, 1000);
    return result;
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
