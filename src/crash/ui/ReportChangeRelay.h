#pragma once
// Forwards a report's change callbacks, which come from any thread, as posted events to a window
// that may already be gone: the window detaches itself before it dies, and posting and detaching
// exclude each other. A burst of changes posts one event until the window has handled it.

#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <atomic>
#include <mutex>

namespace crash::ui {

class ReportChangeRelay
{
public:
    ReportChangeRelay(QObject* target, QEvent::Type type) : m_target(target), m_type(type) {}

    void post()
    {
        std::lock_guard lock(m_lock);
        if (m_target && !m_pending.exchange(true))
            QCoreApplication::postEvent(m_target, new QEvent(m_type));
    }
    // The window is about to read the report: later changes post again.
    void handled() { m_pending = false; }
    void detach()
    {
        std::lock_guard lock(m_lock);
        m_target = nullptr;
    }

private:
    std::mutex m_lock;
    QObject* m_target;
    QEvent::Type m_type;
    std::atomic<bool> m_pending{false};
};

} // namespace crash::ui
