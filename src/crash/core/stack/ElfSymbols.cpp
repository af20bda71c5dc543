#include "crash/core/stack/ElfSymbols.h"

#include "crash/core/stack/SymbolNames.h"

#include <algorithm>
#include <gelf.h>

namespace crash::stack {

ElfSymbols::ElfSymbols(std::vector<Symbol> symbols) : symbols_(std::move(symbols))
{
    // At one address a sized symbol wins (so containment can be checked), then the name that sorts
    // last, as debuggers choose among aliases ("clone3" over "__clone3").
    std::sort(symbols_.begin(), symbols_.end(), [](const Symbol& a, const Symbol& b) {
        if (a.start != b.start)
            return a.start < b.start;
        if ((a.size != 0) != (b.size != 0))
            return a.size != 0;
        return a.name > b.name;
    });
    symbols_.erase(std::unique(symbols_.begin(), symbols_.end(),
                               [](const Symbol& a, const Symbol& b) { return a.start == b.start; }),
                   symbols_.end());
}

ElfSymbols ElfSymbols::FromModule(Dwfl_Module* module, std::uint64_t moduleBias)
{
    std::vector<Symbol> symbols;
    const int count = dwfl_module_getsymtab(module);
    for (int i = 1; i < count; ++i) {
        GElf_Sym sym;
        GElf_Addr address = 0;
        GElf_Word section = 0;
        const char* name = dwfl_module_getsym_info(module, i, &sym, &address, &section, nullptr, nullptr);
        const int type = GELF_ST_TYPE(sym.st_info);
        if (name == nullptr || *name == 0 || section == SHN_UNDEF ||
            (type != STT_FUNC && type != STT_GNU_IFUNC))
            continue;
        if (address < moduleBias)
            continue;
        symbols.push_back({address - moduleBias, sym.st_size, name});
    }
    return ElfSymbols(std::move(symbols));
}

bool ElfSymbols::Lookup(std::uint64_t address, std::vector<SymbolFrame>& frames)
{
    auto it = std::upper_bound(symbols_.begin(), symbols_.end(), address,
                               [](std::uint64_t a, const Symbol& s) { return a < s.start; });
    if (it == symbols_.begin())
        return false;
    --it;
    if (it->size != 0 && address - it->start >= it->size)
        return false;
    frames.push_back({FunctionDisplayName(it->name),
                      {},
                      0,
                      0,
                      it->start,
                      false,
                      it->size ? it->start + it->size : 0,
                      it->start});
    return true;
}

} // namespace crash::stack
