#pragma once
// The "modules" report section: every loaded ELF object in address order, one line each: load
// base (16 hex digits), file name, version and folder, in aligned columns.

#include "platform/LoadedModules.h"

#include <QString>
#include <vector>

namespace crash {

class ModulesPlugin
{
public:
    // This process's modules now; the executable gets the program's version.
    static QString systemText();
    // `executableVersion` stands for the executable, whose file name carries no version.
    static QString text(const std::vector<platform::LoadedModule>& modules, const QString& executableVersion);

    // What a shared object's name carries after ".so.": "libQt6Core.so.6.4.2" -> "6.4.2".
    static QString versionInName(const QString& fileName);
};

} // namespace crash
