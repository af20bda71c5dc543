#pragma once
// The bug report's header: about the system, the program and the exception, one protected step per
// field so one that fails is simply left out.

#include "crash/core/report/ExceptionReport.h"
#include "crash/core/report/ReportSources.h"

namespace crash {

// Fills the header fields in their fixed order, then inserts the AddFields before the last field
// ahead of "callstack crc" and points the header's add index there.
void FillReportHeader(ExceptionReport& report, ReportSources& sources);

// The crash reporter's start, for "program up time"; set when the reporter starts up (and, failing
// that, when this code was loaded).
void NoteReporterStart();

// The name width rule of the layout, for lines added to a laid-out text: longest name plus one.
int HeaderNameWidth(const ReportFields& header);

} // namespace crash
