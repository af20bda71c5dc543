#pragma once
// The return addresses of the calling thread's outermost frames, walked with the unwinder the C++
// runtime uses for its throws: also from a signal handler (through the signal's frame), and
// without allocating, so it may run inside a throw.

#include <cstddef>
#include <cstdint>

namespace platform {

struct OutermostFrames
{
    std::size_t walked = 0; // frames from the starting one to the thread's start (or to the bound)
    std::size_t kept = 0;   // the outermost of them, innermost first, at the front of the buffer
    bool complete = false;  // the walk reached the thread's start
};

// Walks from the frame whose return address is `from` (counted as the first) towards the thread's
// start, at most `bound` frames, and keeps the outermost `capacity` return addresses in `frames`.
// Nothing is walked when `from` is not among the first frames.
OutermostFrames WalkToThreadStart(std::uintptr_t from, std::uintptr_t* frames, std::size_t capacity,
                                  std::size_t bound);

} // namespace platform
