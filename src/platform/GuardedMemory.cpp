#include "platform/GuardedMemory.h"

#include <sys/uio.h>
#include <unistd.h>

namespace platform {

// The kernel does the copy through the page tables, so an unmapped source page ends the copy with a
// short count rather than a fault in this process.
std::size_t ReadOwnMemory(std::uint64_t address, void* buffer, std::size_t size)
{
    const pid_t self = getpid(); // not cached: a forked child has another id
    if (size == 0)
        return 0;
    iovec local{buffer, size};
    iovec remote{reinterpret_cast<void*>(address), size};
    // A short count means the copy stopped at the first page that cannot be read.
    const ssize_t n = process_vm_readv(self, &local, 1, &remote, 1, 0);
    const std::size_t done = n > 0 ? static_cast<std::size_t>(n) : 0;
    return done;
}

} // namespace platform
