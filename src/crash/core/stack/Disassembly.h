#pragma once
// The "disassembling" text: the function around an address, with labels, source line numbers where
// they change, the jump tables of switch statements, and a mark at the address itself.

#include <QString>
#include <cstdint>

namespace crash::stack {

// `symbolic`: calls and jumps name their targets (functions, loc_ labels) instead of raw addresses.
// `limitLines` > 0 keeps about that many source lines around the address and marks cuts "[...]".
// Empty when the code cannot be read.
QString DisassembleFunction(std::uint64_t address, bool symbolic, int limitLines);

} // namespace crash::stack
