// Candidates come from the copy of the stack taken at capture time, never from the live stack,
// which the thread has changed since. The recursion reduction keeps the first copies of a repeated
// run, as debuggers list a few levels of a recursion in full, and on request the last ones, which
// lead to where the recursion was entered.

#include "crash/core/stack/StackScanner.h"

#include <cstring>
#include <unordered_map>
#include <utility>

namespace crash::stack {

std::optional<CallSite> CallBefore(CodeView& code, std::uint64_t returnAddress)
{
    if (returnAddress <= 7)
        return std::nullopt;
    std::uint8_t bytes[8];
    if (code.ReadCode(returnAddress - 8, bytes, 8) != 8)
        return std::nullopt;
    return DecodeCallBefore(returnAddress, bytes);
}

std::vector<StackItem> ScanCandidates(CodeView& code, const ThreadCapture& capture, std::uint64_t fromSlot,
                                      const std::atomic<bool>* cancel)
{
    std::vector<StackItem> items;
    items.reserve(64);
    const std::uint64_t base = capture.context.rsp;
    const std::uint64_t end = base + capture.stack.size();
    std::uint64_t slot = std::max(fromSlot, base);
    slot += (8 - (slot - base) % 8) % 8;
    // A recursion stores the same return address once per level: each is decoded once.
    std::unordered_map<std::uint64_t, std::optional<CallSite>> decoded;
    for (; slot + 8 <= end; slot += 8) {
        if (cancel != nullptr && cancel->load(std::memory_order_relaxed))
            break;
        std::uint64_t value = 0;
        std::memcpy(&value, capture.stack.data() + (slot - base), 8);
        if (value <= 7 || !code.IsCode(value))
            continue;
        auto known = decoded.find(value);
        if (known == decoded.end())
            known = decoded.emplace(value, CallBefore(code, value)).first;
        if (known->second)
            items.push_back({value, slot, false, false, known->second});
    }
    return items;
}

void ConfirmCalls(FunctionCache& functions, std::vector<StackItem>& items, const std::atomic<bool>* cancel,
                  const std::function<void(int)>& progress)
{
    std::vector<StackItem> kept;
    kept.reserve(items.size());
    std::uint64_t leftOut = 0; // of dropped candidates, for the next kept item
    for (std::size_t i = 0; i < items.size(); ++i) {
        // Cancelled: the anchors stay, the unchecked candidates go.
        const bool cancelled = cancel != nullptr && cancel->load(std::memory_order_relaxed);
        StackItem& item = items[i];
        leftOut += std::exchange(item.leftOutBefore, 0);
        if (cancelled && !item.strong)
            continue;
        if (!cancelled && !item.activation) {
            const CallLocation location = functions.LocateCall(item.address);
            if (location.call)
                item.call = location.call;
            else if (!item.strong)
                continue;
        }
        item.leftOutBefore = std::exchange(leftOut, 0);
        kept.push_back(item);
        if (progress)
            progress(int(1000 * (i + 1) / items.size()));
    }
    items = std::move(kept);
}

void RemoveRecursiveAreas(std::vector<StackItem>& items, int minRepeats, int keep, int keepLast)
{
    // For each run length, find a run repeated back to back at least minRepeats times and drop
    // the copies between the first `keep` and the last `keepLast`.
    const std::size_t kept = std::size_t(keep) + std::size_t(keepLast);
    for (std::size_t length = 1; length <= 8; ++length) {
        for (std::size_t start = 0; start + length * std::size_t(minRepeats) <= items.size(); ++start) {
            std::size_t repeats = 1;
            while (start + (repeats + 1) * length <= items.size()) {
                bool same = true;
                for (std::size_t k = 0; k < length && same; ++k)
                    same = items[start + k].address == items[start + repeats * length + k].address;
                if (!same)
                    break;
                ++repeats;
            }
            if (repeats < std::size_t(minRepeats) || repeats <= kept)
                continue;
            const auto first = items.begin() + std::ptrdiff_t(start + std::size_t(keep) * length);
            const auto last =
                items.begin() + std::ptrdiff_t(start + (repeats - std::size_t(keepLast)) * length);
            std::uint64_t leftOut = std::uint64_t(last - first);
            for (auto it = first; it != last; ++it)
                leftOut += it->leftOutBefore;
            if (last != items.end())
                last->leftOutBefore += leftOut;
            items.erase(first, last);
        }
    }
}

} // namespace crash::stack
