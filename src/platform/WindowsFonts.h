#pragma once
// The fonts a Windows program of the prefix gets from Wine: the folders Wine's packages install
// its fonts into, then the prefix's own Fonts folder.

#include <QString>
#include <QStringList>

namespace platform {

// Folders searched, in order.
QStringList WindowsFontFolders();

// The full path of the first font file named `fileName` (matched without regard to case, as
// Windows does), or "" when no folder has it.
QString FindWindowsFont(const QString& fileName);

} // namespace platform
