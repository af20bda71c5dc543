#pragma once
// CRC-64/XZ (reflected polynomial 0xC96C5795D7870F42, all-ones start, inverted result): the content
// key of shared PNG data. Crc64("123456789") == 0x995DC9BBDF1939FA.

#include <cstddef>
#include <cstdint>

namespace imaging {

class Crc64
{
public:
    void Update(const void* data, size_t size);
    uint64_t Value() const { return ~m_state; }

    static uint64_t Of(const void* data, size_t size);
    // The same value through the byte tables alone, for checking the folded path.
    static uint64_t TableOnly(const void* data, size_t size);
    // CRC-32 of PNG chunks (zlib's crc32 semantics), folded the same way.
    static uint32_t Crc32(uint32_t crc, const void* data, size_t size);

private:
    uint64_t m_state = ~uint64_t(0);
};

} // namespace imaging
