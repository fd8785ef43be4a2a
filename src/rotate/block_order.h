// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The order in which a JPEG scan codes the coefficients of a block, and masks of where a block is
// not zero in that order, for the symbol counts and the progressive writer.

// clang-format off
#include <cstdio> // jpeglib.h needs FILE
#include <jpeglib.h>
// clang-format on

#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace rotate {

// The row-major index of the coefficient at each zigzag position.
inline constexpr std::uint8_t kZigzag[DCTSIZE2] = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
    41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
    30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

// Moves bit n of a row-major mask to the zigzag position of coefficient n, a nibble at a time.
struct ZigzagMasks {
    std::uint64_t ofNibble[DCTSIZE2 / 4][16] = {};
};
constexpr ZigzagMasks MakeZigzagMasks() {
    int zigzagOf[DCTSIZE2] = {};
    for (int z = 0; z < DCTSIZE2; ++z)
        zigzagOf[kZigzag[z]] = z;
    ZigzagMasks masks;
    for (int nibble = 0; nibble < DCTSIZE2 / 4; ++nibble)
        for (int bits = 0; bits < 16; ++bits)
            for (int b = 0; b < 4; ++b)
                if (bits & (1 << b))
                    masks.ofNibble[nibble][bits] |= std::uint64_t(1) << zigzagOf[nibble * 4 + b];
    return masks;
}
inline constexpr ZigzagMasks kZigzagMasks = MakeZigzagMasks();

inline std::uint64_t InZigzagOrder(std::uint64_t rowMajor) {
    std::uint64_t zigzag = 0;
    for (int nibble = 0; nibble < DCTSIZE2 / 4; ++nibble)
        zigzag |= kZigzagMasks.ofNibble[nibble][(rowMajor >> (nibble * 4)) & 0xF];
    return zigzag;
}

// masks[t] for t < count: bit k set where |zigzag coefficient k| >> t is not zero. A magnitude
// is taken as 16 bits without sign, as libjpeg's encoder takes it, so that -32768 stays large.
inline void ZigzagMasksAbove(const JCOEF* block, int count, std::uint64_t* masks) {
#if defined(__SSE2__)
    __m128i magnitude[DCTSIZE];
    for (int row = 0; row < DCTSIZE; ++row) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + row * DCTSIZE));
        const __m128i sign = _mm_srai_epi16(v, 15);
        magnitude[row] = _mm_sub_epi16(_mm_xor_si128(v, sign), sign);
    }
    const __m128i zero = _mm_setzero_si128();
    for (int t = 0; t < count; ++t) {
        const __m128i shift = _mm_cvtsi32_si128(t);
        std::uint64_t rowMajor = 0;
        for (int row = 0; row < DCTSIZE; row += 2) {
            const __m128i even = _mm_cmpeq_epi16(_mm_srl_epi16(magnitude[row], shift), zero);
            const __m128i odd = _mm_cmpeq_epi16(_mm_srl_epi16(magnitude[row + 1], shift), zero);
            const auto zeros = unsigned(_mm_movemask_epi8(_mm_packs_epi16(even, odd)));
            rowMajor |= std::uint64_t(~zeros & 0xFFFFu) << (row * DCTSIZE);
        }
        masks[t] = InZigzagOrder(rowMajor);
    }
#else
    for (int t = 0; t < count; ++t) {
        std::uint64_t rowMajor = 0;
        for (int n = 0; n < DCTSIZE2; ++n) {
            const auto magnitude = std::uint16_t(block[n] < 0 ? -block[n] : block[n]);
            rowMajor |= std::uint64_t((magnitude >> t) != 0) << n;
        }
        masks[t] = InZigzagOrder(rowMajor);
    }
#endif
}

// The zigzag positions from..to, for 0 <= from <= to < 64.
inline std::uint64_t ZigzagBand(int from, int to) {
    const std::uint64_t upTo =
        to == DCTSIZE2 - 1 ? ~std::uint64_t(0) : (std::uint64_t(1) << (to + 1)) - 1;
    return upTo & ~((std::uint64_t(1) << from) - 1);
}

// std::popcount is a library call where the processor's instruction may be missing.
inline int PopCount(std::uint64_t x) {
#if defined(__POPCNT__)
    return __builtin_popcountll(x);
#else
    x -= (x >> 1) & 0x5555555555555555u;
    x = (x & 0x3333333333333333u) + ((x >> 2) & 0x3333333333333333u);
    x = (x + (x >> 4)) & 0x0F0F0F0F0F0F0F0Fu;
    return int((x * 0x0101010101010101u) >> 56);
#endif
}

inline JDIMENSION DivideRoundingUp(std::uint64_t value, std::uint64_t by) {
    return JDIMENSION((value + by - 1) / by);
}

} // namespace rotate
