#include "crash/core/handler/AllocatorStall.h"

namespace crash {

bool AllocatorStall::stuck(bool waitsInAllocator, long long progressStamp, long long nowMs) noexcept
{
    if (!waitsInAllocator || m_waitingSince < 0 || progressStamp != m_stamp) {
        m_waitingSince = waitsInAllocator ? nowMs : -1;
        m_stamp = progressStamp;
        return false;
    }
    return nowMs - m_waitingSince >= m_boundMs;
}

} // namespace crash
