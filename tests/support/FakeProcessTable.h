#pragma once
// A process table of the test's own making behind the process functions: listing shows the
// entries given, terminating one records its id, drops it from the table and answers as set.

#include "platform/Processes.h"

#include <QList>
#include <algorithm>
#include <mutex>

namespace testsupport {

class FakeProcessTable
{
public:
    explicit FakeProcessTable(QList<platform::ProcessEntry> initial = {}) : m_entries(std::move(initial))
    {
        m_previous = platform::SetProcessHandlers(
            {[this] { return entries(); }, [this](qint64 pid) { return terminate(pid); }});
    }
    ~FakeProcessTable() { platform::SetProcessHandlers(m_previous); }
    FakeProcessTable(const FakeProcessTable&) = delete;
    FakeProcessTable& operator=(const FakeProcessTable&) = delete;

    QList<platform::ProcessEntry> entries() const
    {
        std::lock_guard guard(m_lock);
        return m_entries;
    }
    // The ids asked to terminate, in order.
    QList<qint64> terminated() const
    {
        std::lock_guard guard(m_lock);
        return m_terminated;
    }
    // Terminating this id fails (as for a process of another user) and leaves it listed.
    void refuse(qint64 pid)
    {
        std::lock_guard guard(m_lock);
        m_refused.append(pid);
    }

private:
    bool terminate(qint64 pid)
    {
        std::lock_guard guard(m_lock);
        m_terminated.append(pid);
        if (m_refused.contains(pid))
            return false;
        const auto gone = std::remove_if(m_entries.begin(), m_entries.end(),
                                         [pid](const platform::ProcessEntry& e) { return e.pid == pid; });
        const bool found = gone != m_entries.end();
        m_entries.erase(gone, m_entries.end());
        return found;
    }

    mutable std::mutex m_lock;
    QList<platform::ProcessEntry> m_entries;
    QList<qint64> m_terminated;
    QList<qint64> m_refused;
    platform::ProcessHandlers m_previous;
};

} // namespace testsupport
