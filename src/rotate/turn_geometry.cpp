// SPDX-License-Identifier: GPL-3.0-or-later
// The plan of a turn: the turned picture's size, the blocks of each component and the memory
// all of it takes, refused before anything large is allocated.
#include "rotate/block_order.h"
#include "rotate/crop_rule.h"
#include "rotate/turn_memory.h"
#include "rotate/turn_session.h"

#include <cstdio>
#include <string>

namespace rotate::lossless {

Factors FactorsOf(const jpeg_decompress_struct& src, int ci) {
    if (src.num_components == 1) return {};
    return {src.comp_info[ci].h_samp_factor, src.comp_info[ci].v_samp_factor};
}
Factors MaxFactorsOf(const jpeg_decompress_struct& src) {
    if (src.num_components == 1) return {};
    return {src.max_h_samp_factor, src.max_v_samp_factor};
}

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
        Refuse(session, Kind::WouldCrop, "the size is not a whole number of blocks");
    const bool mirrorsX = ReversedBy(turns).columns, mirrorsY = ReversedBy(turns).rows;
    JDIMENSION width = src.image_width, height = src.image_height;
    if (mirrorsX && g.wholeIMcusX > 0) width = g.wholeIMcusX * g.iMcuWidth;
    if (mirrorsY && g.wholeIMcusY > 0) height = g.wholeIMcusY * g.iMcuHeight;
    g.width = SwapsSides(turns) ? height : width;
    g.height = SwapsSides(turns) ? width : height;
    return g;
}

namespace {

std::uint64_t ArrayBytes(JDIMENSION blocksAcross, JDIMENSION blocksDown) {
    return std::uint64_t(blocksAcross) * blocksDown * sizeof(JBLOCK);
}

} // namespace

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

namespace {

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

} // namespace

// Besides the coefficients a turn holds the photo's bytes and the turned ones, about as many.
std::uint64_t MemoryOfTurn(const jpeg_decompress_struct& src, const Geometry& g,
                           std::uint64_t fileBytes) {
    return CoefficientBytes(src, g) + CountingBytes(src, g) + 2 * fileBytes;
}

namespace {

[[noreturn]] void RefuseForMemory(Session& session, std::uint64_t needed, std::uint64_t limit) {
    session.error.memoryNeeded = needed;
    session.error.memoryLimit = limit;
    {
        // The text is copied out before the jump, which would skip the strings' destructors.
        const std::string text =
            "the photo needs " + DescribeMemory(needed) + " of memory to turn, more than the " +
            DescribeMemory(limit, Rounding::Down) + " this computer can spare now";
        std::snprintf(session.error.message, sizeof session.error.message, "%s", text.c_str());
    }
    session.error.kind = Kind::TooLarge;
    std::longjmp(session.error.jump, 1);
}

} // namespace

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

} // namespace rotate::lossless
