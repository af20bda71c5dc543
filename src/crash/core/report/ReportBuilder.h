#pragma once
// Building a report's text in two steps, and saving it. The handling flow calls BuildReport at
// once (cheap: every field and section, with "will be calculated soon" placeholders) and then
// CompleteReport, normally on a thread of its own while the dialog already shows the first text.

#include "crash/core/report/ExceptionReport.h"
#include "crash/core/report/ThreadRecord.h"
#include "crash/core/stack/StackTrace.h"

#include <QString>
#include <atomic>
#include <cstdint>
#include <optional>
#include <vector>

namespace crash {

// What the interception point knows about the crashed thread.
struct CrashedThread
{
    std::int64_t threadId = 0;
    std::optional<stack::CpuContext> context;  // the fault's registers, when there was a fault
    std::vector<std::uint64_t> raiseTimeStack; // return addresses captured at throw time
    bool external = false;                     // a processor exception (signal), not a C++ throw
    bool abnormalTermination = false;
    std::vector<InnerException> innerExceptions; // nested exceptions, outermost first
};

struct ReportRequest
{
    CrashedThread crashed;
    bool listThreads = true;   // every other thread too (ListThreads)
    bool wholeProcess = false; // a whole-process trace: the reporter's own threads are listed too
    const std::atomic<bool>* cancel = nullptr;
    // Complete in a thread of its own (the handler thread of a process that is not blocked);
    // otherwise completion runs at once in the calling thread, with the please-wait box.
    bool completeInOwnThread = false;
};

// Fills header and sections (each field in its own protected step), then starts completion unless
// the report defers it. Does nothing when the report's filters say no report is wanted, or when it
// was built before.
void BuildReport(ExceptionReport& report, const ReportRequest& request);

// Traces the stacks, fills registers, stack dump, disassembly and plugin sections, writes the
// call-stack checksums and marks the report complete: runs a completion that has not started yet
// here, or waits for the one running.
void CompleteReport(ExceptionReport& report);

// Writes the report file: `explicitName` when given, else BugRepFile. Automatic saves turn
// BugRepFile into an absolute path and mark the report as written. True when written.
bool SaveReportFile(ExceptionReport& report, const QString& explicitName, bool automatic);

} // namespace crash
