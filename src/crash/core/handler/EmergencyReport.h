#pragma once
// The report written when the allocator cannot be used: its own code faulted, or the handling waits
// for its lock (held by a thread stopped inside it, or by the faulting thread itself). The normal
// report needs memory at every step, so this one is made from static buffers with system calls
// only: the header lines that identify the crash (the usual names, so the report file's readers
// and the merge of later reports take it as one of theirs), then the crashed thread's return
// addresses found on its stack, each with the file it lies in and its offset there (from the
// mappings of the moment) and, where the file exports it, the function's name. It is appended to the report
// file (or written to standard error when reports are not saved automatically) and the process ends with the
// reporter's exit code.

#include "crash/core/handler/HandleExceptionRequest.h"
#include "platform/FaultSignals.h"

namespace crash {

class EmergencyReport
{
public:
    // Takes what the report needs and cannot look up then: the report file's path and rules from
    // the main settings, the executable's name, the allocator's code. Allocates; at the start.
    static void prepare(const platform::CodeRanges& ranges);
    static const platform::CodeRanges& codeRanges();

    // Writes the report of `request` and ends the process. Async-signal-safe; a second caller waits
    // for the first one's end.
    [[noreturn]] static void saveAndClose(const HandleExceptionRequest& request) noexcept;
    // The report's text without saving it (for tests): the length written into `buffer`.
    static std::size_t compose(const HandleExceptionRequest& request, char* buffer,
                               std::size_t capacity) noexcept;
};

} // namespace crash
