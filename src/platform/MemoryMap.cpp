#include "platform/MemoryMap.h"

#include <QFile>
#include <algorithm>

namespace platform {
namespace {

// x86-64 user space ends below 2^47 (4-level paging).
constexpr std::uint64_t UserSpaceEnd = 0x800000000000ull;

bool ParseHex(const QByteArray& text, std::uint64_t& out)
{
    bool ok = false;
    out = text.toULongLong(&ok, 16);
    return ok;
}

} // namespace

std::vector<MemoryRegion> ParseMemoryMap(const QByteArray& text)
{
    std::vector<MemoryRegion> regions;
    for (const QByteArray& raw : text.split('\n')) {
        const QList<QByteArray> parts = raw.simplified().split(' ');
        if (parts.size() < 5)
            continue;
        const qsizetype dash = parts[0].indexOf('-');
        const QByteArray& perms = parts[1];
        MemoryRegion region;
        if (dash <= 0 || perms.size() < 4 || !ParseHex(parts[0].left(dash), region.start) ||
            !ParseHex(parts[0].mid(dash + 1), region.end) || region.end <= region.start)
            continue;
        region.readable = perms[0] == 'r';
        region.writable = perms[1] == 'w';
        region.executable = perms[2] == 'x';
        region.isPrivate = perms[3] == 'p';
        const QByteArray path = parts.size() > 5 ? parts.mid(5).join(' ') : QByteArray();
        region.anonymous = path.isEmpty() || path == "[heap]" || path.startsWith("[stack");
        regions.push_back(region);
    }
    std::sort(regions.begin(), regions.end(),
              [](const MemoryRegion& a, const MemoryRegion& b) { return a.start < b.start; });
    return regions;
}

std::vector<MemoryRegion> ReadMemoryMap()
{
    QFile file(QStringLiteral("/proc/self/maps"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return ParseMemoryMap(file.readAll());
}

std::uint64_t AllocatedMemory(const std::vector<MemoryRegion>& regions)
{
    std::uint64_t sum = 0;
    for (const MemoryRegion& region : regions) {
        if (region.anonymous && region.isPrivate && (region.readable || region.writable))
            sum += region.end - region.start;
    }
    return sum;
}

std::uint64_t LargestFreeBlock(const std::vector<MemoryRegion>& regions)
{
    std::uint64_t largest = 0;
    std::uint64_t previousEnd = 0x10000; // the kernel keeps the lowest pages unmappable
    for (const MemoryRegion& region : regions) {
        if (region.start >= UserSpaceEnd)
            break;
        if (region.start > previousEnd)
            largest = std::max(largest, region.start - previousEnd);
        previousEnd = std::max(previousEnd, region.end);
    }
    if (previousEnd < UserSpaceEnd)
        largest = std::max(largest, UserSpaceEnd - previousEnd);
    return largest;
}

std::uint64_t ReadableBytesFrom(const std::vector<MemoryRegion>& regions, std::uint64_t address)
{
    std::uint64_t reach = address;
    for (const MemoryRegion& region : regions) {
        if (region.end <= reach)
            continue;
        if (region.start > reach || !region.readable)
            break;
        reach = region.end;
    }
    return reach - address;
}

} // namespace platform
