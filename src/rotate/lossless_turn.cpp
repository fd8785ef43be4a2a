// SPDX-License-Identifier: GPL-3.0-or-later
#include "rotate/lossless_turn.h"

#include "jpeg/quant_tables.h"
#include "rotate/block_order.h"
#include "rotate/crop_rule.h"
#include "rotate/huffman_statistics.h"
#include "rotate/large_pages.h"
#include "rotate/turn_memory.h"

#include <jerror.h>
#include <jpeglib.h>

#include <algorithm>
#include <bit>
#include <climits>
#include <csetjmp>
#include <cstdio>
#include <functional>
#include <iterator>
#include <memory>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// libjpeg reports errors through a callback that must not return. It leaves by longjmp to
// LosslessTurn, so the functions it can leave from own nothing with a destructor: every
// buffer they use belongs to the Session, which is made before the jump point.

namespace rotate {
namespace {

using Kind = platform::Result::Kind;

constexpr int kBlockSize = DCTSIZE;
constexpr int kCoefficients = DCTSIZE2;

struct ArrayAdvice;

struct ErrorManager {
    jpeg_error_mgr pub; // first: libjpeg sees only this part
    std::jmp_buf jump;
    bool readingHeader = false;
    Kind kind = Kind::Ok;
    platform::Why why = platform::Why::None;
    std::uint64_t memoryNeeded = 0, memoryLimit = 0;
    ArrayAdvice* arrays = nullptr;
};

struct OutputBuffer {
    jpeg_destination_mgr pub; // first: libjpeg sees only this part
    std::vector<std::uint8_t> bytes;
};

// The coefficient arrays libjpeg is asked for, source and turned, so that their memory can be
// advised once it exists and before anything is written to it.
struct ArrayAdvice {
    struct Requested {
        jvirt_barray_ptr array;
        std::uint64_t bytes;
    };
    Requested requested[2 * MAX_COMPONENTS] = {};
    int count = 0;
    jvirt_barray_ptr (*request)(j_common_ptr, int, boolean, JDIMENSION, JDIMENSION,
                                JDIMENSION) = nullptr;
    void (*realize)(j_common_ptr) = nullptr;
    std::function<void(void*, std::size_t)> advise;
};

struct Session {
    ErrorManager error;
    ArrayAdvice arrays;
    OutputBuffer out;
    jpeg_decompress_struct source{};
    jpeg_compress_struct target{};
    bool sourceMade = false, targetMade = false;
    jvirt_barray_ptr turned[MAX_COMPONENTS] = {};
    JCOEF* turnedDcs[MAX_COMPONENTS] = {}; // row by row, for the DC count of baseline scans
    long dcCounts[NUM_HUFF_TBLS][257] = {};
    long acCounts[NUM_HUFF_TBLS][257] = {};
    ProgressiveCounts* progressiveCounts = nullptr; // in the target's pool

