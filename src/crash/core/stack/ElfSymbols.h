#pragma once
// Function names from a module's ELF symbol table (.symtab, or the exported .dynsym of a stripped
// library): the nearest function symbol at or below an address, when the address lies inside it.
// Sorted once per module so each lookup is a binary search.

#include "crash/core/stack/SymbolFrame.h"

#include <elfutils/libdwfl.h>

namespace crash::stack {

class ElfSymbols : public SymbolSource
{
public:
    struct Symbol
    {
        std::uint64_t start = 0; // module-relative
        std::uint64_t size = 0;  // 0 when the table does not say
        std::string name;        // as in the table (mangled)
    };

    explicit ElfSymbols(std::vector<Symbol> symbols);
    static ElfSymbols FromModule(Dwfl_Module* module, std::uint64_t moduleBias);

    bool Lookup(std::uint64_t address, std::vector<SymbolFrame>& frames) override;
    bool empty() const { return symbols_.empty(); }

private:
    std::vector<Symbol> symbols_; // sorted by start
};

} // namespace crash::stack
