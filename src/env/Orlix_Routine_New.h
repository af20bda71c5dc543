#pragma once
// Showing a file or folder in the file manager, and stopping every running copy of a program.

#include "platform/Processes.h"

#include <QString>
#include <functional>

namespace env {

// The runtime's Trim: characters up to blank (U+0000 to U+0020) removed from both ends.
QString TrimBlanks(const QString& text);

// Opens the folder that holds `path` with the item itself selected: through the desktop's
// file-manager service, else the folder with the desktop's default opener, else a file manager
// started on the path. Reports nothing and raises nothing. A Windows drive path is taken through
// the Wine prefix; a relative one is relative to the current folder.
void OpenFolderAndSelect(const QString& path) noexcept;

// Terminates every process whose executable name is `exeName` (compared with only the letters
// a to z folded, on the file-name part or else the whole name). Returns the outcome of the last
// termination attempt; false when nothing matched. Does not wait for the processes to end.
bool KillProcessesByName(const QString& exeName);

// The walk of KillProcessesByName over given entries, terminating with `terminate`.
bool KillMatchingProcesses(const QList<platform::ProcessEntry>& entries, const QString& exeName,
                           const std::function<bool(qint64)>& terminate);

// Whether a process's executable name stands for `exeName`.
bool ExeNameMatches(const QString& name, const QString& exeName);

} // namespace env