    Session() = default;
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;
    ~Session() {
        if (targetMade) jpeg_destroy_compress(&target);
        if (sourceMade) jpeg_destroy_decompress(&source);
    }
};

// ---- error handling ----------------------------------------------------------------------

ErrorManager& ErrorsOf(j_common_ptr cinfo) {
    return *reinterpret_cast<ErrorManager*>(cinfo->err);
}

Kind KindOfLibraryError(int code) {
    switch (code) {
    case JERR_OUT_OF_MEMORY:
    case JERR_NO_BACKING_STORE:
    case JERR_IMAGE_TOO_BIG:
    case JERR_WIDTH_OVERFLOW:
        return Kind::TooLarge;
    case JERR_BAD_PRECISION:
    case JERR_NOT_COMPILED:
    case JERR_NOTIMPL:
    case JERR_ARITH_NOTIMPL:
    case JERR_BAD_MCU_SIZE:
    case JERR_COMPONENT_COUNT:
        return Kind::Unsupported;
    default:
        return Kind::Damaged;
    }
}

[[noreturn]] void LeaveWithLibraryMessage(j_common_ptr cinfo, Kind kind) {
    ErrorManager& errors = ErrorsOf(cinfo);
    // The library's own words are English only: the kind says what the user needs to know.
    errors.why = kind == Kind::Damaged ? platform::Why::ImageDataDamaged : platform::Why::None;
    errors.kind = kind;
    std::longjmp(errors.jump, 1);
}

void OnError(j_common_ptr cinfo) {
    LeaveWithLibraryMessage(cinfo, KindOfLibraryError(cinfo->err->msg_code));
}

// Stray bytes between the segments ahead of the first scan and an unknown JFIF version touch no
// picture data; every other warning means the compressed data is damaged.
bool IsHarmlessWarning(const ErrorManager& errors, int code) {
    return errors.readingHeader && (code == JWRN_EXTRANEOUS_DATA || code == JWRN_JFIF_MAJOR);
}

void OnMessage(j_common_ptr cinfo, int level) {
    if (level >= 0) return; // trace output
    ErrorManager& errors = ErrorsOf(cinfo);
    if (IsHarmlessWarning(errors, cinfo->err->msg_code)) {
        ++cinfo->err->num_warnings;
        return;
    }
    LeaveWithLibraryMessage(cinfo, Kind::Damaged);
}

void Silently(j_common_ptr) {}

[[noreturn]] void Refuse(Session& session, Kind kind, platform::Why why) {
    session.error.why = why;
    session.error.kind = kind;
    std::longjmp(session.error.jump, 1);
}

// ---- output into a growing vector --------------------------------------------------------

OutputBuffer& OutputOf(j_compress_ptr cinfo) {
    return *reinterpret_cast<OutputBuffer*>(cinfo->dest);
}

bool GrowBuffer(std::vector<std::uint8_t>& bytes) noexcept {
    try {
        bytes.resize(std::max<std::size_t>(bytes.size() * 2, 1 << 16));
        return true;
    } catch (...) {
        return false;
    }
}

void StartOutput(j_compress_ptr cinfo) {
    OutputBuffer& out = OutputOf(cinfo);
    out.pub.next_output_byte = out.bytes.data();
    out.pub.free_in_buffer = out.bytes.size();
}

boolean GrowOutput(j_compress_ptr cinfo) {
    OutputBuffer& out = OutputOf(cinfo);
    const std::size_t used = out.bytes.size(); // called only when the buffer is full
    if (!GrowBuffer(out.bytes)) ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 0);
    out.pub.next_output_byte = out.bytes.data() + used;
    out.pub.free_in_buffer = out.bytes.size() - used;
    return TRUE;
}

void FinishOutput(j_compress_ptr cinfo) {
    OutputBuffer& out = OutputOf(cinfo);
    out.bytes.resize(out.bytes.size() - out.pub.free_in_buffer);
}

// ---- geometry ----------------------------------------------------------------------------

JDIMENSION RoundUp(JDIMENSION value, JDIMENSION step) {
    return (value + step - 1) / step * step;
}

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

// A single component is coded block by block whatever factors it declares, and its blocks are the
// unit of a turn: it is turned as 1x1 and written so, as jpegtran does.
struct Factors {
    int h = 1, v = 1;
};
Factors FactorsOf(const jpeg_decompress_struct& src, int ci) {
    if (src.num_components == 1) return {};
    return {src.comp_info[ci].h_samp_factor, src.comp_info[ci].v_samp_factor};
}
Factors MaxFactorsOf(const jpeg_decompress_struct& src) {
    if (src.num_components == 1) return {};
    return {src.max_h_samp_factor, src.max_v_samp_factor};
}

struct Geometry {
    QuarterTurns turns = QuarterTurns::None;
    JDIMENSION iMcuWidth = 0, iMcuHeight = 0;    // in pixels, of the source
    JDIMENSION wholeIMcusX = 0, wholeIMcusY = 0; // whole iMCUs across and down the source
    JDIMENSION width = 0, height = 0;            // of the turned picture
};

// The turned size: a side that the turn mirrors loses its partial iMCU.
Geometry PlanGeometry(Session& session, QuarterTurns turns, bool trim) {
    const jpeg_decompress_struct& src = session.source;
    Geometry g;
    g.turns = turns;
    g.iMcuWidth = JDIMENSION(MaxFactorsOf(src).h * kBlockSize);
    g.iMcuHeight = JDIMENSION(MaxFactorsOf(src).v * kBlockSize);
    g.wholeIMcusX = src.image_width / g.iMcuWidth;
    g.wholeIMcusY = src.image_height / g.iMcuHeight;
    const exif::BlockLayout layout{int(src.image_width), int(src.image_height), int(g.iMcuWidth),
                                   int(g.iMcuHeight)};
    if (!trim && TurnTrims(layout, turns))
        Refuse(session, Kind::WouldCrop, platform::Why::NotWholeBlocks);
    const bool mirrorsX = ReversedBy(turns).columns, mirrorsY = ReversedBy(turns).rows;
    JDIMENSION width = src.image_width, height = src.image_height;
    if (mirrorsX && g.wholeIMcusX > 0) width = g.wholeIMcusX * g.iMcuWidth;
    if (mirrorsY && g.wholeIMcusY > 0) height = g.wholeIMcusY * g.iMcuHeight;
    g.width = SwapsSides(turns) ? height : width;
    g.height = SwapsSides(turns) ? width : height;
    return g;
}

std::uint64_t ArrayBytes(JDIMENSION blocksAcross, JDIMENSION blocksDown) {
    return std::uint64_t(blocksAcross) * blocksDown * sizeof(JBLOCK);
}

struct ComponentSides {
    int h = 1, v = 1;                            // sampling factors after the turn
    JDIMENSION across = 0, down = 0;             // blocks inside the turned picture
    JDIMENSION paddedAcross = 0, paddedDown = 0; // rounded up to whole iMCUs
};

ComponentSides TurnedSides(const jpeg_decompress_struct& src, const Geometry& g, int ci) {
    const Factors c = FactorsOf(src, ci), max = MaxFactorsOf(src);
    const bool swap = SwapsSides(g.turns);
    const int maxH = swap ? max.v : max.h;
    const int maxV = swap ? max.h : max.v;
    ComponentSides s;
    s.h = swap ? c.v : c.h;
    s.v = swap ? c.h : c.v;
    s.across = DivideRoundingUp(std::uint64_t(g.width) * s.h, std::uint64_t(maxH) * kBlockSize);
    s.down = DivideRoundingUp(std::uint64_t(g.height) * s.v, std::uint64_t(maxV) * kBlockSize);
    s.paddedAcross = DivideRoundingUp(g.width, std::uint64_t(maxH) * kBlockSize) * JDIMENSION(s.h);
    s.paddedDown = DivideRoundingUp(g.height, std::uint64_t(maxV) * kBlockSize) * JDIMENSION(s.v);
    return s;
}

// The coefficient arrays of source and result: libjpeg realizes both whole.
std::uint64_t CoefficientBytes(const jpeg_decompress_struct& src, const Geometry& g) {
    std::uint64_t bytes = 0;
    for (int ci = 0; ci < src.num_components; ++ci) {
        const jpeg_component_info& c = src.comp_info[ci];
        const ComponentSides s = TurnedSides(src, g, ci);
        bytes += ArrayBytes(RoundUp(c.width_in_blocks, JDIMENSION(c.h_samp_factor)),
                            RoundUp(c.height_in_blocks, JDIMENSION(c.v_samp_factor)));
        bytes += ArrayBytes(s.paddedAcross, s.paddedDown);
    }
    return bytes;
}

// The symbol counts keep the DC of every turned block, and for a progressive photo masks of
// where it is not zero: libjpeg's simple progression refines three bit planes at most.
constexpr std::uint64_t kMostMasksOfABlock = 3;

std::uint64_t CountingBytes(const jpeg_decompress_struct& src, const Geometry& g) {
    const std::uint64_t perBlock =
        sizeof(JCOEF) + (src.progressive_mode ? kMostMasksOfABlock * sizeof(std::uint64_t) : 0);
    std::uint64_t blocks = 0;
    for (int ci = 0; ci < src.num_components; ++ci) {
        const ComponentSides s = TurnedSides(src, g, ci);
        blocks += std::uint64_t(s.across) * s.down;
    }
    return blocks * perBlock;
}

// Besides the coefficients a turn holds the photo's bytes and the turned ones, about as many.
std::uint64_t MemoryOfTurn(const jpeg_decompress_struct& src, const Geometry& g,
                           std::uint64_t fileBytes) {
    return CoefficientBytes(src, g) + CountingBytes(src, g) + 2 * fileBytes;
}

[[noreturn]] void RefuseForMemory(Session& session, std::uint64_t needed, std::uint64_t limit) {
    session.error.memoryNeeded = needed;
    session.error.memoryLimit = limit;
    session.error.why = platform::Why::NeedsMemory;
    session.error.kind = Kind::TooLarge;
    std::longjmp(session.error.jump, 1);
}

// Refuses before anything large is allocated, then asks for the turned arrays, which libjpeg
// realizes together with the source's.
void RequestTurnedArrays(Session& session, const Geometry& g, std::uint64_t fileBytes,
                         std::uint64_t maxMemory) {
    jpeg_decompress_struct& src = session.source;
    const std::uint64_t needed = MemoryOfTurn(src, g, fileBytes);
    if (needed > maxMemory) RefuseForMemory(session, needed, maxMemory);
    for (int ci = 0; ci < src.num_components; ++ci) {
        const ComponentSides s = TurnedSides(src, g, ci);
        session.turned[ci] =
            (*src.mem->request_virt_barray)(reinterpret_cast<j_common_ptr>(&src), JPOOL_IMAGE,
                                            FALSE, s.paddedAcross, s.paddedDown, JDIMENSION(s.v));
    }
}

// ---- optimal Huffman tables -----------------------------------------------------------------
// The symbols are counted here, while the blocks are turned, instead of by libjpeg's extra
// encoding pass: it is the slowest part of a turn. The tables come out as libjpeg's optimizer
// would make them. Sequential scans are counted below, progressive ones in huffman_statistics.

int BitLength(int value) {
    return std::bit_width(unsigned(value < 0 ? -value : value));
}

// Counts the run/size symbols of the AC coefficients, given where the block is not zero
// (row-major); false when one is too large for baseline.
bool CountAcSymbols(const JCOEF* block, std::uint64_t rowMajorNonzero, long* ac) {
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
    if (last < kCoefficients - 1) ++ac[0]; // end of block
    return true;
}

enum class Counting { None, Sequential, Progressive };

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
                    Refuse(session, Kind::Damaged, platform::Why::ImageDataDamaged);
            }
        // A row at a time, while the band is still in the cache: counted block by block between
        // the scattered reads of a turn, the counts' own tables keep falling out of it.
        if (counting == Counting::Progressive)
            for (JDIMENSION y = top; y < std::min(bottom, s.down); ++y)
                for (JDIMENSION x = 0; x < s.across; ++x)
                    CountProgressiveBlock(*session.progressiveCounts, ci, to[y][x]);
    }
}

