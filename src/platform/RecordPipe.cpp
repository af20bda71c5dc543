#include "platform/RecordPipe.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace platform {

std::unique_ptr<RecordPipe> RecordPipe::create()
{
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        return nullptr;
    return std::unique_ptr<RecordPipe>(new RecordPipe(fds[0], fds[1]));
}

RecordPipe::~RecordPipe()
{
    close(m_read);
    close(m_write);
}

bool RecordPipe::write(const void* record, std::size_t size) noexcept
{
    if (size > kMaxRecord)
        return false;
    for (;;) {
        const ssize_t n = ::write(m_write, record, size);
        if (n == static_cast<ssize_t>(size))
            return true;
        if (n < 0 && errno == EINTR)
            continue;
        return false;
    }
}

bool RecordPipe::read(void* record, std::size_t size, int timeoutMs) noexcept
{
    auto* out = static_cast<char*>(record);
    std::size_t done = 0;
    while (done < size) {
        pollfd p{m_read, POLLIN, 0};
        const int r = poll(&p, 1, done == 0 ? timeoutMs : 1000);
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            return false;
        const ssize_t n = ::read(m_read, out + done, size - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace platform
