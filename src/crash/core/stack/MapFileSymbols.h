#pragma once
// Function names from a GNU linker map file (ld -Map) beside a module. Only the symbol lines of
// executable output sections count ("  0x<address>   <name>" under ".text" and friends); a
// map file gives names, never units or lines.

#include "crash/core/stack/ElfSymbols.h"

#include <string_view>

namespace crash::stack {

// The function symbols of a map file's text; malformed lines are skipped.
std::vector<ElfSymbols::Symbol> ParseLinkerMap(std::string_view text);

} // namespace crash::stack
