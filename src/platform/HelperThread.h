#pragma once
// Start-up work that needs no window runs beside the main thread, on the second core, while the
// main thread builds what does: the helper starts at once and is waited for by join() before its
// result is relied on (at the latest when the object ends). The work must be something the main
// thread would otherwise do itself on first use, so that it may also not run at all: when no
// thread can be started, nothing runs and the main thread does it later as before. A failure
// inside the work is a failure of one of the program's threads, which the crash reporter takes
// over like any other. Empty work starts no thread.

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
