#pragma once
// The automatic send of one report, between the completion callback that starts it and the
// handling's save that depends on its outcome (AutoSaveIfNotSent). The send may run on a thread of
// its own and end after the handling; a save that waits for it then runs when it ends, so a send
// that fails still leaves a saved report, and "sent" is known only once a transport delivered.

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>

namespace crash {

class AutomaticSend : public std::enable_shared_from_this<AutomaticSend>
{
public:
    // The callback has taken its send step (started the send, or found nothing to send).
    void markAttempted();
    bool attempted() const;
    void markStarted();
    // The send has ended; only the first call counts: a delivery is recorded with `markSent`,
    // then a save left waiting for the outcome runs.
    void markEnded(bool delivered, const std::function<void()>& markSent);
    bool running() const;
    // Leaves `save` to run when the send ends; false (and nothing kept) when none is running.
    bool saveWhenEnded(std::function<void()> save);
    // For the program's end when sends did not end in time: the saves left waiting run now, as
    // for sends that failed.
    static void runWaitingSaves();

private:
    mutable std::mutex m_lock;
    bool m_attempted = false;
    bool m_started = false;
    bool m_ended = false;
    std::function<void()> m_saveWhenEnded;
};

} // namespace crash
