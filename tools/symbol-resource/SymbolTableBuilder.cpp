// One pass over all compilation units. Functions are the subprogram DIEs that have code (their
// address ranges); their inlined calls are collected from their subtree with the nesting depth.
// Discarded copies (address 0) are skipped, overlapping ranges keep the first function.

#include "SymbolTableBuilder.h"

#include "crash/core/stack/DwarfSymbols.h"
#include "crash/core/stack/SymbolNames.h"

#include <algorithm>
#include <cstring>
#include <dwarf.h>
#include <elfutils/libdw.h>
#include <fcntl.h>
#include <gelf.h>
#include <libelf.h>
#include <map>
#include <unistd.h>

namespace tools {
namespace {

using crash::stack::SymbolTable;

class Builder
{
public:
    std::uint32_t Name(const std::string& name)
    {
        auto [it, added] = names_.emplace(name, std::uint32_t(table.names.size()));
        if (added)
            table.names.push_back(name);
        return it->second;
    }

    void Unit(Dwarf_Die* cu)
    {
        AddLines(cu);
        Walk(cu, cu);
    }

    void Finish()
    {
        std::stable_sort(table.functions.begin(), table.functions.end(),
                         [](const auto& a, const auto& b) { return a.start < b.start; });
        std::vector<SymbolTable::Function> kept;
        for (const auto& f : table.functions)
            if (kept.empty() || f.start >= kept.back().start + kept.back().size)
                kept.push_back(f);
        table.functions = std::move(kept);
        // Several rows at one address: keep the one debuggers report (PreferStatementRow); a
        // sequence end gives way to a row that starts code there.
        std::vector<std::size_t> order(table.lines.size());
        for (std::size_t i = 0; i < order.size(); ++i)
            order[i] = i;
        std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
            return table.lines[a].address < table.lines[b].address;
        });
        std::vector<SymbolTable::Line> rows;
        for (std::size_t k = 0; k < order.size(); ++k) {
            if (k + 1 < order.size() && table.lines[order[k + 1]].address == table.lines[order[k]].address)
                continue; // decide at the last row of the address
            std::size_t chosen = crash::stack::PreferStatementRow(
                k, [&](std::size_t i) { return table.lines[order[i]].address; },
                [&](std::size_t i) { return table.lines[order[i]].line; },
                [&](std::size_t i) { return statements_[order[i]]; });
            if (table.lines[order[chosen]].line == 0) {
                // A sequence end where another sequence starts: the start holds.
                for (std::size_t i = k;
                     i > 0 && table.lines[order[i]].address == table.lines[order[k]].address; --i)
                    if (table.lines[order[i]].line != 0) {
                        chosen = i;
                        break;
                    }
            }
            rows.push_back(table.lines[order[chosen]]);
        }
        table.lines = std::move(rows);
    }

    SymbolTable table;

private:
    void AddLines(Dwarf_Die* cu)
    {
        Dwarf_Lines* lines = nullptr;
        size_t count = 0;
        if (dwarf_getsrclines(cu, &lines, &count) != 0)
            return;
        std::map<const char*, std::uint32_t> units;
        for (size_t i = 0; i < count; ++i) {
            Dwarf_Line* line = dwarf_onesrcline(lines, i);
            Dwarf_Addr address = 0;
            int number = 0;
            bool end = false;
            if (line == nullptr || dwarf_lineaddr(line, &address) != 0 || dwarf_lineno(line, &number) != 0)
                continue;
            dwarf_lineendsequence(line, &end);
            bool statement = false;
            dwarf_linebeginstatement(line, &statement);
            const char* path = dwarf_linesrc(line, nullptr, nullptr);
            std::uint32_t unit = 0;
            if (path != nullptr) {
                auto found = units.find(path);
                unit = found != units.end()
                           ? found->second
                           : units.emplace(path, Name(crash::stack::UnitOfPath(path))).first->second;
            }
            table.lines.push_back({address, unit, end ? 0u : std::uint32_t(std::max(number, 0))});
            statements_.push_back(statement);
        }
    }

    void Walk(Dwarf_Die* parent, Dwarf_Die* cu)
    {
        Dwarf_Die child;
        if (dwarf_child(parent, &child) != 0)
            return;
        do {
            const int tag = dwarf_tag(&child);
            if (tag == DW_TAG_subprogram)
                Function(&child, cu);
            else if (tag == DW_TAG_namespace || tag == DW_TAG_class_type || tag == DW_TAG_structure_type ||
                     tag == DW_TAG_union_type)
                Walk(&child, cu);
        } while (dwarf_siblingof(&child, &child) == 0);
    }

