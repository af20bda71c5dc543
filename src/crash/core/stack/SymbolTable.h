#pragma once
// The compact symbol table carried inside an executable (an ELF note, "EXCEPT") or in a ".jdbg"
// file beside a library: function ranges with names and first lines, inlined ranges with their call
// sites, and the line table, zlib-packed. The build tool writes it from DWARF after linking, so a
// copy stripped of its debug information still names function, unit and line.
//
// Reading trusts nothing: every count, offset and string is checked against the unpacked size,
// and a table that fails a check is rejected whole (the module then has fewer names, never a crash).

#include "crash/core/stack/SymbolFrame.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace crash::stack {

struct SymbolTable
{
    struct Function
    {
        std::uint64_t start = 0;
        std::uint32_t size = 0;
        std::uint32_t name = 0; // index into names
        std::uint32_t firstLine = 0;
        std::uint32_t inlineBegin = 0; // the function's inlined ranges: inlines[begin, begin + count)
        std::uint32_t inlineCount = 0;
        std::uint64_t entry = 0; // start of the whole function (a cold part points at its hot entry)
    };
    struct Inline
    {
        std::uint64_t start = 0;
        std::uint32_t size = 0;
        std::uint32_t name = 0;
        std::uint32_t depth = 1; // 1 = inlined directly into the function
        std::uint32_t callUnit = 0;
        std::uint32_t callLine = 0;
        std::uint32_t firstLine = 0;
    };
    struct Line
    {
        std::uint64_t address = 0;
        std::uint32_t unit = 0;
        std::uint32_t line = 0; // 0 ends a sequence
    };

    std::vector<std::string> names; // function display names and unit names
    std::vector<Function> functions; // sorted by start, not overlapping
    std::vector<Inline> inlines;
    std::vector<Line> lines; // sorted by address

    // The frames at `address` (innermost first); false when no function holds it.
    bool Lookup(std::uint64_t address, std::vector<SymbolFrame>& frames) const;

    // The packed form (also a ".jdbg" file's whole content).
    std::vector<std::uint8_t> Pack() const;
    static std::optional<SymbolTable> Unpack(std::span<const std::uint8_t> packed);
};

// The note that carries the packed table in an executable.
inline constexpr const char* SymbolNoteName = "EXCEPT";
inline constexpr const char* SymbolNoteSection = ".note.EXCEPT";
inline constexpr std::uint32_t SymbolNoteType = 0x4c4551; // "QEL"

class TableSymbols : public SymbolSource
{
public:
    explicit TableSymbols(SymbolTable table) : table_(std::move(table)) {}
    bool Lookup(std::uint64_t address, std::vector<SymbolFrame>& frames) override
    {
        return table_.Lookup(address, frames);
    }

private:
    SymbolTable table_;
};

} // namespace crash::stack
