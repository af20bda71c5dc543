#include "crash/core/stack/FramePointerChain.h"

#include "crash/core/stack/TailCallReach.h"

#include <cstring>

namespace crash::stack {
namespace {

// 8 bytes of the stack copy at `address`; false outside the copy.
bool CopiedWord(const ThreadCapture& capture, std::uint64_t address, std::uint64_t& value)
{
    const std::uint64_t base = capture.context.rsp;
    if (address < base || address - base > capture.stack.size() ||
        capture.stack.size() - (address - base) < 8)
        return false;
    std::memcpy(&value, capture.stack.data() + (address - base), 8);
    return true;
}

} // namespace

std::vector<StackItem> WalkFramePointers(FunctionCache& functions, const ThreadCapture& capture,
                                         std::uint64_t framePointer, std::uint64_t lowestSlot)
{
    std::vector<StackItem> frames;
    CodeView& code = functions.code();
    TailCallReach reach(code);
    std::uint64_t previousFunction = 0;
    std::uint64_t fp = framePointer;
    // Each step climbs at least 16 bytes inside the copy, so the walk ends by itself.
    while (fp % 8 == 0 && fp <= UINT64_MAX - 16) {
        std::uint64_t saved = 0, returnAddress = 0;
        if (!CopiedWord(capture, fp, saved) || !CopiedWord(capture, fp + 8, returnAddress))
            break;
        if (returnAddress <= 7 || !code.IsCode(returnAddress))
            break;
        const CallLocation location = functions.LocateCall(returnAddress);
        if (!location.call)
            break;
        if (location.call->target && previousFunction != 0 &&
            !reach.Reaches(FollowJumps(code, *location.call->target), previousFunction))
            break;
        if (fp + 8 >= lowestSlot) // below: frames the caller knows already
            frames.push_back({returnAddress, fp + 8, false, true, location.call});
        previousFunction = code.FunctionStart(returnAddress - 1);
        if (saved < fp + 16)
            break;
        fp = saved;
    }
    return frames;
}

} // namespace crash::stack
