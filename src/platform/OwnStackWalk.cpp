#include "platform/OwnStackWalk.h"

#include <algorithm>
#include <unwind.h>

namespace platform {
namespace {

// The walker's own frames and the caller's few before `from`.
constexpr std::size_t FramesBeforeStart = 16;

struct Walk
{
    std::uintptr_t from;
    std::uintptr_t* frames;
    std::size_t capacity;
    std::size_t bound;
    std::size_t seen = 0; // frames before `from` was met
    bool started = false;
    OutermostFrames result;
};

_Unwind_Reason_Code OnFrame(_Unwind_Context* context, void* argument)
{
    Walk& walk = *static_cast<Walk*>(argument);
    const std::uintptr_t address = _Unwind_GetIP(context);
    if (!walk.started) {
        walk.started = address == walk.from;
        if (!walk.started)
            return ++walk.seen < FramesBeforeStart ? _URC_NO_REASON : _URC_END_OF_STACK;
    }
    if (walk.result.walked == walk.bound)
        return _URC_END_OF_STACK; // stops the walk short of the start
    if (walk.capacity > 0)
        walk.frames[walk.result.walked % walk.capacity] = address;
    ++walk.result.walked;
    return _URC_NO_REASON;
}

} // namespace

OutermostFrames WalkToThreadStart(std::uintptr_t from, std::uintptr_t* frames, std::size_t capacity,
                                  std::size_t bound)
{
    Walk walk{from, frames, capacity, bound, 0, false, {}};
    const _Unwind_Reason_Code end = _Unwind_Backtrace(&OnFrame, &walk);
    OutermostFrames& result = walk.result;
    if (!walk.started)
        return {};
    result.complete = end == _URC_END_OF_STACK && result.walked < bound;
    result.kept = std::min(result.walked, capacity);
    // The ring's oldest entry to the front.
    if (capacity > 0 && result.walked > capacity)
        std::rotate(frames, frames + result.walked % capacity, frames + capacity);
    return result;
}

} // namespace platform
