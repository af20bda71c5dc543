#pragma once
// The freeze watchdog ("Halvorn - AntiFreezeThread"): probes the main thread every tenth of
// FreezeTimeout; after ten unanswered probes in a row it reports a freeze (type 1, source 1) and
// waits half as long again before the next report of the same freeze. An exception being handled
// pauses it and restarts its count.

namespace crash {

void StartFreezeWatchdog(int freezeTimeoutMs);
void StopFreezeWatchdog();

} // namespace crash
