#pragma once
// Carry-less-multiply folding for reflected CRCs (CRC-32 of PNG chunks, CRC-64/XZ keys): 16 bytes per
// step where the processor has the instruction; callers fall back to their tables otherwise.

#include <cstddef>
#include <cstdint>

namespace imaging {

class CrcFold
{
public:
    // Folds the whole 16-byte blocks of data into the register `state` (reflected, not inverted) and
    // returns how many bytes it consumed (0 when folding is not available or not worth it). `reduce`
    // turns the folded 16 bytes into a register again (a table CRC with register 0).
    static size_t Fold32(uint32_t& state, const uint8_t* data, size_t size);
    static size_t Fold64(uint64_t& state, const uint8_t* data, size_t size,
                         uint64_t (*reduce)(const uint8_t* block16));
};

} // namespace imaging
