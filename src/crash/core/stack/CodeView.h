#pragma once
// What the stack scan may ask about code: whether an address is code, which function holds it,
// whether a source line names it, and the bytes there (guarded). The tracer answers from the
// modules of this process; tests answer from a made-up code image.

#include <cstddef>
#include <cstdint>

namespace crash::stack {

// The code part of a function (a function split by the compiler has a hot and a cold part).
struct FunctionPart
{
    std::uint64_t entry = 0; // where the whole function is entered; 0 when no symbol names it
    std::uint64_t start = 0; // [start, end) of the part; 0 when unknown
    std::uint64_t end = 0;
};

class CodeView
{
public:
    virtual ~CodeView() = default;
    virtual bool IsCode(std::uint64_t address) = 0;
    // Start of the function holding `address`; 0 when unknown.
    virtual std::uint64_t FunctionStart(std::uint64_t address) = 0;
    virtual FunctionPart PartOf(std::uint64_t address) = 0;
    virtual bool HasLine(std::uint64_t address) = 0;
    // Reads code bytes; returns how many were readable.
    virtual std::size_t ReadCode(std::uint64_t address, std::uint8_t* buffer, std::size_t size) = 0;
};

} // namespace crash::stack
