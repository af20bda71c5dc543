#pragma once
// Forwards a report's change callbacks, which come from any thread, as posted events to a window
// that may already be gone: the window detaches itself before it dies, and posting and detaching
// exclude each other.

#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <mutex>

namespace crash::ui {

class ReportChangeRelay
{
public:
    ReportChangeRelay(QObject* target, QEvent::Type type) : m_target(target), m_type(type) {}

    void post()
    {
        std::lock_guard lock(m_lock);
        if (m_target)
            QCoreApplication::postEvent(m_target, new QEvent(m_type));
    }
    void detach()
    {
        std::lock_guard lock(m_lock);
        m_target = nullptr;
    }

private:
    std::mutex m_lock;
    QObject* m_target;
    QEvent::Type m_type;
};

} // namespace crash::ui