// The target takes the source's tables, components and coding mode, turned; libjpeg adds no
// JFIF or Adobe segment of its own, since the source's segments are copied as they were.
void SetUpTarget(Session& session, const Geometry& g, long memoryLimit) {
    jpeg_decompress_struct& src = session.source;
    jpeg_compress_struct& dst = session.target;
    dst.err = &session.error.pub;
    session.targetMade = true;
    jpeg_create_compress(&dst);
    dst.mem->max_memory_to_use = memoryLimit;
    session.out.pub.init_destination = StartOutput;
    session.out.pub.empty_output_buffer = GrowOutput;
    session.out.pub.term_destination = FinishOutput;
    dst.dest = &session.out.pub;

    jpeg_copy_critical_parameters(&src, &dst);
    dst.image_width = g.width;
    dst.image_height = g.height;
    if (dst.num_components == 1)
        dst.comp_info[0].h_samp_factor = dst.comp_info[0].v_samp_factor = 1;
    if (SwapsSides(g.turns)) {
        for (int ci = 0; ci < dst.num_components; ++ci)
            std::swap(dst.comp_info[ci].h_samp_factor, dst.comp_info[ci].v_samp_factor);
        jpeg::TransposeQuantTables(dst);
    }
    dst.write_JFIF_header = FALSE;
    dst.write_Adobe_marker = FALSE;
    dst.arith_code = src.arith_code;
    dst.optimize_coding = dst.arith_code ? FALSE : TRUE; // arithmetic coding adapts by itself
    if (src.progressive_mode) jpeg_simple_progression(&dst);
}

