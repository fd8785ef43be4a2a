// SPDX-License-Identifier: GPL-3.0-or-later
// The symbols are counted while the blocks are turned, instead of by libjpeg's extra encoding
// pass: it is the slowest part of a turn. The tables come out as libjpeg's optimizer would make
// them. Sequential scans are counted here, progressive ones in huffman_statistics.
#include "rotate/symbol_count.h"

#include "rotate/block_order.h"
#include "rotate/turn_session.h"

#include <algorithm>

namespace rotate::lossless {
namespace {

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
        if (bits > 11) Refuse(session, Kind::Damaged, "a coefficient is out of range");
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

} // namespace

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

} // namespace rotate::lossless
