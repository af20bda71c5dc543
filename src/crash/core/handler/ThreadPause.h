#pragma once
// Pausing the program's threads while an exception is handled (PauseThreads). The pause is
// cooperative: a listed thread stops the next time its event loop asks for the next event (the
// event loop's wait is redirected to waitIfPaused), the main thread on an event of its own. A
// thread that is itself waiting for a handling to finish is never held.

#include <cstdint>
#include <functional>
#include <vector>

namespace crash {

class ThreadPause
{
public:
    // The threads that may be paused: those started inside the reporter's frame.
    using ThreadLister = std::function<std::vector<std::int64_t>()>;
    static void setThreadLister(ThreadLister lister);

    // Pauses the listed threads except `current`, the main thread and `crashed`; the main thread too
    // unless it is `current` or `crashed`.
    static void pause(std::int64_t current, std::int64_t crashed);
    static void resume();
    static bool active();
    // Lets the main thread run for a while (synchronous handlers); pause again with holdMainThread.
    static void releaseMainThread();
    static void holdMainThread();

    // Called by the redirected event-loop wait: holds the calling thread while it is paused.
    static void waitIfPaused();

    // Marks the calling thread as waiting for a handling (it must not be held meanwhile).
    class WaitingForHandling
    {
    public:
        WaitingForHandling();
        ~WaitingForHandling();
    };
};

} // namespace crash
