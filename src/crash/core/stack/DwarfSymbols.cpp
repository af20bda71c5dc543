#include "crash/core/stack/DwarfSymbols.h"

#include "crash/core/stack/SymbolNames.h"

#include <cstdlib>
#include <dwarf.h>
#include <elfutils/libdw.h>

namespace crash::stack {

namespace {

// The DIE that carries a function's name: through abstract origins and specifications.
Dwarf_Die NamedOrigin(Dwarf_Die* die)
{
    Dwarf_Die current = *die;
    for (int step = 0; step < 8; ++step) { // bounded: a corrupt chain may loop
        Dwarf_Attribute attr;
        Dwarf_Die next;
        if (dwarf_hasattr(&current, DW_AT_name))
            return current;
        if (dwarf_formref_die(dwarf_attr(&current, DW_AT_abstract_origin, &attr), &next) == nullptr &&
            dwarf_formref_die(dwarf_attr(&current, DW_AT_specification, &attr), &next) == nullptr)
            return current;
        current = next;
    }
    return current;
}

// "ns::(anonymous namespace)::Class::" for a DIE without a mangled name, from its enclosing scopes.
std::string ScopePrefix(Dwarf_Die* named)
{
    Dwarf_Die* scopes = nullptr;
    const int count = dwarf_getscopes_die(named, &scopes);
    std::string prefix;
    for (int i = count - 1; i >= 1; --i) {
        const int tag = dwarf_tag(&scopes[i]);
        if (tag != DW_TAG_namespace && tag != DW_TAG_class_type && tag != DW_TAG_structure_type &&
            tag != DW_TAG_union_type)
            continue;
        const char* name = dwarf_diename(&scopes[i]);
        if (name == nullptr && tag != DW_TAG_namespace) {
            prefix.clear(); // a lambda's closure type: debuggers name its members without scope
            continue;
        }
        prefix += name != nullptr ? name : "(anonymous namespace)";
        prefix += "::";
    }
    std::free(scopes);
    return prefix;
}

} // namespace

bool FunctionEntry(Dwarf_Die* function, Dwarf_Addr& entry)
{
    if (dwarf_entrypc(function, &entry) == 0 || dwarf_lowpc(function, &entry) == 0)
        return true;
    // Split into hot and cold parts: the compiler lists the part with the entry first.
    Dwarf_Addr base = 0, start = 0, end = 0;
    return dwarf_ranges(function, 0, &base, &start, &end) > 0 && (entry = start, true);
}

std::string DieFunctionName(Dwarf_Die* die)
{
    Dwarf_Attribute attr;
    const char* linkage = dwarf_formstring(dwarf_attr_integrate(die, DW_AT_linkage_name, &attr));
    if (linkage == nullptr)
        linkage = dwarf_formstring(dwarf_attr_integrate(die, DW_AT_MIPS_linkage_name, &attr));
    if (linkage != nullptr)
        return FunctionDisplayName(linkage);
    Dwarf_Die named = NamedOrigin(die);
    const char* name = dwarf_diename(&named);
    if (name == nullptr)
        return {};
    return ScopePrefix(&named) + name;
}

namespace {

} // namespace

bool LineAt(Dwarf_Die* cu, Dwarf_Addr address, std::string& unit, int& line)
{
    Dwarf_Lines* lines = nullptr;
    size_t count = 0;
    if (dwarf_getsrclines(cu, &lines, &count) != 0 || count == 0)
        return false;
    const auto rowAddress = [&](size_t k) {
        Dwarf_Addr a = 0;
        dwarf_lineaddr(dwarf_onesrcline(lines, k), &a);
        return a;
    };
    const auto rowLine = [&](size_t k) {
        int n = 0;
        bool end = false;
        Dwarf_Line* row = dwarf_onesrcline(lines, k);
        dwarf_lineno(row, &n);
        dwarf_lineendsequence(row, &end);
        return end ? 0 : n;
    };
    const auto isStatement = [&](size_t k) {
        bool statement = false;
        dwarf_linebeginstatement(dwarf_onesrcline(lines, k), &statement);
        return statement;
    };
    size_t low = 0, high = count; // rows are sorted by address
    while (low < high) {
        const size_t middle = low + (high - low) / 2;
        if (rowAddress(middle) <= address)
            low = middle + 1;
        else
            high = middle;
    }
    if (low == 0)
        return false;
    size_t k = PreferStatementRow(low - 1, rowAddress, rowLine, isStatement);
    line = rowLine(k);
    if (line <= 0)
        return false;
    const char* path = dwarf_linesrc(dwarf_onesrcline(lines, k), nullptr, nullptr);
    unit = path != nullptr ? UnitOfPath(path) : std::string();
    return true;
}

int DeclLine(Dwarf_Die* die)
{
    int line = 0;
    return dwarf_decl_line(die, &line) == 0 ? line : 0;
}

void InlineCallSite(Dwarf_Die* inlined, Dwarf_Die* cu, std::string& unit, int& line)
{
    Dwarf_Attribute attr;
    Dwarf_Word value = 0;
    line = dwarf_formudata(dwarf_attr(inlined, DW_AT_call_line, &attr), &value) == 0 ? int(value) : 0;
    unit.clear();
    Dwarf_Files* files = nullptr;
    size_t count = 0;
    if (dwarf_formudata(dwarf_attr(inlined, DW_AT_call_file, &attr), &value) == 0 &&
        dwarf_getsrcfiles(cu, &files, &count) == 0 && value < count) {
        if (const char* path = dwarf_filesrc(files, value, nullptr, nullptr))
            unit = UnitOfPath(path);
    }
}

bool DwarfSymbols::Available(Dwfl_Module* module)
{
    Dwarf_Addr bias = 0;
    return dwfl_module_getdwarf(module, &bias) != nullptr;
}

bool DwarfSymbols::Lookup(std::uint64_t address, std::vector<SymbolFrame>& frames)
{
    auto cached = cache_.find(address);
    if (cached == cache_.end()) {
        std::vector<SymbolFrame> found;
        Resolve(address, found);
        cached = cache_.emplace(address, std::move(found)).first;
    }
    frames.insert(frames.end(), cached->second.begin(), cached->second.end());
    return !cached->second.empty();
}

bool DwarfSymbols::Resolve(std::uint64_t address, std::vector<SymbolFrame>& frames)
{
    const Dwarf_Addr pc = address + bias_;
    Dwarf_Addr dwBias = 0;
    Dwarf_Die* cu = dwfl_module_addrdie(module_, pc, &dwBias);
    if (cu == nullptr)
        return false;
    Dwarf_Die* scopes = nullptr;
    int count = dwarf_getscopes(cu, pc - dwBias, &scopes);
    if (count <= 0)
        return false;

    std::string unit;
    int line = 0;
    LineAt(cu, pc - dwBias, unit, line);
    // dwarf_getscopes continues past an inlined instance with its abstract definition's scopes, so
    // each inlining level restarts from the concrete scopes around that instance.
    const std::size_t first = frames.size();
    int i = 0;
    for (int guard = 0; guard < 64 && i < count; ++guard) {
        Dwarf_Die* die = &scopes[i];
        const int tag = dwarf_tag(die);
        if (tag != DW_TAG_inlined_subroutine && tag != DW_TAG_subprogram) {
            ++i;
            continue;
        }
        SymbolFrame frame{
            DieFunctionName(die), unit, line, DeclLine(die), 0, tag == DW_TAG_inlined_subroutine, 0};
        frames.push_back(frame);
        if (tag == DW_TAG_subprogram) {
            Dwarf_Addr entry = 0;
            if (FunctionEntry(die, entry)) {
                for (std::size_t k = first; k < frames.size(); ++k)
                    frames[k].functionStart = entry + dwBias - bias_;
            }
            Dwarf_Addr base = 0, low = 0, high = 0;
            for (ptrdiff_t offset = 0; (offset = dwarf_ranges(die, offset, &base, &low, &high)) > 0;) {
                if (pc - dwBias >= low && pc - dwBias < high) {
                    for (std::size_t k = first; k < frames.size(); ++k) {
                        frames[k].functionEnd = high + dwBias - bias_;
                        frames[k].partStart = low + dwBias - bias_;
                    }
                    break;
                }
            }
            break;
        }
        InlineCallSite(die, cu, unit, line);
        Dwarf_Die* outer = nullptr;
        const int outerCount = dwarf_getscopes_die(die, &outer);
        std::free(scopes);
        scopes = outer;
        count = outerCount;
        i = 1; // [0] is the inlined instance itself
    }
    std::free(scopes);
    if (frames.size() == first)
        return false;
    if (frames.back().inlined) // no enclosing subprogram found: keep the frames, mark the last as real
        frames.back().inlined = false;
    return true;
}

} // namespace crash::stack
