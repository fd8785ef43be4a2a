// SPDX-License-Identifier: GPL-3.0-or-later
// The turn of the coefficient blocks: where each turned block comes from, the kernels that move
// its coefficients, and the walk over a component that counts the symbols on the way.
#include "rotate/block_order.h"
#include "rotate/symbol_count.h"
#include "rotate/turn_session.h"

#include <algorithm>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace rotate::lossless {
namespace {

// Which source block a turned block comes from, and how its coefficients move. Blocks inside
// the whole iMCUs are turned exactly; a partial iMCU at an edge that the turn mirrors cannot be
// mirrored in place, so, as in jpegtran, it is only transposed (or copied) where it stands.
// With trimming these blocks lie outside the turned picture unless the side is shorter than
// one iMCU.
struct BlockSource {
    JDIMENSION x, y;
    int kernel; // index into the kernels: bit 0 transpose, bit 1 negate odd rows, bit 2 negate odd
                // columns
};

constexpr int kTranspose = 1, kNegateRows = 2, kNegateColumns = 4;
constexpr JDIMENSION kBandRows = 8;

BlockSource SourceOf(QuarterTurns turns, JDIMENSION x, JDIMENSION y, JDIMENSION wholeWidth,
                     JDIMENSION wholeHeight) {
    switch (turns) {
    case QuarterTurns::One:
        if (x < wholeHeight) return {y, wholeHeight - 1 - x, kTranspose | kNegateColumns};
        return {y, x, kTranspose};
    case QuarterTurns::Two: {
        const bool mirrorX = x < wholeWidth, mirrorY = y < wholeHeight;
        return {mirrorX ? wholeWidth - 1 - x : x, mirrorY ? wholeHeight - 1 - y : y,
                (mirrorY ? kNegateRows : 0) | (mirrorX ? kNegateColumns : 0)};
    }
    case QuarterTurns::Three:
        if (y < wholeWidth) return {wholeWidth - 1 - y, x, kTranspose | kNegateRows};
        return {y, x, kTranspose};
    case QuarterTurns::None:
        break;
    }
    return {x, y, 0};
}

// Coefficient k of a turned block (row-major, row = vertical frequency): a transpose swaps the
// frequencies, a mirror negates the odd ones across it. One instance per variant, so that the
// compiler lays each out as straight moves. Returns where the turned block is not zero, bit k
// for coefficient k in row-major order, for the symbol count.
#if defined(__SSE2__)
// Negation of the lanes where mask is all ones: (v ^ m) - m.
__m128i NegateWhere(__m128i v, __m128i mask) {
    return _mm_sub_epi16(_mm_xor_si128(v, mask), mask);
}

void Transpose8x8(__m128i r[kBlockSize]) {
    const __m128i a0 = _mm_unpacklo_epi16(r[0], r[1]), a1 = _mm_unpackhi_epi16(r[0], r[1]);
    const __m128i a2 = _mm_unpacklo_epi16(r[2], r[3]), a3 = _mm_unpackhi_epi16(r[2], r[3]);
    const __m128i a4 = _mm_unpacklo_epi16(r[4], r[5]), a5 = _mm_unpackhi_epi16(r[4], r[5]);
    const __m128i a6 = _mm_unpacklo_epi16(r[6], r[7]), a7 = _mm_unpackhi_epi16(r[6], r[7]);
    const __m128i b0 = _mm_unpacklo_epi32(a0, a2), b1 = _mm_unpackhi_epi32(a0, a2);
    const __m128i b2 = _mm_unpacklo_epi32(a1, a3), b3 = _mm_unpackhi_epi32(a1, a3);
    const __m128i b4 = _mm_unpacklo_epi32(a4, a6), b5 = _mm_unpackhi_epi32(a4, a6);
    const __m128i b6 = _mm_unpacklo_epi32(a5, a7), b7 = _mm_unpackhi_epi32(a5, a7);
    r[0] = _mm_unpacklo_epi64(b0, b4);
    r[1] = _mm_unpackhi_epi64(b0, b4);
    r[2] = _mm_unpacklo_epi64(b1, b5);
    r[3] = _mm_unpackhi_epi64(b1, b5);
    r[4] = _mm_unpacklo_epi64(b2, b6);
    r[5] = _mm_unpackhi_epi64(b2, b6);
    r[6] = _mm_unpacklo_epi64(b3, b7);
    r[7] = _mm_unpackhi_epi64(b3, b7);
}

template <int Variant> std::uint64_t ApplyKernel(const JCOEF* source, JCOEF* target) {
    __m128i rows[kBlockSize];
    for (int row = 0; row < kBlockSize; ++row)
        rows[row] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + row * kBlockSize));
    if constexpr ((Variant & kTranspose) != 0) Transpose8x8(rows);
    const __m128i all = _mm_set1_epi16(-1), zero = _mm_setzero_si128();
    const __m128i oddColumns =
        (Variant & kNegateColumns) ? _mm_setr_epi16(0, -1, 0, -1, 0, -1, 0, -1) : zero;
    std::uint64_t nonzero = 0;
    for (int row = 0; row < kBlockSize; row += 2) {
        const __m128i even = NegateWhere(rows[row], oddColumns);
        const __m128i odd = NegateWhere(
            rows[row + 1], (Variant & kNegateRows) ? _mm_xor_si128(oddColumns, all) : oddColumns);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(target + row * kBlockSize), even);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(target + (row + 1) * kBlockSize), odd);
        const auto zeros = unsigned(_mm_movemask_epi8(
            _mm_packs_epi16(_mm_cmpeq_epi16(even, zero), _mm_cmpeq_epi16(odd, zero))));
        nonzero |= std::uint64_t(~zeros & 0xFFFFu) << (row * kBlockSize);
    }
    return nonzero;
}
#else
template <int Variant> std::uint64_t ApplyKernel(const JCOEF* source, JCOEF* target) {
    std::uint64_t nonzero = 0;
#pragma GCC unroll 8
    for (int row = 0; row < kBlockSize; ++row) {
#pragma GCC unroll 8
        for (int column = 0; column < kBlockSize; ++column) {
            const bool negative = ((Variant & kNegateRows) && (row & 1)) !=
                                  ((Variant & kNegateColumns) && (column & 1));
            const JCOEF value = source[(Variant & kTranspose) ? column * kBlockSize + row
                                                              : row * kBlockSize + column];
            target[row * kBlockSize + column] = negative ? JCOEF(-value) : value;
            nonzero |= std::uint64_t(value != 0) << (row * kBlockSize + column);
        }
    }
    return nonzero;
}
#endif