    void Function(Dwarf_Die* die, Dwarf_Die* cu)
    {
        Dwarf_Addr base = 0, start = 0, end = 0;
        std::vector<std::pair<Dwarf_Addr, Dwarf_Addr>> ranges;
        for (ptrdiff_t offset = 0; (offset = dwarf_ranges(die, offset, &base, &start, &end)) > 0;)
            if (start != 0 && end > start)
                ranges.emplace_back(start, end);
        if (ranges.empty())
            return;
        Dwarf_Addr entry = ranges.front().first;
        crash::stack::FunctionEntry(die, entry);
        const std::uint32_t name = Name(crash::stack::DieFunctionName(die));
        const auto firstLine = std::uint32_t(std::max(crash::stack::DeclLine(die), 0));
        const auto inlineBegin = std::uint32_t(table.inlines.size());
        Inlines(die, cu, 1);
        const auto inlineCount = std::uint32_t(table.inlines.size()) - inlineBegin;
        for (const auto& [lo, hi] : ranges)
            table.functions.push_back(
                {lo, std::uint32_t(hi - lo), name, firstLine, inlineBegin, inlineCount, entry});
    }

    void Inlines(Dwarf_Die* parent, Dwarf_Die* cu, std::uint32_t depth)
    {
        if (depth > 64)
            return;
        Dwarf_Die child;
        if (dwarf_child(parent, &child) != 0)
            return;
        do {
            const int tag = dwarf_tag(&child);
            if (tag == DW_TAG_lexical_block) {
                Inlines(&child, cu, depth);
            } else if (tag == DW_TAG_inlined_subroutine) {
                std::string unit;
                int line = 0;
                crash::stack::InlineCallSite(&child, cu, unit, line);
                const std::uint32_t name = Name(crash::stack::DieFunctionName(&child));
                const std::uint32_t callUnit = Name(unit);
                const auto firstLine = std::uint32_t(std::max(crash::stack::DeclLine(&child), 0));
                Dwarf_Addr base = 0, start = 0, end = 0;
                for (ptrdiff_t offset = 0; (offset = dwarf_ranges(&child, offset, &base, &start, &end)) > 0;)
                    if (start != 0 && end > start)
                        table.inlines.push_back({start, std::uint32_t(end - start), name, depth, callUnit,
                                                 std::uint32_t(std::max(line, 0)), firstLine});
                Inlines(&child, cu, depth + 1);
            }
        } while (dwarf_siblingof(&child, &child) == 0);
    }

    std::map<std::string, std::uint32_t> names_;
    std::vector<bool> statements_; // beside table.lines while building
};

} // namespace

namespace {

// Whether the ELF file open at `fd` carries a DWARF debug-information section.
bool HasDebugInformation(int fd)
{
    elf_version(EV_CURRENT);
    Elf* elf = elf_begin(fd, ELF_C_READ, nullptr);
    if (!elf)
        return true; // not even ELF: let the caller report it
    bool found = false;
    std::size_t names = 0;
    if (elf_getshdrstrndx(elf, &names) == 0) {
        for (Elf_Scn* section = elf_nextscn(elf, nullptr); section && !found;
             section = elf_nextscn(elf, section)) {
            GElf_Shdr header;
            const char* name =
                gelf_getshdr(section, &header) ? elf_strptr(elf, names, header.sh_name) : nullptr;
            found = name && (std::strcmp(name, ".debug_info") == 0 || std::strcmp(name, ".zdebug_info") == 0);
        }
    }
    elf_end(elf);
    return found;
}

} // namespace

std::optional<SymbolTable> BuildSymbolTable(const std::string& path, std::string& error)
{
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = "cannot open";
        return std::nullopt;
    }
    Dwarf* dwarf = dwarf_begin(fd, DWARF_C_READ);
    if (dwarf == nullptr) {
        const bool noDebugInformation = !HasDebugInformation(fd);
        close(fd);
        // A build without debug information (the benchmarks') still links: its call stacks name
        // functions from the ELF symbols alone.
        if (noDebugInformation)
            return SymbolTable{};
        error = "cannot read the DWARF debug information";
        return std::nullopt;
    }
    Builder builder;
    Dwarf_Off offset = 0, next = 0;
    size_t headerSize = 0;
    while (dwarf_nextcu(dwarf, offset, &next, &headerSize, nullptr, nullptr, nullptr) == 0) {
        Dwarf_Die cu;
        if (dwarf_offdie(dwarf, offset + headerSize, &cu) != nullptr)
            builder.Unit(&cu);
        offset = next;
    }
    dwarf_end(dwarf);
    close(fd);
    builder.Finish();
    if (builder.table.functions.empty()) {
        error = "no functions in the debug information";
        return std::nullopt;
    }
    return std::move(builder.table);
}

std::vector<std::uint8_t> SymbolNote(const std::vector<std::uint8_t>& packed)
{
    const std::string name = crash::stack::SymbolNoteName;
    std::vector<std::uint8_t> note;
    auto u32 = [&](std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            note.push_back(std::uint8_t(v >> (8 * i)));
    };
    u32(std::uint32_t(name.size() + 1));
    u32(std::uint32_t(packed.size()));
    u32(crash::stack::SymbolNoteType);
    note.insert(note.end(), name.begin(), name.end());
    note.push_back(0);
    while (note.size() % 4)
        note.push_back(0);
    note.insert(note.end(), packed.begin(), packed.end());
    while (note.size() % 4)
        note.push_back(0);
    return note;
}

} // namespace tools
