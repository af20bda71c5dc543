#pragma once
// Who made a named object. The reporter's object names carry a process id, and a process id is
// neither unique over time nor across PID namespaces that share /dev/shm; the creator's boot, PID
// namespace and start time are. Each object carries them in a 64-byte stamp at its end (after the
// bytes its readers use), and is taken for a leftover only when its process provably ended.

#include <QByteArray>
#include <QString>
#include <cstddef>
#include <cstdint>

struct stat;

namespace platform {

struct NamedObjectOwner
{
    std::uint64_t magic;
    std::uint8_t bootId[16];
    std::uint64_t pidNamespace;
    std::uint64_t startStamp; // start time in clock ticks since boot
    std::uint32_t processId;
    std::uint32_t reserved;
    std::uint8_t spare[16];
};
static_assert(sizeof(NamedObjectOwner) == 64);

// This process, as its objects record it.
NamedObjectOwner CurrentObjectOwner();
bool IsCurrentProcess(const NamedObjectOwner& owner);

// The stamp at the end of the open object `fd` of `size` bytes; false when it carries none.
bool ReadObjectOwner(int fd, std::size_t size, NamedObjectOwner& out);

// Whether the process an object named "<prefix>$<hex id>" belongs to (`namedId`) has provably
// ended: the stamp is from an earlier boot; or from this PID namespace and that process no longer
// runs or is a later one with the same id. An object of another namespace, or without stamp, is
// never taken for a leftover.
bool OwnerEnded(const struct stat& st, const NamedObjectOwner* owner, std::uint32_t namedId);

// The process id in an object name "<prefix>$<hex id>" (a fallback copy may add ".<suffix>"), 0
// when the name has none.
std::uint32_t ProcessIdInName(const QByteArray& name);

// Where this process keeps an object whose name in /dev/shm is taken by someone else: a file in
// this user's private object folder, named after `fileName` and this process (so processes of
// other PID namespaces never meet there). Empty when there is no private folder.
QByteArray FallbackObjectPath(const QByteArray& fileName);
// The private folder of those fallback objects; empty when there is none.
QByteArray FallbackObjectFolder();

} // namespace platform
