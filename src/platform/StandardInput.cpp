#include "platform/StandardInput.h"

#include <cerrno>
#include <poll.h>
#include <unistd.h>

namespace platform {

std::optional<QByteArray> ReadStandardInputToEnd(qsizetype limit, int sliceMs,
                                                 const std::function<bool()>& keepWaiting)
{
    QByteArray input;
    char chunk[65536];
    for (;;) {
        pollfd p{STDIN_FILENO, POLLIN, 0};
        const int ready = poll(&p, 1, sliceMs);
        if (ready < 0 && errno != EINTR)
            return std::nullopt;
        if (ready <= 0) {
            if (!keepWaiting())
                return std::nullopt;
            continue;
        }
        const ssize_t n = read(STDIN_FILENO, chunk, sizeof chunk);
        if (n == 0)
            return input;
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN)
                continue;
            return std::nullopt;
        }
        if (input.size() + n > limit)
            return std::nullopt;
        input.append(chunk, n);
    }
}

} // namespace platform
