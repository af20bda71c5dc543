#pragma once
// Showing a file or folder to the user in the desktop's file manager.

#include <QString>

namespace platform {

// Asks the file-manager service of the session bus (org.freedesktop.FileManager1, ShowItems) to
// open the folder that holds `nativePath` with the item selected. Returns false, having sent
// nothing, when the bus cannot be reached or no such service is running or can be started; the
// service's own answer is not waited for.
bool FileManagerShowItem(const QString& nativePath);

// Starts the first file-manager program found on the PATH on `nativePath` (selecting it where the
// program can). Returns whether one was started.
bool StartFileManager(const QString& nativePath);

} // namespace platform
