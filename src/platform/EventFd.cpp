#include "platform/EventFd.h"

#include <cerrno>
#include <cstdint>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace platform {

EventFd::EventFd() noexcept : m_fd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

EventFd::~EventFd()
{
    if (m_fd >= 0)
        close(m_fd);
}

void EventFd::signal() noexcept
{
    if (m_fd < 0)
        return;
    const std::uint64_t one = 1;
    while (write(m_fd, &one, sizeof one) < 0 && errno == EINTR) {
    }
}

bool EventFd::wait(int timeoutMs) const noexcept
{
    pollfd p{m_fd, POLLIN, 0};
    for (;;) {
        const int r = poll(&p, 1, timeoutMs);
        if (r > 0)
            return true;
        if (r == 0 || errno != EINTR)
            return false;
    }
}

} // namespace platform
