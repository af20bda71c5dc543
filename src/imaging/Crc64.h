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

private:
    uint64_t m_state = ~uint64_t(0);
};

} // namespace imaging
