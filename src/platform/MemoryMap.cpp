#include "platform/MemoryMap.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>

namespace platform {

std::vector<MemoryRange> ReadMemoryMap()
{
    std::vector<MemoryRange> map;
    FILE* file = std::fopen("/proc/self/maps", "re");
    if (file == nullptr)
        return map;
    char line[4096 + 128];
    while (std::fgets(line, sizeof line, file) != nullptr) {
        MemoryRange range;
        char perms[8] = {};
        int pathStart = 0;
        if (std::sscanf(line, "%" SCNx64 "-%" SCNx64 " %7s %*s %*s %*s %n", &range.start, &range.end, perms,
                        &pathStart) < 3)
            continue;
        range.readable = perms[0] == 'r';
        range.executable = perms[2] == 'x';
        if (pathStart > 0) {
            range.path = line + pathStart;
            while (!range.path.empty() && (range.path.back() == '\n' || range.path.back() == ' '))
                range.path.pop_back();
        }
        map.push_back(std::move(range));
    }
    std::fclose(file);
    return map;
}

std::optional<MemoryRange> MappingContaining(const std::vector<MemoryRange>& map, std::uint64_t address)
{
    auto it = std::upper_bound(map.begin(), map.end(), address,
                               [](std::uint64_t a, const MemoryRange& r) { return a < r.start; });
    if (it == map.begin())
        return std::nullopt;
    --it;
    if (address >= it->end)
        return std::nullopt;
    return *it;
}

} // namespace platform
