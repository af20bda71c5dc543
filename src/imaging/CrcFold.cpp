#include "imaging/CrcFold.h"

#include <zlib.h>

#include <cstring>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define SKINTOOL_CLMUL 1
#endif

namespace imaging {
namespace {

#ifdef SKINTOOL_CLMUL

uint64_t Reverse64(uint64_t v)
{
    uint64_t r = 0;
    for (int i = 0; i < 64; ++i, v >>= 1)
        r = (r << 1) | (v & 1);
    return r;
}

// x^n mod P for the normal (unreflected) form of a degree-`width` polynomial.
uint64_t PowerMod(int n, uint64_t normal, int width)
{
    const uint64_t top = uint64_t(1) << (width - 1);
    const uint64_t mask = width == 64 ? ~uint64_t(0) : (uint64_t(1) << width) - 1;
    uint64_t r = 1;
    for (int i = 0; i < n; ++i) {
        const bool carry = (r & top) != 0;
        r = (r << 1) & mask;
        if (carry)
            r ^= normal;
    }
    return r;
}

// The fold constants in the register's bit order. A carry-less product of two reflected values comes
// out multiplied by x once more, hence x^127 and x^191 rather than x^128 and x^192.
struct Constants
{
    uint64_t k1 = 0; // x^191 mod P, multiplies the block's first 64 bits
    uint64_t k2 = 0; // x^127 mod P, multiplies its last 64 bits
    Constants(uint64_t reflectedPolynomial, int width)
    {
        const uint64_t normal = Reverse64(reflectedPolynomial) >> (64 - width);
        k1 = Reverse64(PowerMod(191, normal, width));
        k2 = Reverse64(PowerMod(127, normal, width));
    }
};

const bool hasClmul = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
const Constants crc32Constants(0xEDB88320u, 32);
const Constants crc64Constants(0xC96C5795D7870F42ull, 64);

__attribute__((target("pclmul,sse4.1"))) void FoldBlocks(uint8_t block[16], const uint8_t* data,
                                                         size_t blocks, const Constants& c)
{
    const __m128i k = _mm_set_epi64x(int64_t(c.k2), int64_t(c.k1));
    __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block));
    for (size_t i = 0; i < blocks; ++i) {
        const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 16 * i));
        x = _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(x, k, 0x00), _mm_clmulepi64_si128(x, k, 0x11)),
                          next);
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(block), x);
}

#endif

constexpr size_t MinimumSize = 64; // shorter runs are quicker through the tables

} // namespace

size_t CrcFold::Fold32(uint32_t& state, const uint8_t* data, size_t size)
{
#ifdef SKINTOOL_CLMUL
    if (!hasClmul || size < MinimumSize)
        return 0;
    // The register goes onto the first bytes; what is folded is then a message of its own.
    uint8_t block[16];
    std::memcpy(block, data, 16);
    for (int i = 0; i < 4; ++i)
        block[i] ^= uint8_t(state >> (8 * i));
    const size_t blocks = size / 16 - 1;
    FoldBlocks(block, data + 16, blocks, crc32Constants);
    // zlib with start value ~0 runs its register from 0.
    state = ~uint32_t(crc32(0xFFFFFFFFu, block, 16));
    return (blocks + 1) * 16;
#else
    (void)state, (void)data, (void)size;
    return 0;
#endif
}

size_t CrcFold::Fold64(uint64_t& state, const uint8_t* data, size_t size, uint64_t (*reduce)(const uint8_t*))
{
#ifdef SKINTOOL_CLMUL
    if (!hasClmul || size < MinimumSize)
        return 0;
    uint8_t block[16];
    std::memcpy(block, data, 16);
    for (int i = 0; i < 8; ++i)
        block[i] ^= uint8_t(state >> (8 * i));
    const size_t blocks = size / 16 - 1;
    FoldBlocks(block, data + 16, blocks, crc64Constants);
    state = reduce(block);
    return (blocks + 1) * 16;
#else
    (void)state, (void)data, (void)size, (void)reduce;
    return 0;
#endif
}

} // namespace imaging
