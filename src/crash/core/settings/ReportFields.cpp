#include "crash/core/settings/ReportFields.h"

namespace crash {

ReportFields::ReportFields(const CrashSettings* owner) : m_owner(owner)
{
    m_items.reserve(16);
}

void ReportFields::setAcceptingData(bool accepting)
{
    std::lock_guard guard(m_lock);
    m_accepting = accepting;
}

bool ReportFields::acceptingData() const
{
    std::lock_guard guard(m_lock);
    return m_accepting;
}

void ReportFields::setAddIndex(int index)
{
    std::lock_guard guard(m_lock);
    m_addIndex = index;
}

int ReportFields::addIndex() const
{
    std::lock_guard guard(m_lock);
    return m_addIndex;
}

int ReportFields::indexOfLocked(const QString& name) const
{
    for (int i = 0; i < m_items.size(); ++i) {
        if (m_items[i].first == name)
            return i;
    }
    return -1;
}

void ReportFields::setField(const QString& name, const QString& content)
{
    const QString trimmed = content.trimmed();
    {
        std::lock_guard guard(m_lock);
        if (!m_accepting)
            return;
        const int index = indexOfLocked(name);
        if (index >= 0 && trimmed.isEmpty()) {
            m_items.removeAt(index);
            if (index < m_addIndex)
                --m_addIndex;
        } else if (index >= 0) {
            if (m_items[index].second == trimmed)
                return;
            m_items[index].second = trimmed;
        } else if (trimmed.isEmpty()) {
            return;
        } else if (m_addIndex > 0 && m_addIndex <= m_items.size()) {
            m_items.insert(m_addIndex, {name, trimmed});
            ++m_addIndex;
        } else {
            m_items.append({name, trimmed});
        }
        if (m_items.size() == m_items.capacity())
            m_items.reserve(m_items.size() + m_items.size() / 2);
    }
    changed();
}

QString ReportFields::field(const QString& name) const
{
    std::lock_guard guard(m_lock);
    const int index = indexOfLocked(name);
    return index >= 0 ? m_items[index].second : QString();
}

bool ReportFields::contains(const QString& name) const
{
    std::lock_guard guard(m_lock);
    return indexOfLocked(name) >= 0;
}

int ReportFields::count() const
{
    std::lock_guard guard(m_lock);
    return int(m_items.size());
}

QList<std::pair<QString, QString>> ReportFields::items() const
{
    std::lock_guard guard(m_lock);
    return m_items;
}

void ReportFields::clear()
{
    {
        std::lock_guard guard(m_lock);
        if (m_items.isEmpty())
            return;
        m_items.clear();
        m_addIndex = 0;
    }
    changed();
}

void ReportFields::setChangeHandler(std::function<void()> handler)
{
    std::lock_guard guard(m_lock);
    m_onChange = std::move(handler);
}

const CrashSettings* ReportFields::owner() const
{
    std::lock_guard guard(m_lock);
    return m_owner;
}

void ReportFields::clearOwner()
{
    std::lock_guard guard(m_lock);
    m_owner = nullptr;
}

void ReportFields::changed()
{
    std::function<void()> handler;
    {
        std::lock_guard guard(m_lock);
        handler = m_onChange;
    }
    if (handler)
        handler();
}

} // namespace crash
