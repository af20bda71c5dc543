#pragma once
// The address space of this process as /proc/self/maps lists it: what the report's memory fields
// and its stack dump need (sums, gaps, how far a readable region reaches).

#include <QByteArray>
#include <cstdint>
#include <vector>

namespace platform {

struct AddressRegion
{
    std::uint64_t start = 0;
    std::uint64_t end = 0; // one past the last byte
    bool readable = false;
    bool writable = false;
    bool executable = false;
    bool isPrivate = false;
    bool anonymous = false; // no file behind it ([heap] and [stack] count as anonymous)
};

// Regions in address order; malformed lines are skipped.
std::vector<AddressRegion> ParseAddressSpace(const QByteArray& text);
std::vector<AddressRegion> ReadAddressSpace();

// Accessible anonymous private memory: what the process allocated itself.
std::uint64_t AllocatedMemory(const std::vector<AddressRegion>& regions);
// The largest gap between regions below the end of the user address space.
std::uint64_t LargestFreeBlock(const std::vector<AddressRegion>& regions);
// How many bytes from `address` to the end of its region, when that region is readable; else 0.
std::uint64_t ReadableBytesInRegion(const std::vector<AddressRegion>& regions, std::uint64_t address);

// Up to `size` bytes of this process's memory from `address`, stopping at the end of its region.
// Safe for any address: the kernel copies, so an unmapped page gives a short result, not a fault.
QByteArray ReadOwnMemory(std::uint64_t address, std::size_t size);

} // namespace platform
