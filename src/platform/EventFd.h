#pragma once
// A completion event: an eventfd that one thread signals and another waits on. Creating, signalling
// and waiting are async-signal-safe, so a signal handler can wait for the handler thread.

namespace platform {

class EventFd
{
public:
    EventFd() noexcept;
    ~EventFd();
    EventFd(const EventFd&) = delete;
    EventFd& operator=(const EventFd&) = delete;

    bool isValid() const noexcept { return m_fd >= 0; }
    void signal() noexcept;
    // True when signalled within `timeoutMs` (negative: no limit). Does not consume the signal.
    bool wait(int timeoutMs) const noexcept;
    bool isSignalled() const noexcept { return wait(0); }

private:
    int m_fd;
};

} // namespace platform
