#include "crash/core/handler/HandlerRegistry.h"

#include <algorithm>

namespace crash {
namespace {

void RunGuarded(const ExceptionHandlerFunction& function, HandlerCall& call)
{
    try {
        function(call);
    } catch (...) {
        // A failing handler must not take the handling down with it.
    }
}

} // namespace

HandlerRegistry& HandlerRegistry::instance()
{
    static HandlerRegistry& registry = *new HandlerRegistry; // outlives the static teardown
    return registry;
}

int HandlerRegistry::add(HandlerEvent event, ExceptionHandlerFunction handler, bool inMainThread)
{
    std::lock_guard guard(m_lock);
    const int id = m_nextId++;
    m_entries.push_back(
        {id, event, inMainThread, std::make_shared<ExceptionHandlerFunction>(std::move(handler))});
    return id;
}

void HandlerRegistry::remove(int id)
{
    std::lock_guard guard(m_lock);
    std::erase_if(m_entries, [id](const Entry& e) { return e.id == id; });
}

bool HandlerRegistry::has(HandlerEvent event) const
{
    std::lock_guard guard(m_lock);
    return std::any_of(m_entries.begin(), m_entries.end(),
                       [event](const Entry& e) { return e.event == event; });
}

std::vector<HandlerRegistry::Entry> HandlerRegistry::snapshot(HandlerEvent event, bool inMainThread) const
{
    std::lock_guard guard(m_lock);
    std::vector<Entry> out;
    for (const Entry& e : m_entries)
        if (e.event == event && e.inMainThread == inMainThread)
            out.push_back(e);
    return out;
}

void HandlerRegistry::call(HandlerCall& call, const MainThreadRunner& runInMainThread) const
{
    if (call.report && !call.report->filterResult().callHandlers)
        return;
    for (const Entry& e : snapshot(call.event, false))
        RunGuarded(*e.function, call);
    if (call.handled && call.event != HandlerEvent::ReportOnly)
        return;
    const auto mainThreadHandlers = snapshot(call.event, true);
    if (mainThreadHandlers.empty())
        return;
    auto work = [&] {
        for (const Entry& e : mainThreadHandlers)
            RunGuarded(*e.function, call);
    };
    // When the main thread does not answer, the handlers run here instead.
    if (!runInMainThread || !runInMainThread(work))
        work();
}

} // namespace crash