// The DC differences depend on the order in which the scan codes the blocks: row by row for one
// component, MCU by MCU for the single interleaved scan of several. Blocks of an MCU outside the
// picture are coded as a copy of the last DC with no AC: a difference of 0 and an end of block.
void CountDcSymbols(Session& session, const Geometry& g) {
    jpeg_compress_struct& dst = session.target;
    const jpeg_decompress_struct& src = session.source;
    int maxH = 1, maxV = 1;
    ComponentSides sides[MAX_COMPONENTS];
    for (int ci = 0; ci < dst.num_components; ++ci) {
        maxH = std::max(maxH, dst.comp_info[ci].h_samp_factor);
        maxV = std::max(maxV, dst.comp_info[ci].v_samp_factor);
        sides[ci] = TurnedSides(src, g, ci);
    }
    int lastDc[MAX_COMPONENTS] = {};
    const auto count = [&](int ci, JDIMENSION x, JDIMENSION y) {
        const jpeg_component_info& c = dst.comp_info[ci];
        if (x >= sides[ci].across || y >= sides[ci].down) {
            ++session.dcCounts[c.dc_tbl_no][0];
            ++session.acCounts[c.ac_tbl_no][0];
            return;
        }
        const int dc = session.turnedDcs[ci][std::size_t(y) * sides[ci].across + x];
        const int bits = BitLength(dc - lastDc[ci]);
        if (bits > 11) Refuse(session, Kind::Damaged, platform::Why::ImageDataDamaged);
        ++session.dcCounts[c.dc_tbl_no][bits];
        lastDc[ci] = dc;
    };
    if (dst.num_components == 1) {
        for (JDIMENSION y = 0; y < sides[0].down; ++y)
            for (JDIMENSION x = 0; x < sides[0].across; ++x)
                count(0, x, y);
        return;
    }
    const JDIMENSION mcusAcross = DivideRoundingUp(g.width, std::uint64_t(maxH) * kBlockSize);
    const JDIMENSION mcusDown = DivideRoundingUp(g.height, std::uint64_t(maxV) * kBlockSize);
    for (JDIMENSION my = 0; my < mcusDown; ++my)
        for (JDIMENSION mx = 0; mx < mcusAcross; ++mx)
            for (int ci = 0; ci < dst.num_components; ++ci)
                for (int yi = 0; yi < sides[ci].v; ++yi)
                    for (int xi = 0; xi < sides[ci].h; ++xi)
                        count(ci, mx * JDIMENSION(sides[ci].h) + JDIMENSION(xi),
                              my * JDIMENSION(sides[ci].v) + JDIMENSION(yi));
}

