#pragma once
// The times of the last ten handled exceptions, newest first, and the auto-button rule built on
// them. Written only by the handler thread; the restart hands it to the new process.

#include <array>
#include <cstdint>

namespace crash {

class ExceptionHistory
{
public:
    static constexpr int kSlots = 10;
    using Slots = std::array<std::uint64_t, kSlots>; // seconds since the epoch, 0 = empty

    // Shifts by one slot and stores `now` in the newest.
    void record(std::uint64_t now);
    const Slots& times() const { return m_slots; }
    void assign(const Slots& times) { m_slots = times; }

    // AutoClose / AutoRestart: 0 false, 1 true, N > 1 true when all ten slots lie within the last
    // N seconds.
    bool autoButtonRule(std::int32_t value, std::uint64_t now) const;

private:
    Slots m_slots{};
};

} // namespace crash
