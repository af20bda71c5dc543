#pragma once
// What a symbol source answers for one code address: the frames at that address, innermost first.
// An address inside inlined code gives one frame per inlining level, the real function last.

#include <cstdint>
#include <string>
#include <vector>

namespace crash::stack {

struct SymbolFrame
{
    std::string function;            // display name (SymbolNames.h)
    std::string unit;                // empty when unknown
    int line = 0;                    // 0 when unknown
    int firstLine = 0;               // the function's first line; 0 when unknown
    std::uint64_t functionStart = 0; // module-relative start of the real function; 0 when unknown
    bool inlined = false;
    std::uint64_t functionEnd = 0; // module-relative end of the code part holding the address; 0 unknown
    std::uint64_t partStart = 0;   // module-relative start of that code part; 0 unknown
};

// One module's symbol data, whatever its origin. Addresses are module-relative (as in the file).
class SymbolSource
{
public:
    virtual ~SymbolSource() = default;
    // Appends the frames at `address`; false when this source knows nothing about it.
    virtual bool Lookup(std::uint64_t address, std::vector<SymbolFrame>& frames) = 0;
};

} // namespace crash::stack
