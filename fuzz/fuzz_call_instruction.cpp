// Any bytes before a return address: the byte test and the decoder must agree that a confirmed
// call ends exactly at the address and is one the byte test allowed.
#include "crash/core/stack/CallInstruction.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 16)
        size = 16;
    const std::span<const std::uint8_t> before(data, size);
    const unsigned lengths = crash::stack::PossibleCallLengths(before);
    const std::uint64_t returnAddress = 0x7f0000100000;
    if (const auto site = crash::stack::DecodeCallBefore(returnAddress, before)) {
        if (site->address + std::uint64_t(site->length) != returnAddress || !(lengths & (1u << site->length)))
            std::abort();
    }
    return 0;
}
