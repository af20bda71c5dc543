#pragma once
// A per-thread alternate signal stack, so a fault handler still runs when the thread's own stack
// has overflowed. Mapped with a guard page below it; freed when the thread ends.

#include <cstddef>

namespace platform {

// Gives the calling thread an alternate stack unless it already has one. Safe to call repeatedly.
bool EnsureAltSignalStack() noexcept;

// Bytes of the alternate stack (the in-place handling path runs on it, so it is generous).
inline constexpr std::size_t kAltSignalStackSize = 512 * 1024;

} // namespace platform
