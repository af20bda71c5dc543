#include "crash/core/stack/MapFileSymbols.h"

#include <cctype>
#include <charconv>

namespace crash::stack {
namespace {

std::string_view Trim(std::string_view s)
{
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front())))
        s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back())))
        s.remove_suffix(1);
    return s;
}

bool ParseHex(std::string_view s, std::uint64_t& value)
{
    if (s.size() < 3 || s[0] != '0' || (s[1] != 'x' && s[1] != 'X'))
        return false;
    const auto r = std::from_chars(s.data() + 2, s.data() + s.size(), value, 16);
    return r.ec == std::errc() && r.ptr == s.data() + s.size();
}

bool IsCodeSection(std::string_view name)
{
    return name == ".text" || name.starts_with(".text.") || name == ".init" || name == ".fini" ||
           name == ".plt";
}

} // namespace

std::vector<ElfSymbols::Symbol> ParseLinkerMap(std::string_view text)
{
    std::vector<ElfSymbols::Symbol> symbols;
    bool inCode = false;
    bool inMemoryMap = false;
    while (!text.empty()) {
        const auto end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (line.starts_with("Linker script and memory map")) {
            inMemoryMap = true;
            continue;
        }
        if (!inMemoryMap || line.empty())
            continue;
        if (line[0] == '.' || std::isalpha(static_cast<unsigned char>(line[0])) || line[0] == '/') {
            // An output section (".text   0x... 0x...") or another top-level statement.
            const std::string_view name = line.substr(0, line.find_first_of(" \t"));
            inCode = IsCodeSection(name);
            continue;
        }
        if (!inCode)
            continue;
        const std::string_view body = Trim(line);
        const auto gap = body.find_first_of(" \t");
        if (gap == std::string_view::npos)
            continue;
        std::uint64_t address = 0;
        if (!ParseHex(body.substr(0, gap), address))
            continue;
        const std::string_view rest = Trim(body.substr(gap));
        // Symbol lines hold one address and a name; input-section lines hold a size and a file.
        if (rest.empty() || rest.starts_with("0x") || rest.find('=') != std::string_view::npos ||
            rest.starts_with("PROVIDE") || rest.starts_with("."))
            continue;
        symbols.push_back({address, 0, std::string(rest)});
    }
    return symbols;
}

} // namespace crash::stack
