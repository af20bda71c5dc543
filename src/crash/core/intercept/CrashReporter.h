#pragma once
// Start-up and shut-down of the crash reporter in the executable: settings, handler thread,
// interception points (application seam, faults, terminate, run-time errors, thread creation,
// throw, thread naming), freeze watchdog, out-of-memory reserve and the restart take-over.

#include <QByteArray>

namespace crash {

struct ReporterStartOptions
{
    // A settings stream that replaces the executable's settings resource (test programs).
    QByteArray settingsOverride;
};

// Call once at the start of main, before the application object; what needs the application
// object (the main-thread bridge) is attached when it is created. False when the reporter is off.
bool StartCrashReporter(const ReporterStartOptions& options = {});
void StopCrashReporter();

} // namespace crash
