#pragma once
// Loaded modules of this process, seen the way the Windows module functions see them: a module is
// known by its load address (where its image header is mapped), and 0 stands for the executable
// wherever a Windows call would take a null handle. Resources live in ELF notes of the module image
// (note name = resource name, note type = resource type), so each module's own data is found from
// its handle without the module exporting anything.

#include "platform/WinTypes.h"

#include <QString>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace platform {

using ModuleHandle = std::uintptr_t;

// Load address of the executable.
ModuleHandle MainModuleHandle();

// The module whose image contains `address`, or 0 when no loaded module does.
ModuleHandle ModuleOfAddress(const void* address);

// Full native path of the module file; 0 means the executable. "" for a handle that is not loaded.
QString ModuleFileName(ModuleHandle module);

// Every loaded module, executable included, lowest load address first.
std::vector<ModuleHandle> LoadedModules();

// The same with each module's file name as ModuleFileName gives it, in one walk of the loader's list:
// cheap enough for the start-up (the report's fuller list is ListLoadedModules, LoadedModules.h).
struct ModuleFile
{
    ModuleHandle handle = 0;
    QString fileName;
};
std::vector<ModuleFile> LoadedModuleFiles();

// The bytes of resource `name` of `type` in the module (0 = the executable); empty when the module
// has none. The bytes stay valid while the module is loaded.
std::span<const std::byte> FindModuleResource(ModuleHandle module, std::string_view name,
                                              std::uint32_t type = RT_RCDATA);

// How many bytes from `address` on lie inside one mapped, readable segment of the module; 0 when the
// address is outside it. For following pointers found in a module's data without trusting them.
std::size_t ModuleReadableBytes(ModuleHandle module, std::uintptr_t address);

} // namespace platform
