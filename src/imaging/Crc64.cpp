#include "imaging/Crc64.h"

#include "imaging/CrcFold.h"

#include <zlib.h>

#include <array>
#include <cstring>

namespace imaging {
namespace {

constexpr uint64_t Polynomial = 0xC96C5795D7870F42ull;

// The byte table plus seven derived ones, so eight input bytes are folded per step; built once at
// module initialisation.
struct Tables
{
    std::array<std::array<uint64_t, 256>, 8> t{};
    Tables()
    {
        for (uint32_t i = 0; i < 256; ++i) {
            uint64_t c = i;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? (c >> 1) ^ Polynomial : c >> 1;
            t[0][i] = c;
        }
        for (uint32_t i = 0; i < 256; ++i)
            for (int s = 1; s < 8; ++s)
                t[s][i] = (t[s - 1][i] >> 8) ^ t[0][t[s - 1][i] & 0xFF];
    }
};

const Tables tables;

uint64_t TableRun(uint64_t c, const uint8_t* p, size_t size);

uint64_t ReduceBlock(const uint8_t* block16)
{
    return TableRun(0, block16, 16);
}

uint64_t TableRun(uint64_t c, const uint8_t* p, size_t size)
{
    const auto& t = tables.t;
    while (size >= 8) {
        uint64_t w;
        std::memcpy(&w, p, 8);
        if constexpr (__BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__)
            w = __builtin_bswap64(w);
        c ^= w;
        c = t[7][c & 0xFF] ^ t[6][(c >> 8) & 0xFF] ^ t[5][(c >> 16) & 0xFF] ^ t[4][(c >> 24) & 0xFF] ^
            t[3][(c >> 32) & 0xFF] ^ t[2][(c >> 40) & 0xFF] ^ t[1][(c >> 48) & 0xFF] ^ t[0][c >> 56];
        p += 8;
        size -= 8;
    }
    while (size--)
        c = t[0][(c ^ *p++) & 0xFF] ^ (c >> 8);
    return c;
}

} // namespace

void Crc64::Update(const void* data, size_t size)
{
    const auto* p = static_cast<const uint8_t*>(data);
    const size_t folded = CrcFold::Fold64(m_state, p, size, ReduceBlock);
    m_state = TableRun(m_state, p + folded, size - folded);
}

uint64_t Crc64::TableOnly(const void* data, size_t size)
{
    return ~TableRun(~uint64_t(0), static_cast<const uint8_t*>(data), size);
}

uint32_t Crc64::Crc32(uint32_t crc, const void* data, size_t size)
{
    const auto* p = static_cast<const uint8_t*>(data);
    uint32_t state = ~crc;
    const size_t folded = CrcFold::Fold32(state, p, size);
    // zlib takes uInt lengths; callers pass chunk data, which never exceeds 2^31 - 1.
    return uint32_t(::crc32(~state, p + folded, uInt(size - folded)));
}

uint64_t Crc64::Of(const void* data, size_t size)
{
    Crc64 crc;
    crc.Update(data, size);
    return crc.Value();
}

} // namespace imaging
