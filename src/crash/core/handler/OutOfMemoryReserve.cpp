#include "crash/core/handler/OutOfMemoryReserve.h"

#include "platform/ProcessControl.h"

#include <atomic>
#include <cstddef>

namespace crash {
namespace {

constexpr std::size_t kSizes[] = {4u << 20, 4u << 20, 4u << 20, 4u << 20, 512u << 10, 512u << 10, 512u << 10, 512u << 10};
std::atomic<void*> g_regions[8];

} // namespace

void ReserveOutOfMemoryRegions()
{
    for (int i = 0; i < 8; ++i)
        if (!g_regions[i].load())
            g_regions[i] = platform::ReserveAddressSpace(kSizes[i]);
}

void ReleaseOutOfMemoryRegions()
{
    for (int i = 0; i < 8; ++i)
        platform::ReleaseAddressSpace(g_regions[i].exchange(nullptr), kSizes[i]);
}

bool OutOfMemoryRegionsReserved()
{
    for (auto& region : g_regions)
        if (!region.load())
            return false;
    return true;
}

} // namespace crash
