#pragma once
// The running processes, as a process snapshot lists them, and their forced termination.

#include <QList>
#include <QString>

namespace platform {

struct ProcessEntry
{
    qint64 pid = 0;
    // The first word of the command line (for a program run by Wine, the Windows path of its
    // ".exe"), or the kernel's short name when the command line is empty.
    QString exeName;
};

// Every process visible to this user, in process-id order. Empty when the list cannot be read.
QList<ProcessEntry> ProcessSnapshot();

// Ends the process at once, without asking it to close (the kernel's SIGKILL). False when the
// process is gone or belongs to someone this process may not signal.
bool TerminateProcess(qint64 pid);

} // namespace platform