void InstallOptimalTables(Session& session, const Geometry& g) {
    CountDcSymbols(session, g);
    jpeg_compress_struct& dst = session.target;
    bool dcDone[NUM_HUFF_TBLS] = {}, acDone[NUM_HUFF_TBLS] = {};
    for (int ci = 0; ci < dst.num_components; ++ci) {
        const int dc = dst.comp_info[ci].dc_tbl_no, ac = dst.comp_info[ci].ac_tbl_no;
        if (!dcDone[dc]) {
            if (!dst.dc_huff_tbl_ptrs[dc])
                dst.dc_huff_tbl_ptrs[dc] =
                    jpeg_alloc_huff_table(reinterpret_cast<j_common_ptr>(&dst));
            MakeOptimalTable(session.dcCounts[dc], *dst.dc_huff_tbl_ptrs[dc]);
            dcDone[dc] = true;
        }
        if (!acDone[ac]) {
            if (!dst.ac_huff_tbl_ptrs[ac])
                dst.ac_huff_tbl_ptrs[ac] =
                    jpeg_alloc_huff_table(reinterpret_cast<j_common_ptr>(&dst));
            MakeOptimalTable(session.acCounts[ac], *dst.ac_huff_tbl_ptrs[ac]);
            acDone[ac] = true;
        }
    }
    dst.optimize_coding = FALSE;
}

