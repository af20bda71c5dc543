#include "crash/core/handler/AutomaticSend.h"

namespace crash {

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
    std::lock_guard guard(m_lock);
    if (!m_started || m_ended)
        return false;
    m_saveWhenEnded = std::move(save);
    return true;
}

} // namespace crash
