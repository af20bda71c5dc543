#pragma once
// Whether the bytes before a value found on the stack end in a call instruction, which is what
// makes the value a possible return address. x86-64 call forms: E8 rel32 (5 bytes) and FF /2,
// FF /3 with any ModRM/SIB/displacement and an optional REX prefix (2 to 7 bytes).

#include <cstdint>
#include <optional>
#include <span>

namespace crash::stack {

struct CallSite
{
    std::uint64_t address = 0;            // first byte of the call instruction
    int length = 0;
    std::optional<std::uint64_t> target; // direct calls only
};

// The quick byte test: `before` are the bytes just before `returnAddress` (the last one ends right
// at it; up to 8). Returns the lengths (2..7) of call forms that would end there, as a bit set
// (bit n = a call of length n is possible).
unsigned PossibleCallLengths(std::span<const std::uint8_t> before);

// The decoder's verdict (capstone): the call instruction ending exactly at `returnAddress`, decoded
// from `before` (bytes up to the return address). Tries the lengths the byte test allows.
std::optional<CallSite> DecodeCallBefore(std::uint64_t returnAddress, std::span<const std::uint8_t> before);

} // namespace crash::stack
