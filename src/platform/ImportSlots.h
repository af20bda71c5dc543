#pragma once
// Import slots of loaded modules. A module reaches the functions it imports from other libraries
// through pointer-sized slots of its global offset table, named by its dynamic relocations (jump
// slots for calls, global-data slots for taken addresses). Rewriting such a slot sends every use
// the module makes of the import elsewhere; no code is patched.
//
// A module handle is its load address (see ModuleHandle.h); the walk reads the ELF headers found
// there, so any address can be passed: what is not a readable image gives nothing.

#include "platform/ModuleHandle.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace platform {

// Rewrites with `newAddress` every import slot of `module` (0 = the executable) for `function`
// imported from `library`, and answers the previous content of the last slot rewritten (0 when
// none was). Names compare without regard to ASCII case; the library is known by its file name.
// A slot belongs to the library when its current target lies in it, or when the module's own
// lookup of the function finds it there (so a slot can be put back after a redirection).
// Every read is checked first; problems go to stderr as "RdApiHook err1:" (one slot),
// "RdApiHook err2:" (one relocation table) or "RdApiHook err3:" (the whole walk) and nothing is
// thrown. Meant for moments when no other thread calls through the slots.
std::uintptr_t ReplaceImportSlots(ModuleHandle module, std::string_view function, std::string_view library,
                                  std::uintptr_t newAddress) noexcept;

// One function's rewrite in a walk that serves several: `previous` is filled in as above.
struct ImportRewrite
{
    std::string_view function;
    std::string_view library;
    std::uintptr_t newAddress = 0;
    std::uintptr_t previous = 0;
    // Also the pointers to the function that the loader stored into the module's data, such as
    // virtual table entries, which reach it without an import slot.
    bool alsoStoredPointers = false;
    // A slot holding exactly this address is rewritten too, wherever the address lies: where an
    // interposing library (a sanitizer's) serves the function and the new one passes calls on to
    // it, or where a redirection is undone.
    std::uintptr_t replacing = 0;
};

// The same for several functions in one walk of the module's tables, which is what a walk costs.
void ReplaceImportSlots(ModuleHandle module, std::span<ImportRewrite> rewrites) noexcept;

// While one is alive, rewrites on this thread take the protection of the slots' pages from one
// reading of the process's mappings instead of reading them for every slot. Only for moments when
// nothing else maps or protects memory (start-up, stop).
class ImportSlotWriteScope
{
public:
    ImportSlotWriteScope();
    ~ImportSlotWriteScope();
    ImportSlotWriteScope(const ImportSlotWriteScope&) = delete;
    ImportSlotWriteScope& operator=(const ImportSlotWriteScope&) = delete;

private:
    void* m_mappings = nullptr; // owned when this scope read them
};

// Copies `size` bytes at `address` of this process into `to`. False when any of them is not
// mapped readable; such memory is never touched directly.
bool ReadProcessBytes(std::uintptr_t address, void* to, std::size_t size) noexcept;

} // namespace platform
