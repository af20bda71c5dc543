#pragma once
// Records what the program asks the shell to start, open or show instead of doing it.

#include "platform/Shell.h"

#include <QStringList>
#include <mutex>

namespace testsupport {

class ShellRecorder
{
public:
    struct Start
    {
        QString target;
        QStringList arguments;
        QString workingFolder;
    };

    ShellRecorder()
    {
        m_previous = platform::SetShellHandlers(
            {[this](const QString& target, const QStringList& arguments, const QString& workingFolder) {
                 std::lock_guard guard(m_lock);
                 m_starts.append({target, arguments, workingFolder});
                 return m_startSucceeds;
             },
             [this](const QString& nativePath) {
                 std::lock_guard guard(m_lock);
                 m_shown.append(nativePath);
             },
             [this](const QString& webAddress) {
                 std::lock_guard guard(m_lock);
                 m_webAddresses.append(webAddress);
                 return m_startSucceeds;
             }});
    }
    ~ShellRecorder() { platform::SetShellHandlers(m_previous); }
    ShellRecorder(const ShellRecorder&) = delete;
    ShellRecorder& operator=(const ShellRecorder&) = delete;

    // Each start, in order.
    QList<Start> starts() const
    {
        std::lock_guard guard(m_lock);
        return m_starts;
    }
    // The targets alone.
    QStringList startedTargets() const
    {
        std::lock_guard guard(m_lock);
        QStringList targets;
        for (const Start& s : m_starts)
            targets.append(s.target);
        return targets;
    }
    // The native paths shown in the file manager, in order.
    QStringList shown() const
    {
        std::lock_guard guard(m_lock);
        return m_shown;
    }
    // The web addresses handed to the desktop's URL opener, in order.
    QStringList webAddresses() const
    {
        std::lock_guard guard(m_lock);
        return m_webAddresses;
    }
    void setStartSucceeds(bool succeeds)
    {
        std::lock_guard guard(m_lock);
        m_startSucceeds = succeeds;
    }

private:
    mutable std::mutex m_lock;
    QList<Start> m_starts;
    QStringList m_shown;
    QStringList m_webAddresses;
    bool m_startSucceeds = true;
    platform::ShellHandlers m_previous;
};

} // namespace testsupport
