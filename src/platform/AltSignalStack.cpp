#include "platform/AltSignalStack.h"

#include <csignal>
#include <sys/mman.h>
#include <unistd.h>

namespace platform {
namespace {

// Owns the mapping of the calling thread; the destructor runs at thread exit.
struct ThreadAltStack
{
    void* mapping = nullptr;
    std::size_t length = 0;

    ~ThreadAltStack()
    {
        if (!mapping)
            return;
        stack_t off{};
        off.ss_flags = SS_DISABLE;
        sigaltstack(&off, nullptr);
        munmap(mapping, length);
    }
};

thread_local ThreadAltStack t_stack;

} // namespace

bool EnsureAltSignalStack() noexcept
{
    if (t_stack.mapping)
        return true;
    stack_t current{};
    if (sigaltstack(nullptr, &current) == 0 && !(current.ss_flags & SS_DISABLE) && current.ss_size >= kAltSignalStackSize)
        return true; // someone else (a sanitizer, a library) set a big enough one
    const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    const std::size_t length = kAltSignalStackSize + page;
    void* mapping = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (mapping == MAP_FAILED)
        return false;
    mprotect(mapping, page, PROT_NONE); // guard: overrunning the signal stack faults instead of corrupting
    stack_t stack{};
    stack.ss_sp = static_cast<char*>(mapping) + page;
    stack.ss_size = kAltSignalStackSize;
    if (sigaltstack(&stack, nullptr) != 0) {
        munmap(mapping, length);
        return false;
    }
    t_stack.mapping = mapping;
    t_stack.length = length;
    return true;
}

} // namespace platform
