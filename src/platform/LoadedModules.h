#pragma once
// Every ELF object loaded into this process (the executable, shared libraries, the kernel's vdso),
// as the dynamic loader lists them.

#include <QString>
#include <chrono>
#include <cstdint>
#include <vector>

namespace platform {

struct LoadedModule
{
    std::uintptr_t base = 0; // where the lowest loadable segment starts (page-aligned)
    QString path;            // as loaded: "/lib/x86_64-linux-gnu/libQt6Core.so.6"; the vdso has no folder
    QString realPath;        // symbolic links resolved: ".../libQt6Core.so.6.4.2"; empty without a file
    QString soname;          // the object's DT_SONAME, when it has one
    bool executable = false;
};

// Lowest base first. When the loader's lock is not free within `lockWait` (a thread died holding
// it), the list comes from the kernel's map of the address space, without sonames.
std::vector<LoadedModule> ListLoadedModules(std::chrono::milliseconds lockWait = std::chrono::seconds(2));

} // namespace platform
