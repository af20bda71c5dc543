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
        if (r > 0) {
            // Reading the count (and putting it back, so the event stays signalled) is what orders
            // the signaller's writes before ours; a poll alone does not.
            std::uint64_t count = 0;
            if (read(m_fd, &count, sizeof count) == sizeof count)
                while (write(m_fd, &count, sizeof count) < 0 && errno == EINTR) {
                }
            return true;
        }
        if (r == 0 || errno != EINTR)
            return false;
    }
}

} // namespace platform
