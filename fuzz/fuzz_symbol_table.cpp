// Any bytes as a packed symbol table (the embedded resource or a ".jdbg" file), as they are and
// behind a valid header: reading must refuse or accept without reading outside the data, and
// lookups in an accepted table must stay inside it.
#include "crash/core/stack/SymbolTable.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>
#include <zlib.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using crash::stack::SymbolTable;
    const auto probe = [](const SymbolTable& table, const uint8_t* data, size_t size) {
        std::vector<crash::stack::SymbolFrame> frames;
        for (size_t i = 0; i + 8 <= size && i < 64; i += 8) {
            std::uint64_t address = 0;
            std::memcpy(&address, data + i, 8);
            table.Lookup(address, frames);
            if (!table.functions.empty())
                table.Lookup(table.functions[address % table.functions.size()].start + (address & 0xff), frames);
        }
    };
    if (auto table = SymbolTable::Unpack({data, size}))
        probe(*table, data, size);

    // The same bytes as the unpacked body: a valid header and zlib stream around them.
    uLongf packedSize = compressBound(uLong(size));
    std::vector<std::uint8_t> packed(12 + packedSize);
    std::memcpy(packed.data(), "MSYT", 4);
    const std::uint32_t version = 1, raw = std::uint32_t(size);
    std::memcpy(packed.data() + 4, &version, 4);
    std::memcpy(packed.data() + 8, &raw, 4);
    if (compress2(packed.data() + 12, &packedSize, data, uLong(size), 1) != Z_OK)
        return 0;
    packed.resize(12 + packedSize);
    if (auto table = SymbolTable::Unpack(packed))
        probe(*table, data, size);
    return 0;
}
