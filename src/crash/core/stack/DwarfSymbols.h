#pragma once
// Symbols from DWARF debug information through libdw: in the module itself or in a separate debug
// file found by build-id or debuglink. Answers one address at a time (a module's whole DWARF can be
// large, a report needs a few hundred addresses) and caches each answer.

#include "crash/core/stack/SymbolFrame.h"

#include <elfutils/libdwfl.h>
#include <unordered_map>

namespace crash::stack {

class DwarfSymbols : public SymbolSource
{
public:
    // `moduleBias` turns module-relative addresses into this process's addresses.
    DwarfSymbols(Dwfl_Module* module, std::uint64_t moduleBias) : module_(module), bias_(moduleBias) {}
    bool Lookup(std::uint64_t address, std::vector<SymbolFrame>& frames) override;

    // Whether the module has DWARF at all (looks for the separate debug file on first call).
    static bool Available(Dwfl_Module* module);

private:
    bool Resolve(std::uint64_t address, std::vector<SymbolFrame>& frames);

    Dwfl_Module* module_;
    std::uint64_t bias_;
    std::unordered_map<std::uint64_t, std::vector<SymbolFrame>> cache_; // empty vector: not found
};

// The name that a subprogram or inlined-subroutine DIE gives its function (display form).
std::string DieFunctionName(Dwarf_Die* die);

// Where a function is entered (DWARF address); for a function split into hot and cold parts, the
// start of the hot part.
bool FunctionEntry(Dwarf_Die* function, Dwarf_Addr& entry);

// Of several line-table rows at one address, the one debuggers report: walking back over rows at
// that same address while the row is not a statement start, the statement row if one is found.
template <typename Address, typename Line, typename Statement>
std::size_t PreferStatementRow(std::size_t k, Address address, Line line, Statement isStatement)
{
    std::size_t at = k;
    while (at > 0 && address(at - 1) == address(at) && line(at - 1) != 0 && !isStatement(at))
        --at;
    return isStatement(at) ? at : k;
}

// Unit and line of the row that holds `address` (a DWARF address) in the compilation unit.
bool LineAt(Dwarf_Die* cu, Dwarf_Addr address, std::string& unit, int& line);

// The first line of a function (its declaration line); 0 when unknown.
int DeclLine(Dwarf_Die* die);

// Call site of an inlined subroutine: the unit and line in the function it was inlined into.
void InlineCallSite(Dwarf_Die* inlined, Dwarf_Die* cu, std::string& unit, int& line);

} // namespace crash::stack
