#pragma once
// Records the message boxes a test provokes instead of showing them.

#include "platform/MessageBox.h"

#include <QStringList>
#include <mutex>

namespace crashtest {

class MessageBoxRecorder
{
public:
    MessageBoxRecorder()
    {
        m_previous = platform::SetMessageBoxHandler([this](const platform::MessageBoxRequest& r) {
            std::lock_guard guard(m_lock);
            m_boxes.append(r.caption + QLatin1Char('|') + r.text);
            return platform::DefaultAnswer(r.buttons);
        });
    }
    ~MessageBoxRecorder() { platform::SetMessageBoxHandler(m_previous); }

    // "caption|text" per box, in order.
    QStringList boxes() const
    {
        std::lock_guard guard(m_lock);
        return m_boxes;
    }

private:
    mutable std::mutex m_lock;
    QStringList m_boxes;
    platform::MessageBoxHandler m_previous;
};

} // namespace crashtest
