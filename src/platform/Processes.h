#pragma once
// The running processes of this Windows world, as a process snapshot lists them, and their
// forced termination. The Windows world is the Wine prefix: a process belongs to it when its
// environment names the same prefix (WINEPREFIX, else ~/.wine), so a copy of the product in
// another prefix, of another user or of another test run is never listed nor stopped.
// Both go through swappable handlers, so tests see a process table of their own making.

#include <QList>
#include <QString>
#include <functional>

namespace platform {

struct ProcessEntry
{
    qint64 pid = 0;
    // The first word of the command line (for a program run by Wine, the Windows path of its
    // ".exe"), or the kernel's short name when the command line is empty.
    QString exeName;
};

// Every process of the prefix in force, in process-id order. Empty when the list cannot be read.
QList<ProcessEntry> ProcessSnapshot();

// Ends the process at once, without asking it to close (the kernel's SIGKILL). False when the
// process is gone or belongs to someone this process may not signal.
bool TerminateProcess(qint64 pid);

struct ProcessHandlers
{
    std::function<QList<ProcessEntry>()> snapshot;
    std::function<bool(qint64 pid)> terminate;
};

// Installs the handlers behind the two functions above and returns those in force before; an
// empty member restores the real one.
ProcessHandlers SetProcessHandlers(ProcessHandlers handlers);

// The real implementations, for handlers that add to them.
QList<ProcessEntry> SystemProcessSnapshot();
bool SystemTerminateProcess(qint64 pid);

} // namespace platform
