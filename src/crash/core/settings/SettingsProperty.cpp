#include "crash/core/settings/SettingsProperty.h"

namespace crash {

void SettingsPropertyList::append(SettingsProperty property)
{
    if (m_items.size() == m_items.capacity())
        m_items.reserve(m_items.capacity() == 0 ? InitialCapacity : m_items.capacity() + Growth);
    m_items.push_back(std::move(property));
}

const SettingsProperty* SettingsPropertyList::find(std::string_view name) const
{
    for (const SettingsProperty& p : m_items) {
        if (p.name == name)
            return &p;
    }
    return nullptr;
}

SettingsProperty* SettingsPropertyList::find(std::string_view name)
{
    return const_cast<SettingsProperty*>(std::as_const(*this).find(name));
}

} // namespace crash
