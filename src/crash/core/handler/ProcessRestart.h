#pragma once
// Ending the program after a report: close (at once, with the reporter's exit code) and restart
// (a new process with the same command line and folder, which waits for this one to end and
// takes over the exception history through the shared section "HalvornRestart$<pid hex>").

#include "crash/core/handler/ExceptionHistory.h"

#include <QString>
#include <cstdint>

namespace crash {

// The exit code of a process the crash reporter closed.
inline constexpr int kReporterExitCode = 3;
// The exit code of the process that restarted itself.
inline constexpr int kRestartExitCode = 2;

[[noreturn]] void CloseProcess();
// Returns only when the new process could not be started or could not execute the program (the
// reason goes to standard error).
void RestartProcess(const ExceptionHistory& history);

QString RestartSectionName(std::uint32_t processId);

// At start-up: when this process was started by a restart, waits (up to `timeoutMs`) for the old
// process to end and returns true with its history in `history`.
bool TakeOverRestart(ExceptionHistory& history, int timeoutMs = 60000);

} // namespace crash
