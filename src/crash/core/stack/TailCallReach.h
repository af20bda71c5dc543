#pragma once
// Whether a call to one function can end up in another without a further call: the function
// itself, or the targets of its tail jumps (a direct jmp from inside it to the start of another
// function), two levels deep. An optimised caller's frame then lies directly above the frame of
// the function the tail jump reached. Answers are cached per function for one trace.

#include "crash/core/stack/CodeView.h"

#include <unordered_map>
#include <vector>

namespace crash::stack {

class TailCallReach
{
public:
    explicit TailCallReach(CodeView& code) : code_(code) {}

    bool Reaches(std::uint64_t target, std::uint64_t function);

private:
    const std::vector<std::uint64_t>& TailJumps(std::uint64_t function);

    CodeView& code_;
    std::unordered_map<std::uint64_t, std::vector<std::uint64_t>> cache_;
};

// Where a call to `target` really goes: follows jumps (PLT stubs through their slot, direct jumps)
// a few steps.
std::uint64_t FollowJumps(CodeView& code, std::uint64_t target);

} // namespace crash::stack
