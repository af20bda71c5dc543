#pragma once
// The callbacks registered to see exceptions: exception handlers (called at each phase, may mark
// the exception handled), action handlers (called before an action, marking it handled cancels
// the built-in action) and report-only handlers (type-2 events). Each kind has handlers for the
// handling thread and handlers that run synchronously in the main thread.

#include "crash/core/report/ExceptionReport.h"

#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace crash {

enum class HandlerEvent
{
    Exception = 0,
    Action = 1,
    ReportOnly = 2
};

enum class ExceptionAction
{
    Send = 0,
    Save = 1,
    Print = 2,
    SendDone = 3,
    SaveDone = 4,
    PrintDone = 5,
    Continue = 6,
    Restart = 7,
    Close = 8,
    None = 9
};

struct HandlerCall
{
    std::shared_ptr<ExceptionReport> report;
    HandlerEvent event = HandlerEvent::Exception;
    int phase = 0;                                // for exception handlers, 1 to 4
    ExceptionAction action = ExceptionAction::None; // for action handlers
    bool handled = false;
};

using ExceptionHandlerFunction = std::function<void(HandlerCall& call)>;

class HandlerRegistry
{
public:
    static HandlerRegistry& instance();

    // `inMainThread`: run synchronously in the main thread (when it answers).
    int add(HandlerEvent event, ExceptionHandlerFunction handler, bool inMainThread = false);
    void remove(int id);
    bool has(HandlerEvent event) const;

    // Runs the handlers of the call's event (the handling thread's first, then, while not handled,
    // the main thread's through `runInMainThread`). Exceptions of a handler are swallowed.
    using MainThreadRunner = std::function<bool(const std::function<void()>& work)>;
    void call(HandlerCall& call, const MainThreadRunner& runInMainThread) const;

private:
    struct Entry
    {
        int id;
        HandlerEvent event;
        bool inMainThread;
        std::shared_ptr<ExceptionHandlerFunction> function;
    };
    std::vector<Entry> snapshot(HandlerEvent event, bool inMainThread) const;

    mutable std::mutex m_lock;
    std::vector<Entry> m_entries;
    int m_nextId = 1;
};

} // namespace crash
