#pragma once
// Records the message boxes a test provokes instead of showing them.

#include "platform/MessageBox.h"

#include <QStringList>
#include <mutex>

namespace testsupport {

class MessageBoxRecorder
{
public:
    MessageBoxRecorder()
    {
        m_previous = platform::SetMessageBoxHandler([this](const platform::MessageBoxRequest& r) {
            std::lock_guard guard(m_lock);
            m_boxes.append(r.caption + QLatin1Char('|') + r.text);
            m_texts.append(r.text);
            m_icons.append(r.icon);
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

    // The texts alone, in order.
    QStringList texts() const
    {
        std::lock_guard guard(m_lock);
        return m_texts;
    }
    QList<platform::MsgIcon> icons() const
    {
        std::lock_guard guard(m_lock);
        return m_icons;
    }
    void clear()
    {
        std::lock_guard guard(m_lock);
        m_boxes.clear();
        m_texts.clear();
        m_icons.clear();
    }

private:
    mutable std::mutex m_lock;
    QStringList m_boxes;
    QStringList m_texts;
    QList<platform::MsgIcon> m_icons;
    platform::MessageBoxHandler m_previous;
};

} // namespace testsupport
