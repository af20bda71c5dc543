#pragma once
// The report sends still running in this process. A send holds a token from its start to its
// end, so that the program's end and a close by the reporter wait for it instead of cutting it
// off: the mail would be lost, and a send still running while the exit tears Qt down faults.

#include <chrono>
#include <functional>
#include <memory>

namespace crash {

class SendsInProgress
{
public:
    // Held by one running send; the send counts as ended when the last copy is dropped.
    using Token = std::shared_ptr<void>;
    static Token begin();
    static int count();
    // Waits until no send runs, at most `limit`; true when none does. `whileWaiting` is called
    // about every 50 ms.
    static bool waitForAll(std::chrono::milliseconds limit, const std::function<void()>& whileWaiting = {});
};

// The longest the program's end or a close waits for the running sends; each send is bounded by
// its transports' time-outs well before this.
inline constexpr std::chrono::minutes SendsAtEndLimit{3};

// For the program's end: waits for the running sends (bounded). On the GUI thread while the
// application object exists, its events are processed meanwhile and a progress window shows
// when the wait is long. False when sends were still running at the limit.
bool WaitForSendsAtProgramEnd();

} // namespace crash