void CopySavedMarkers(Session& session) {
    for (jpeg_saved_marker_ptr m = session.source.marker_list; m; m = m->next)
        jpeg_write_marker(&session.target, m->marker, m->data, m->data_length);
}

void SetUpErrors(Session& session) {
    jpeg_std_error(&session.error.pub);
    session.error.pub.error_exit = OnError;
    session.error.pub.emit_message = OnMessage;
    session.error.pub.output_message = Silently;
}

// Beyond the coefficient arrays libjpeg keeps the saved segments and small tables.
long LibraryMemoryLimit(std::uint64_t maxMemory, std::size_t jpegBytes) {
    const std::uint64_t limit =
        std::min(maxMemory, std::uint64_t(1) << 60) + jpegBytes + (std::uint64_t(16) << 20);
    return long(std::min<std::uint64_t>(limit, std::uint64_t(LONG_MAX)));
}

// ---- memory of the coefficient arrays ------------------------------------------------------

// libjpeg allocates an array as one piece up to this size, beyond it in several.
constexpr std::uint64_t kOnePieceBytes = 1000000000;

jvirt_barray_ptr RequestArray(j_common_ptr cinfo, int pool, boolean preZero, JDIMENSION across,
                              JDIMENSION down, JDIMENSION maxAccess) {
    ArrayAdvice& a = *ErrorsOf(cinfo).arrays;
    const jvirt_barray_ptr array = (*a.request)(cinfo, pool, preZero, across, down, maxAccess);
    if (a.count < int(std::size(a.requested)))
        a.requested[a.count++] = {array, std::uint64_t(across) * down * sizeof(JBLOCK)};
    return array;
}

// Touching row 0 to learn where an array lies is harmless: libjpeg fills or zeroes it next.
void RealizeArrays(j_common_ptr cinfo) {
    ArrayAdvice& a = *ErrorsOf(cinfo).arrays;
    (*a.realize)(cinfo);
    for (int i = 0; i < a.count; ++i) {
        const ArrayAdvice::Requested& r = a.requested[i];
        if (r.bytes == 0 || r.bytes > kOnePieceBytes) continue;
        JBLOCKROW first = (*cinfo->mem->access_virt_barray)(cinfo, r.array, 0, 1, TRUE)[0];
        if (a.advise)
            a.advise(first, std::size_t(r.bytes));
        else
            AdviseLargePages(first, std::size_t(r.bytes));
    }
}

void WatchArrays(Session& session, j_decompress_ptr cinfo) {
    session.error.arrays = &session.arrays;
    session.arrays.request = cinfo->mem->request_virt_barray;
    session.arrays.realize = cinfo->mem->realize_virt_arrays;
    cinfo->mem->request_virt_barray = RequestArray;
    cinfo->mem->realize_virt_arrays = RealizeArrays;
}

void ReadSourceHeader(Session& session, std::span<const std::uint8_t> jpeg, long memoryLimit) {
    jpeg_decompress_struct& src = session.source;
    src.err = &session.error.pub;
    session.sourceMade = true;
    jpeg_create_decompress(&src);
    src.mem->max_memory_to_use = memoryLimit;
    WatchArrays(session, &src);
    jpeg_mem_src(&src, jpeg.data(), static_cast<unsigned long>(jpeg.size()));
    jpeg_save_markers(&src, JPEG_COM, 0xFFFF);
    for (int n = 0; n < 16; ++n)
        jpeg_save_markers(&src, JPEG_APP0 + n, 0xFFFF);

    session.error.readingHeader = true;
    jpeg_read_header(&src, TRUE);
    session.error.readingHeader = false;
}

