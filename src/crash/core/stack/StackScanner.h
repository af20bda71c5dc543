#pragma once
// Finds the call chain where call-frame information gives out: scans the stack for values that
// could be return addresses, confirms each by decoding the call instruction before it, links a
// candidate to a higher one when that one's call reaches the candidate's function, and keeps the
// best-scoring chain from the last sure frame upwards. Stale return addresses left in locals (the
// remains of earlier calls such as snprintf's) rarely link and so drop out.

#include "crash/core/stack/CallInstruction.h"
#include "crash/core/stack/ProcessModules.h"
#include "crash/core/stack/StackTrace.h"

#include <atomic>

namespace crash::stack {

struct StackItem
{
    std::uint64_t address = 0;     // return address, or the interrupted instruction for the top item
    std::uint64_t slot = 0;        // stack slot it was found in; 0 for the top item
    bool activation = false;       // the top item: the address itself is the instruction
    bool strong = false;           // anchor: top item, a frame found by call-frame information, raise-time stack
    std::optional<CallSite> call;  // the call instruction ending at `address`
};

// What the scan looks at: code of this process and the captured stack.
class CodeView
{
public:
    virtual ~CodeView() = default;
    virtual bool IsCode(std::uint64_t address) = 0;
    // Start of the function holding `address`; 0 when unknown.
    virtual std::uint64_t FunctionStart(std::uint64_t address) = 0;
    virtual bool HasLine(std::uint64_t address) = 0;
    // Reads code bytes; returns how many were readable.
    virtual std::size_t ReadCode(std::uint64_t address, std::uint8_t* buffer, std::size_t size) = 0;
};

// The call site ending at `returnAddress`, when the bytes there decode as a call.
std::optional<CallSite> CallBefore(CodeView& code, std::uint64_t returnAddress);

// Candidates in the captured stack from `fromSlot` (inclusive) up to the top, in stack order.
std::vector<StackItem> ScanCandidates(CodeView& code, const ThreadCapture& capture, std::uint64_t fromSlot,
                                      const std::atomic<bool>* cancel);

// The best chain starting at `anchor` through `candidates` (stack order); returns the chosen
// candidates in order.
std::vector<StackItem> ChooseChain(CodeView& code, const StackItem& anchor, const std::vector<StackItem>& candidates,
                                   const std::atomic<bool>* cancel);

// Where a call to `target` really goes: follows jumps (PLT stubs through their slot, direct jumps)
// a few steps.
std::uint64_t FollowJumps(CodeView& code, std::uint64_t target);

// Collapses a recursion that repeats the same run of addresses many times: the later copies of the
// run beyond the first `keep` are removed.
void RemoveRecursiveAreas(std::vector<StackItem>& items, int minRepeats = 8, int keep = 2);

} // namespace crash::stack
