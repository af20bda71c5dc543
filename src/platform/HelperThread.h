#pragma once
// Start-up work that needs no window runs beside the main thread, on the second core, while the
// main thread builds what does: the helper starts at once and is waited for by join() before its
// result is relied on (at the latest when the object ends). The work must be safe to repeat on
// the main thread: a failure inside it is dropped there, since the main thread then does the same
// work itself and meets the failure where it is handled.

#include <functional>
#include <thread>

namespace platform {

class HelperThread
{
public:
    explicit HelperThread(std::function<void()> work);
    ~HelperThread();
    HelperThread(const HelperThread&) = delete;
    HelperThread& operator=(const HelperThread&) = delete;

    // Waits until the work has ended; later calls return at once.
    void join();

private:
    std::thread m_thread;
};

} // namespace platform