void RunTurn(Session& session, std::span<const std::uint8_t> jpeg, QuarterTurns turns,
             const LosslessTurnOptions& options, std::uint64_t maxMemory) {
    jpeg_decompress_struct& src = session.source;
    session.arrays.advise = options.adviseArray;
    const long memoryLimit = LibraryMemoryLimit(maxMemory, jpeg.size());
    ReadSourceHeader(session, jpeg, memoryLimit);
    const Geometry g = PlanGeometry(session, turns, options.trim);
    RequestTurnedArrays(session, g, jpeg.size(), maxMemory);
    jvirt_barray_ptr* source = jpeg_read_coefficients(&src);

    SetUpTarget(session, g, memoryLimit);
    // Arithmetic coding adapts by itself: it has no tables to count for. The target learns that
    // its script is progressive only when writing starts; it keeps the source's mode.
    jpeg_compress_struct& dst = session.target;
    const Counting counting = dst.arith_code         ? Counting::None
                              : src.progressive_mode ? Counting::Progressive
                                                     : Counting::Sequential;
    if (counting == Counting::Progressive) session.progressiveCounts = StartProgressiveCounts(&dst);
    for (int ci = 0; ci < src.num_components; ++ci)
        TurnComponent(session, g, ci, source[ci], counting);
    if (counting == Counting::Sequential) InstallOptimalTables(session, g);
    if (counting == Counting::Progressive)
        FinishProgressiveCounts(&dst, *session.progressiveCounts);

    jpeg_write_coefficients(&dst, session.turned);
    if (counting == Counting::Progressive)
        WriteWithProgressiveCounts(&dst, *session.progressiveCounts, session.turned);
    CopySavedMarkers(session);
    jpeg_finish_compress(&session.target);
    jpeg_finish_decompress(&src);
    // The caller hands over one image; bytes after its end would be lost with the turn.
    if (src.src->bytes_in_buffer > 0)
        Refuse(session, Kind::Unsupported, platform::Why::DataAfterImage);
}

} // namespace

LosslessTurnResult LosslessTurn(std::span<const std::uint8_t> jpeg, QuarterTurns turns,
                                const LosslessTurnOptions& options) {
    LosslessTurnResult result;
    if (!QuarterTurnsFrom(int(turns))) { // a value cast from an unchecked number
        result.result = platform::Result::Failure(Kind::BadArgument, platform::Why::BadTurn);
        return result;
    }
    if (jpeg.empty()) {
        result.result = platform::Result::Failure(Kind::Damaged, platform::Why::EmptyFile);
        return result;
    }
    const auto session = std::make_unique<Session>();
    Session* s = session.get();
    SetUpErrors(*s);
    // Turned data rarely outgrows its source; the buffer grows when it does.
    s->out.bytes.resize(jpeg.size() + jpeg.size() / 16 + 4096);
    const std::uint64_t maxMemory = options.maxMemory ? *options.maxMemory : TurnMemoryLimitNow();

    if (setjmp(s->error.jump) != 0) {
        result.result = platform::Result::Failure(s->error.kind, s->error.why)
                            .withFigures(s->error.memoryNeeded, s->error.memoryLimit);
        result.memoryNeeded = s->error.memoryNeeded;
        result.memoryLimit = s->error.memoryLimit;
        return result;
    }
    RunTurn(*s, jpeg, turns, options, maxMemory);
    result.width = int(s->target.image_width);
    result.height = int(s->target.image_height);
    result.bytes = std::move(s->out.bytes);
    return result;
}

std::uint64_t MemoryToTurn(std::span<const std::uint8_t> header, QuarterTurns turns,
                           std::uint64_t fileBytes) {
    if (header.empty() || !QuarterTurnsFrom(int(turns))) return 0;
    const auto session = std::make_unique<Session>();
    Session* s = session.get();
    SetUpErrors(*s);
    if (setjmp(s->error.jump) != 0) return 0;
    ReadSourceHeader(*s, header, LibraryMemoryLimit(0, header.size()));
    return MemoryOfTurn(s->source, PlanGeometry(*s, turns, true), fileBytes);
}

} // namespace rotate
