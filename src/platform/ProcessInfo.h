#pragma once
// Identity of the running process.

#include <cstdint>

namespace platform {

std::uint32_t CurrentProcessId();

// A value that tells this process apart from an earlier one that had the same id: the process's
// start time in clock ticks since boot. Named objects of a process that died can be recognised
// when a new process inherits its id.
std::uint64_t ProcessStartStamp();
// The same for another process of this PID namespace as /proc shows it; 0 when it does not run.
std::uint64_t ProcessStartStampOf(std::uint32_t processId);

} // namespace platform
