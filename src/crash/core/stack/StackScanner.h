#pragma once
// The stack items of a trace and the scan that finds them where call-frame information gives out:
// every 8-byte slot of the captured stack whose value could be a return address (it points into a
// module's code and the bytes before it decode as a call) becomes a candidate. The deep checks then
// locate each candidate's call in its function (FunctionCache.h) and drop those that follow no call;
// OptimalChains.h links the rest and keeps the best chains between the anchors.

#include "crash/core/stack/CallInstruction.h"
#include "crash/core/stack/CodeView.h"
#include "crash/core/stack/FunctionCache.h"
#include "crash/core/stack/StackTrace.h"

#include <atomic>
#include <functional>

namespace crash::stack {

struct StackItem
{
    std::uint64_t address = 0;       // return address, or the interrupted instruction for the top item
    std::uint64_t slot = 0;          // stack slot it was found in; 0 for the top item
    bool activation = false;         // the top item: the address itself is the instruction
    bool strong = false;             // anchor: top item, call-frame or frame-pointer frame, raise-time stack
    std::optional<CallSite> call;    // the call instruction ending at `address`
    std::uint64_t leftOutBefore = 0; // frames left out between the item before and this one
};

// The call site ending at `returnAddress`, when the bytes there decode as a call.
std::optional<CallSite> CallBefore(CodeView& code, std::uint64_t returnAddress);

// Candidates in the captured stack from `fromSlot` (inclusive) up to the top, in stack order.
std::vector<StackItem> ScanCandidates(CodeView& code, const ThreadCapture& capture, std::uint64_t fromSlot,
                                      const std::atomic<bool>* cancel);

// The deep checks: each item's call located in its function; candidates whose call cannot be
// confirmed are dropped (anchors stay). `progress` gets the share done, 0 to 1000.
void ConfirmCalls(FunctionCache& functions, std::vector<StackItem>& items, const std::atomic<bool>* cancel,
                  const std::function<void(int)>& progress);

// Collapses a recursion that repeats the same run of addresses many times: the copies of the run
// between the first `keep` and the last `keepLast` are removed, and the item after them counts
// them (and what was left out among them) in leftOutBefore.
void RemoveRecursiveAreas(std::vector<StackItem>& items, int minRepeats = 8, int keep = 2, int keepLast = 0);

} // namespace crash::stack