using KernelFunction = std::uint64_t (*)(const JCOEF*, JCOEF*);
constexpr KernelFunction kKernels[8] = {ApplyKernel<0>, ApplyKernel<1>, ApplyKernel<2>,
                                        ApplyKernel<3>, ApplyKernel<4>, ApplyKernel<5>,
                                        ApplyKernel<6>, ApplyKernel<7>};

// Block rows of a fully resident coefficient array: the arrays are realized in memory or not at
// all (there is no backing store), so the row addresses stay valid.
JBLOCKROW* RowsOf(j_decompress_ptr cinfo, jvirt_barray_ptr array, JDIMENSION rows, bool writable) {
    auto* table = static_cast<JBLOCKROW*>(
        (*cinfo->mem->alloc_small)(reinterpret_cast<j_common_ptr>(cinfo), JPOOL_IMAGE,
                                   sizeof(JBLOCKROW) * std::max<JDIMENSION>(rows, 1)));
    for (JDIMENSION r = 0; r < rows; ++r)
        table[r] = (*cinfo->mem->access_virt_barray)(reinterpret_cast<j_common_ptr>(cinfo), array,
                                                     r, 1, writable ? TRUE : FALSE)[0];
    return table;
}

} // namespace

void TurnComponent(Session& session, const Geometry& g, int ci, jvirt_barray_ptr source,
                   Counting counting) {
    jpeg_decompress_struct& src = session.source;
    const jpeg_component_info& c = src.comp_info[ci];
    const JDIMENSION sourceAcross = RoundUp(c.width_in_blocks, JDIMENSION(c.h_samp_factor));
    const JDIMENSION sourceDown = RoundUp(c.height_in_blocks, JDIMENSION(c.v_samp_factor));
    const ComponentSides s = TurnedSides(src, g, ci);
    const JDIMENSION wholeWidth = g.wholeIMcusX * JDIMENSION(FactorsOf(src, ci).h);
    const JDIMENSION wholeHeight = g.wholeIMcusY * JDIMENSION(FactorsOf(src, ci).v);
    JBLOCKROW* from = RowsOf(&src, source, sourceDown, false);
    JBLOCKROW* to = RowsOf(&src, session.turned[ci], s.paddedDown, true);
    long* acCounts = session.acCounts[session.target.comp_info[ci].ac_tbl_no];
    // The DC count walks the blocks in the order of the scan; from the turned blocks themselves
    // it would read a cache line of each again, from far away.
    JCOEF* dcs = nullptr;
    if (counting == Counting::Sequential)
        dcs = session.turnedDcs[ci] = static_cast<JCOEF*>((*src.mem->alloc_large)(
            reinterpret_cast<j_common_ptr>(&src), JPOOL_IMAGE,
            sizeof(JCOEF) * std::max<std::size_t>(std::size_t(s.across) * s.down, 1)));
    // Bands of a few turned rows, column by column: a turn that transposes then reads each
    // source row a run of blocks at a time instead of one block per row.
    for (JDIMENSION top = 0; top < s.paddedDown; top += kBandRows) {
        const JDIMENSION bottom = std::min<JDIMENSION>(top + kBandRows, s.paddedDown);
        for (JDIMENSION x = 0; x < s.paddedAcross; ++x)
            for (JDIMENSION y = top; y < bottom; ++y) {
                JCOEF* target = to[y][x];
                if (x >= s.across || y >= s.down) {
                    std::fill_n(target, kCoefficients, JCOEF(0)); // padding, never coded
                    continue;
                }
                const BlockSource b = SourceOf(g.turns, x, y, wholeWidth, wholeHeight);
                std::uint64_t nonzero = 0;
                if (b.x >= sourceAcross || b.y >= sourceDown)
                    std::fill_n(target, kCoefficients, JCOEF(0));
                else
                    nonzero = kKernels[b.kernel](from[b.y][b.x], target);
                if (counting != Counting::Sequential) continue;
                dcs[std::size_t(y) * s.across + x] = target[0];
                if (!CountAcSymbols(target, nonzero, acCounts))
                    Refuse(session, Kind::Damaged, "a coefficient is out of range");
            }
        // A row at a time, while the band is still in the cache: counted block by block between
        // the scattered reads of a turn, the counts' own tables keep falling out of it.
        if (counting == Counting::Progressive)
            for (JDIMENSION y = top; y < std::min(bottom, s.down); ++y)
                for (JDIMENSION x = 0; x < s.across; ++x)
                    CountProgressiveBlock(*session.progressiveCounts, ci, to[y][x]);
    }
}

} // namespace rotate::lossless
