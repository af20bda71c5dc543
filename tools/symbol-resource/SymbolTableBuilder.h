#pragma once
// Builds the compact symbol table of a whole ELF file from its DWARF: every function's ranges with
// name and first line, every inlined call with its call site, and the line table.

#include "crash/core/stack/SymbolTable.h"

#include <optional>
#include <string>

namespace tools {

// The table of the file at `path`; empty with `error` set when it has no usable DWARF.
std::optional<crash::stack::SymbolTable> BuildSymbolTable(const std::string& path, std::string& error);

// The ELF note that carries `packed` (name "EXCEPT", 4-byte aligned), ready for objcopy.
std::vector<std::uint8_t> SymbolNote(const std::vector<std::uint8_t>& packed);

} // namespace tools
