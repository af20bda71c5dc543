#include "crash/core/settings/ReportAttachments.h"

namespace crash {

void ReportAttachments::add(const ReportAttachment& attachment)
{
    std::lock_guard guard(m_lock);
    m_items.append(attachment);
}

QList<ReportAttachment> ReportAttachments::items() const
{
    std::lock_guard guard(m_lock);
    return m_items;
}

int ReportAttachments::count() const
{
    std::lock_guard guard(m_lock);
    return int(m_items.size());
}

const CrashSettings* ReportAttachments::owner() const
{
    std::lock_guard guard(m_lock);
    return m_owner;
}

void ReportAttachments::clearOwner()
{
    std::lock_guard guard(m_lock);
    m_owner = nullptr;
}

} // namespace crash
