#pragma once
// Reads of this process's own memory that cannot fault: a bad or unmapped address makes the read
// come up short instead of crashing. The crash reporter reads stacks of running threads and code
// around addresses it found on those stacks, so nothing it reads can be trusted to be mapped.

#include <cstddef>
#include <cstdint>

namespace platform {

// Copies up to `size` bytes at `address` into `buffer`; returns how many leading bytes were readable.
std::size_t ReadOwnMemory(std::uint64_t address, void* buffer, std::size_t size);

} // namespace platform
