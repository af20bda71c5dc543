#pragma once
// Tells a handling that can never finish because it waits inside the allocator (for a lock that a
// stopped thread, or the handling's own thread, holds) from one that is only slow: it is seen
// waiting there at looks at least `bound` apart, and its progress stamp did not move meanwhile.
// Plain arithmetic: usable in a signal handler.

namespace crash {

class AllocatorStall
{
public:
    explicit AllocatorStall(long long boundMs) noexcept : m_boundMs(boundMs) {}

    // One look at `nowMs`. True once the handling counts as stuck.
    bool stuck(bool waitsInAllocator, long long progressStamp, long long nowMs) noexcept;

private:
    long long m_boundMs;
    long long m_waitingSince = -1;
    long long m_stamp = 0;
};

} // namespace crash
