// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The run/size symbols of a block's AC coefficients, counted for the Huffman tables while the
// block is turned; inline, since it runs once per block in the turn's inner loop.

#include "rotate/block_order.h"

// clang-format off
#include <cstdio> // jpeglib.h needs FILE
#include <jpeglib.h>
// clang-format on

#include <bit>
#include <cstdint>

namespace rotate::lossless {

inline int BitLength(int value) {
    return std::bit_width(unsigned(value < 0 ? -value : value));
}

// Counts the run/size symbols of the AC coefficients, given where the block is not zero
// (row-major); false when one is too large for baseline.
inline bool CountAcSymbols(const JCOEF* block, std::uint64_t rowMajorNonzero, long* ac) {
    std::uint64_t nonzero = InZigzagOrder(rowMajorNonzero) & ~std::uint64_t(1); // DC left out
    int last = 0;
    while (nonzero) {
        const int k = std::countr_zero(nonzero);
        nonzero &= nonzero - 1;
        int run = k - last - 1;
        last = k;
        for (; run > 15; run -= 16)
            ++ac[0xF0];
        const int bits = BitLength(block[kZigzag[k]]);
        if (bits > 10) return false;
        ++ac[(run << 4) + bits];
    }
    if (last < DCTSIZE2 - 1) ++ac[0]; // end of block
    return true;
}

} // namespace rotate::lossless
