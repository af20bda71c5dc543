#pragma once
// Frames found by following saved frame pointers: a function built with frame pointers saves its
// caller's rbp at [rbp] and finds its return address at [rbp + 8]. The walk starts from a given
// rbp and goes up while each step holds:
//   - rbp is 8-aligned and the return slot lies in the captured stack;
//   - the value in the slot is a return address: code of a module that follows a call instruction
//     (located in its function when that function is approved, FunctionCache.h);
//   - that call, when its target is known, reaches the function of the frame below (the previous
//     return address), so the walk stops where rbp stops being a frame pointer;
//   - the next rbp lies higher than this one (0 ends the chain at the thread's first frame).
// In code built without frame pointers rbp is an ordinary register; the checks end the walk at the
// first value that does not hold up. A function without frame pointer between two with one also
// ends it (the rbp saved above it skips its caller's frame, so the link check fails there): the
// stack scan goes on from the last frame, as anchors must be sure.

#include "crash/core/stack/FunctionCache.h"
#include "crash/core/stack/StackScanner.h"

namespace crash::stack {

// The frames as anchors (strong items) whose return slot lies at or above `lowestSlot`, lowest first.
std::vector<StackItem> WalkFramePointers(FunctionCache& functions, const ThreadCapture& capture,
                                         std::uint64_t framePointer, std::uint64_t lowestSlot);

} // namespace crash::stack
