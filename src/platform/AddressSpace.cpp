#include "platform/AddressSpace.h"

#include <QFile>
#include <algorithm>
#include <sys/uio.h>
#include <unistd.h>

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

// Where the kernel refuses process_vm_readv (some sandboxes), copy directly: the map said the bytes
// are readable. Stack bytes carry sanitizer poison between frames, which is what we want to show.
__attribute__((no_sanitize("address", "thread"))) void CopyDirect(char* out, std::uint64_t from,
                                                                  std::size_t size)
{
    const auto* source = reinterpret_cast<const volatile unsigned char*>(from);
    for (std::size_t i = 0; i < size; ++i)
        out[i] = static_cast<char>(source[i]);
}

} // namespace

std::vector<AddressRegion> ParseAddressSpace(const QByteArray& text)
{
    std::vector<AddressRegion> regions;
    for (const QByteArray& raw : text.split('\n')) {
        const QList<QByteArray> parts = raw.simplified().split(' ');
        if (parts.size() < 5)
            continue;
        const qsizetype dash = parts[0].indexOf('-');
        const QByteArray& perms = parts[1];
        AddressRegion region;
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
              [](const AddressRegion& a, const AddressRegion& b) { return a.start < b.start; });
    return regions;
}

std::vector<AddressRegion> ReadAddressSpace()
{
    QFile file(QStringLiteral("/proc/self/maps"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return ParseAddressSpace(file.readAll());
}

std::uint64_t AllocatedMemory(const std::vector<AddressRegion>& regions)
{
    std::uint64_t sum = 0;
    for (const AddressRegion& region : regions) {
        if (region.anonymous && region.isPrivate && (region.readable || region.writable))
            sum += region.end - region.start;
    }
    return sum;
}

std::uint64_t LargestFreeBlock(const std::vector<AddressRegion>& regions)
{
    std::uint64_t largest = 0;
    std::uint64_t previousEnd = 0x10000; // the kernel keeps the lowest pages unmappable
    for (const AddressRegion& region : regions) {
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

std::uint64_t ReadableBytesInRegion(const std::vector<AddressRegion>& regions, std::uint64_t address)
{
    for (const AddressRegion& region : regions) {
        if (address >= region.start && address < region.end)
            return region.readable ? region.end - address : 0;
    }
    return 0;
}

QByteArray ReadOwnMemory(std::uint64_t address, std::size_t size)
{
    const std::uint64_t reach = ReadableBytesInRegion(ReadAddressSpace(), address);
    QByteArray bytes(static_cast<qsizetype>(std::min<std::uint64_t>(size, reach)), '\0');
    if (bytes.isEmpty())
        return bytes;
    iovec local{bytes.data(), static_cast<size_t>(bytes.size())};
    iovec remote{reinterpret_cast<void*>(address), static_cast<size_t>(bytes.size())};
    const ssize_t got = process_vm_readv(getpid(), &local, 1, &remote, 1, 0);
    if (got < 0)
        CopyDirect(bytes.data(), address, static_cast<std::size_t>(bytes.size()));
    else
        bytes.resize(got);
    return bytes;
}

} // namespace platform
