#include "crash/core/handler/AutomaticSend.h"

#include <vector>

namespace crash {
namespace {

struct Waiting
{
    std::mutex lock;
    std::vector<std::weak_ptr<AutomaticSend>> sends;
};

Waiting& WaitingSaves()
{
    static Waiting& waiting = *new Waiting; // the program's end still reaches it
    return waiting;
}

} // namespace

void AutomaticSend::markAttempted()
{
    std::lock_guard guard(m_lock);
    m_attempted = true;
}

bool AutomaticSend::attempted() const
{
    std::lock_guard guard(m_lock);
    return m_attempted;
}

void AutomaticSend::markStarted()
{
    std::lock_guard guard(m_lock);
    m_started = true;
}

void AutomaticSend::markEnded(bool delivered, const std::function<void()>& markSent)
{
    std::function<void()> save;
    {
        std::lock_guard guard(m_lock);
        if (m_ended)
            return;
        m_ended = true;
        save = std::move(m_saveWhenEnded);
    }
    if (delivered && markSent)
        markSent();
    if (save)
        save();
}

bool AutomaticSend::running() const
{
    std::lock_guard guard(m_lock);
    return m_started && !m_ended;
}

bool AutomaticSend::saveWhenEnded(std::function<void()> save)
{
    {
        std::lock_guard guard(m_lock);
        if (!m_started || m_ended)
            return false;
        m_saveWhenEnded = std::move(save);
    }
    Waiting& waiting = WaitingSaves();
    std::lock_guard guard(waiting.lock);
    std::erase_if(waiting.sends, [](const std::weak_ptr<AutomaticSend>& send) { return send.expired(); });
    waiting.sends.push_back(weak_from_this());
    return true;
}

void AutomaticSend::runWaitingSaves()
{
    std::vector<std::weak_ptr<AutomaticSend>> sends;
    {
        Waiting& waiting = WaitingSaves();
        std::lock_guard guard(waiting.lock);
        sends.swap(waiting.sends);
    }
    for (const auto& weak : sends)
        if (const auto send = weak.lock())
            send->markEnded(false, {});
}

} // namespace crash
