// Any text as a linker map file beside a module: the reader keeps what parses and the lookups in
// what it kept stay inside it.
#include "crash/core/stack/MapFileSymbols.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    auto symbols = crash::stack::ParseLinkerMap(std::string_view(reinterpret_cast<const char*>(data), size));
    std::vector<std::uint64_t> probes;
    for (const auto& s : symbols)
        probes.push_back(s.start + 1);
    crash::stack::ElfSymbols table(std::move(symbols));
    std::vector<crash::stack::SymbolFrame> frames;
    for (std::uint64_t p : probes)
        table.Lookup(p, frames);
    return 0;
}
