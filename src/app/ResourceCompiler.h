#pragma once
// Turns one working folder beside the tool into a resource bundle in "NewSkin": a project run
// of the resource compiler lists the folder's files, a compile run builds the bundle from that
// list. The compiler's exit code and output are not read; success is judged by the files.

#include <QString>

namespace app {

// `name` is the bundle name without extension, `sourceFolder` the working folder's full path
// with a trailing separator. Raises "Not find rcc.exe" and "Make qrc failed"; a missing bundle
// after the compile run only shows "Make skin failed!".
void RunResourceCompiler(const QString& name, const QString& sourceFolder);

} // namespace app
