#pragma once
// The "processes" report section: every process in id order, one line each: id (hex, zero-padded
// to the widest), file name, session id (only when some process has one that is not 0), priority
// class and folder, in aligned columns. A program run by Wine is listed under its Windows
// executable, since that is the program the user knows.

#include "platform/ProcessTable.h"

#include <QString>
#include <vector>

namespace crash {

class ProcessesPlugin
{
public:
    // The machine's processes now.
    static QString systemText();
    static QString text(const std::vector<platform::ProcessStatus>& processes);

    // "normal", "idle", "high", "realtime" or "below normal"; nice values cannot express
    // "above normal".
    static QString priorityText(const platform::ProcessStatus& process);
};

} // namespace crash
