#pragma once
// The mappings of this process's address space, as the kernel lists them.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace platform {

struct MemoryRange
{
    std::uint64_t start = 0; // first byte
    std::uint64_t end = 0;   // one past the last byte
    bool readable = false;
    bool executable = false;
    std::string path; // backing file, or "[stack]" and the like; empty for anonymous memory
};

// Every mapping, lowest address first; empty when the list cannot be read.
std::vector<MemoryRange> ReadMemoryMap();

// The mapping in `map` that holds `address`.
std::optional<MemoryRange> MappingContaining(const std::vector<MemoryRange>& map, std::uint64_t address);

} // namespace platform
