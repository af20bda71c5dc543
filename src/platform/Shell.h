#pragma once
// Starting things the way the Windows shell does, on this machine:
// - a program of the product's prefix (a ".exe" given by Windows or native path) is started
//   through $WINE (else "wine") with WINEPREFIX set, as the desktop would start it;
// - a folder, document or web address is opened with the desktop's default opener.

#include <QString>
#include <QStringList>

namespace platform {

// The "open" verb without waiting. Returns whether the start itself worked; callers that follow
// the Windows habit ignore it and judge success from the files afterwards.
bool ShellOpen(const QString& target, const QStringList& arguments = {}, const QString& workingFolder = {});

// The Wine loader in force: $WINE, else "wine".
QString WineLoader();

} // namespace platform
