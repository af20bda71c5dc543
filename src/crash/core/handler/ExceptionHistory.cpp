#include "crash/core/handler/ExceptionHistory.h"

#include <algorithm>

namespace crash {

void ExceptionHistory::record(std::uint64_t now)
{
    std::move_backward(m_slots.begin(), m_slots.end() - 1, m_slots.end());
    m_slots[0] = now;
}

bool ExceptionHistory::autoButtonRule(std::int32_t value, std::uint64_t now) const
{
    if (value <= 0)
        return false;
    if (value == 1)
        return true;
    return std::all_of(m_slots.begin(), m_slots.end(), [&](std::uint64_t slot) {
        // A slot from the future (clock set back) counts as recent rather than overflowing.
        return slot != 0 && (slot >= now || now - slot <= static_cast<std::uint64_t>(value));
    });
}

} // namespace crash
