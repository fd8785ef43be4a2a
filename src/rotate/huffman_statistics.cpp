// SPDX-License-Identifier: GPL-3.0-or-later
#include "rotate/huffman_statistics.h"

#include "rotate/block_order.h"
#include "rotate/progressive_scans.h"
#include "rotate/progressive_writer.h"

// clang-format off
#include <jerror.h>
#include <jpegint.h>
// clang-format on

#include <algorithm>
#include <bit>
#include <cstdint>
#include <iterator>
#include <new>

namespace rotate {

void MakeOptimalTable(long (&freq)[257], JHUFF_TBL& table) {
    constexpr int kMaxCodeLength = 32;
    std::uint8_t bits[kMaxCodeLength + 1] = {};
    int codesize[257] = {};
    int others[257];
    std::fill(std::begin(others), std::end(others), -1);
    freq[256] = 1; // reserves the all-ones code
    for (;;) {
        int c1 = -1, c2 = -1;
        long v = 1000000000L;
        for (int i = 0; i <= 256; ++i)
            if (freq[i] && freq[i] <= v) v = freq[i], c1 = i;
        v = 1000000000L;
        for (int i = 0; i <= 256; ++i)
            if (freq[i] && freq[i] <= v && i != c1) v = freq[i], c2 = i;
        if (c2 < 0) break;
        freq[c1] += freq[c2];
        freq[c2] = 0;
        ++codesize[c1];
        while (others[c1] >= 0)
            ++codesize[c1 = others[c1]];
        others[c1] = c2;
        ++codesize[c2];
        while (others[c2] >= 0)
            ++codesize[c2 = others[c2]];
    }
    for (int i = 0; i <= 256; ++i)
        if (codesize[i]) ++bits[std::min(codesize[i], kMaxCodeLength)];
    for (int i = kMaxCodeLength; i > 16; --i) {
        while (bits[i] > 0) {
            int j = i - 2;
            while (bits[j] == 0)
                --j;
            bits[i] -= 2;
            ++bits[i - 1];
            bits[j + 1] += 2;
            --bits[j];
        }
    }
    int longest = 16;
    while (longest > 0 && bits[longest] == 0)
        --longest;
    if (longest > 0) --bits[longest]; // the reserved code
    std::copy(bits, bits + 17, table.bits);
    int p = 0;
    for (int length = 1; length <= kMaxCodeLength; ++length)
        for (int symbol = 0; symbol <= 255; ++symbol)
            if (codesize[symbol] == length) table.huffval[p++] = UINT8(symbol);
    table.sent_table = FALSE;
}

namespace {

constexpr int kCoefficients = DCTSIZE2;
constexpr int kMaxThresholds = 16;

template <typename T> T* AllocateInPool(j_compress_ptr cinfo, std::size_t count) {
    void* memory = (*cinfo->mem->alloc_large)(reinterpret_cast<j_common_ptr>(cinfo), JPOOL_IMAGE,
                                              sizeof(T) * std::max<std::size_t>(count, 1));
    return static_cast<T*>(memory);
}

// The script is checked by libjpeg only when writing starts; the counts need it earlier.
void CheckScan(j_compress_ptr cinfo, int index, const jpeg_scan_info& scan) {
    bool valid = scan.comps_in_scan >= 1 && scan.comps_in_scan <= MAX_COMPS_IN_SCAN &&
                 scan.Ss >= 0 && scan.Ss <= scan.Se && scan.Se < kCoefficients && scan.Ah >= 0 &&
                 scan.Ah < kMaxThresholds - 1 && scan.Al >= 0 && scan.Al < kMaxThresholds - 1;
    for (int i = 0; valid && i < scan.comps_in_scan; ++i) {
        const int ci = scan.component_index[i];
        valid = ci >= 0 && ci < cinfo->num_components && cinfo->comp_info[ci].dc_tbl_no >= 0 &&
                cinfo->comp_info[ci].dc_tbl_no < NUM_HUFF_TBLS &&
                cinfo->comp_info[ci].ac_tbl_no >= 0 &&
                cinfo->comp_info[ci].ac_tbl_no < NUM_HUFF_TBLS;
    }
    if (valid && scan.Ss > 0) valid = scan.comps_in_scan == 1;
    if (!valid) ERREXIT1(cinfo, JERR_BAD_SCAN_SCRIPT, index);
}

// libjpeg turns a restart spacing given in rows into MCUs for each scan.
unsigned RestartIntervalOf(j_compress_ptr cinfo, const ProgressiveCounts& counts,
                           const ScanCounts& scan) {
    if (cinfo->restart_in_rows <= 0) return cinfo->restart_interval;
    const ComponentCounts& first = counts.components[scan.component[0]];
    const JDIMENSION mcusAcross = scan.components == 1 ? first.across : McusAcross(counts);
    return unsigned(std::min<long>(long(cinfo->restart_in_rows) * long(mcusAcross), 65535L));
}

// ---- one scan's state -------------------------------------------------------------------------

void FlushEobRun(ScanCounts& scan) {
    if (scan.eobRun == 0) return;
    const int bits = std::bit_width(scan.eobRun) - 1;
    ++scan.counts[0][bits << 4]; // an AC scan has one component: its table sits in slot 0
    scan.eobRun = 0;
    scan.correctionBits = 0;
}

void BeginMcu(ScanCounts& scan) {
    if (scan.restartInterval == 0 || scan.restartsToGo != 0) return;
    FlushEobRun(scan);
    std::fill(std::begin(scan.lastDc), std::end(scan.lastDc), 0);
}

void EndMcu(ScanCounts& scan) {
    if (scan.restartInterval == 0) return;
    if (scan.restartsToGo == 0) scan.restartsToGo = scan.restartInterval;
    --scan.restartsToGo;
}

// ---- AC scans, one block at a time
// ---------------------------------------------------------------

struct BlockMasks {
    const JCOEF* block;
    const std::uint64_t* atLeast; // bit k: |zigzag coefficient k| >= 1 << t
};

// The positions from..to-1, for from <= to < 64.
std::uint64_t Between(int from, int to) {
    return ((std::uint64_t(1) << to) - 1) & ~((std::uint64_t(1) << from) - 1);
}

void CountAcFirst(j_compress_ptr cinfo, ScanCounts& scan, const BlockMasks& m) {
    long* ac = scan.counts[0];
    const std::uint64_t nonzero = m.atLeast[scan.Al] & scan.band;
    if (nonzero) FlushEobRun(scan);
    int last = scan.Ss - 1;
    for (std::uint64_t rest = nonzero; rest; rest &= rest - 1) {
        const int k = std::countr_zero(rest);
        int run = k - last - 1;
        last = k;
        for (; run > 15; run -= 16)
            ++ac[0xF0];
        const int value = m.block[kZigzag[k]];
        const int bits = std::bit_width(unsigned(value < 0 ? -value : value) >> scan.Al);
        if (bits > kMaxCoefficientBits) ERREXIT(cinfo, JERR_BAD_DCT_COEF);
        ++ac[(run << 4) + bits];
    }
    if (last < scan.Se && ++scan.eobRun == kLongestEobRun) FlushEobRun(scan);
}

// Coefficients already nonzero before this scan send a correction bit, held back until the next
// symbol; so only the newly nonzero ones make symbols. libjpeg sends the zero-run codes of a gap
// at whichever nonzero coefficients lie in it, but always 16 zeros each and all before the next
// symbol, so their number follows from the gap alone.
void CountAcRefinement(ScanCounts& scan, const BlockMasks& m) {
    long* ac = scan.counts[0];
    const std::uint64_t nonzero = m.atLeast[scan.Al] & scan.band;
    const std::uint64_t earlier = m.atLeast[scan.Al + 1] & scan.band;
    const std::uint64_t fresh = nonzero & ~earlier, zeros = scan.band & ~nonzero;
    std::uint64_t held = earlier; // correction bits after the last symbol
    bool endOfBand = true;
    if (fresh) {
        FlushEobRun(scan);
        int from = scan.Ss;
        long runsOf16 = 0; // summed apart: added in place, each would wait for the one before
        for (std::uint64_t rest = fresh; rest; rest &= rest - 1) {
            const int k = std::countr_zero(rest);
            const int run = PopCount(zeros & Between(from, k));
            runsOf16 += run >> 4;
            ++ac[((run & 15) << 4) + 1];
            from = k + 1;
        }
        ac[0xF0] += runsOf16;
        held = from < kCoefficients ? earlier & ~Between(0, from) : 0;
        endOfBand = from <= scan.Se;
    }
    if (!endOfBand) return;
    ++scan.eobRun;
    scan.correctionBits += unsigned(PopCount(held));
    if (scan.eobRun == kLongestEobRun || scan.correctionBits > kCorrectionBits - kCoefficients + 1)
        FlushEobRun(scan);
}

// ---- DC first scans, MCU by MCU ----------------------------------------------------------

void CountDc(j_compress_ptr cinfo, ScanCounts& scan, int slot, const ComponentCounts& c,
             JDIMENSION x, JDIMENSION y, long* dc) {
    // A dummy block past the edge repeats the last DC: a difference of 0.
    if (x >= c.across || y >= c.down) {
        ++dc[0];
        return;
    }
    const int value = c.dc[std::size_t(y) * c.across + x] >> scan.Al;
    const int difference = value - scan.lastDc[slot];
    scan.lastDc[slot] = value;
    const int bits = std::bit_width(unsigned(difference < 0 ? -difference : difference));
    if (bits > kMaxCoefficientBits + 1) ERREXIT(cinfo, JERR_BAD_DCT_COEF);
    ++dc[bits];
}

void CountDcScan(j_compress_ptr cinfo, const ProgressiveCounts& counts, ScanCounts& scan) {
    if (scan.components == 1) {
        const ComponentCounts& c = counts.components[scan.component[0]];
        long* dc = scan.counts[cinfo->comp_info[scan.component[0]].dc_tbl_no];
        for (JDIMENSION y = 0; y < c.down; ++y)
            for (JDIMENSION x = 0; x < c.across; ++x) {
                BeginMcu(scan);
                CountDc(cinfo, scan, 0, c, x, y, dc);
                EndMcu(scan);
            }
        return;
    }
    const JDIMENSION mcusAcross = McusAcross(counts), mcusDown = McusDown(counts);
    for (JDIMENSION my = 0; my < mcusDown; ++my)
        for (JDIMENSION mx = 0; mx < mcusAcross; ++mx) {
            BeginMcu(scan);
            for (int slot = 0; slot < scan.components; ++slot) {
                const int ci = scan.component[slot];
                const jpeg_component_info& info = cinfo->comp_info[ci];
                long* dc = scan.counts[info.dc_tbl_no];
                const JDIMENSION h = JDIMENSION(info.h_samp_factor),
                                 v = JDIMENSION(info.v_samp_factor);
                for (JDIMENSION yi = 0; yi < v; ++yi)
                    for (JDIMENSION xi = 0; xi < h; ++xi)
                        CountDc(cinfo, scan, slot, counts.components[ci], mx * h + xi, my * v + yi,
                                dc);
            }
            EndMcu(scan);
        }
}

// ---- writing with the counted tables ------------------------------------------------------

ProgressiveCounts& CountsOf(j_compress_ptr cinfo) {
    return *static_cast<ProgressiveCounts*>(cinfo->client_data);
}

void InstallScanTables(j_compress_ptr cinfo, ScanCounts& scan) {
    const bool dcBand = cinfo->Ss == 0;
    bool done[NUM_HUFF_TBLS] = {};
    for (int i = 0; i < cinfo->comps_in_scan; ++i) {
        const jpeg_component_info& c = *cinfo->cur_comp_info[i];
        const int table = dcBand ? c.dc_tbl_no : c.ac_tbl_no;
        if (done[table]) continue;
        done[table] = true;
        JHUFF_TBL*& slot = dcBand ? cinfo->dc_huff_tbl_ptrs[table] : cinfo->ac_huff_tbl_ptrs[table];
        if (!slot) slot = jpeg_alloc_huff_table(reinterpret_cast<j_common_ptr>(cinfo));
        MakeOptimalTable(scan.counts[dcBand ? table : 0], *slot);
    }
}

bool IsScanCounted(j_compress_ptr cinfo, const ScanCounts& scan) {
    if (cinfo->Ss != scan.Ss || cinfo->Se != scan.Se || cinfo->Ah != scan.Ah ||
        cinfo->Al != scan.Al || cinfo->comps_in_scan != scan.components)
        return false;
    for (int i = 0; i < scan.components; ++i)
        if (cinfo->cur_comp_info[i] != &cinfo->comp_info[scan.component[i]]) return false;
    return true;
}

void NothingToFinish(j_compress_ptr) {}

void FinishScan(j_compress_ptr cinfo) {
    ProgressiveCounts& counts = CountsOf(cinfo);
    WriteProgressiveScan(cinfo, counts, counts.scansStarted++);
}

// libjpeg asks for a statistics pass ahead of every scan that needs tables, then for the pass
// that writes it. The tables are ready, so the first pass only installs them; the scan itself is
// written at the end of the second, by our own writer: libjpeg's walks all 64 coefficients of
// every block once more for every scan, and takes about twice as long.
void StartPass(j_compress_ptr cinfo, boolean gatherStatistics) {
    ProgressiveCounts& counts = CountsOf(cinfo);
    if (counts.scansStarted >= counts.scanCount ||
        !IsScanCounted(cinfo, counts.scans[counts.scansStarted]))
        ERREXIT1(cinfo, JERR_BAD_SCAN_SCRIPT, counts.scansStarted);
    if (gatherStatistics) {
        InstallScanTables(cinfo, counts.scans[counts.scansStarted]);
        cinfo->entropy->finish_pass = NothingToFinish;
        return;
    }
    (*counts.libraryStartPass)(cinfo, FALSE); // checks the tables
    cinfo->entropy->finish_pass = FinishScan;
}

// The blocks are written by FinishScan.
boolean SkipBlocks(j_compress_ptr, JSAMPIMAGE) {
    return TRUE;
}

} // namespace

ProgressiveCounts* StartProgressiveCounts(j_compress_ptr cinfo) {
    if (!cinfo->scan_info || cinfo->num_scans < 1) ERREXIT1(cinfo, JERR_BAD_SCAN_SCRIPT, 0);
    auto* counts = new (AllocateInPool<ProgressiveCounts>(cinfo, 1)) ProgressiveCounts;
    counts->cinfo = cinfo;
    counts->scanCount = cinfo->num_scans;
    counts->scans = AllocateInPool<ScanCounts>(cinfo, std::size_t(cinfo->num_scans));
    counts->componentCount = cinfo->num_components;
    counts->width = cinfo->image_width;
    counts->height = cinfo->image_height;
    for (int ci = 0; ci < cinfo->num_components; ++ci) {
        counts->maxH = std::max(counts->maxH, cinfo->comp_info[ci].h_samp_factor);
        counts->maxV = std::max(counts->maxV, cinfo->comp_info[ci].v_samp_factor);
    }
    for (int ci = 0; ci < cinfo->num_components; ++ci) {
        const jpeg_component_info& info = cinfo->comp_info[ci];
        ComponentCounts& c = counts->components[ci];
        c.across = DivideRoundingUp(std::uint64_t(counts->width) * info.h_samp_factor,
                                    std::uint64_t(counts->maxH) * DCTSIZE);
        c.down = DivideRoundingUp(std::uint64_t(counts->height) * info.v_samp_factor,
                                  std::uint64_t(counts->maxV) * DCTSIZE);
        c.dc = AllocateInPool<JCOEF>(cinfo, std::size_t(c.across) * c.down);
        c.acScans = AllocateInPool<int>(cinfo, std::size_t(cinfo->num_scans));
    }
    for (int s = 0; s < cinfo->num_scans; ++s) {
        const jpeg_scan_info& script = cinfo->scan_info[s];
        CheckScan(cinfo, s, script);
        ScanCounts& scan = *new (&counts->scans[s]) ScanCounts;
        scan.Ss = script.Ss, scan.Se = script.Se, scan.Ah = script.Ah, scan.Al = script.Al;
        scan.components = script.comps_in_scan;
        std::copy_n(script.component_index, script.comps_in_scan, scan.component);
        scan.band = ZigzagBand(scan.Ss, scan.Se);
        scan.restartInterval = scan.restartsToGo = RestartIntervalOf(cinfo, *counts, scan);
        if (scan.Ss == 0) continue;
        ComponentCounts& c = counts->components[scan.component[0]];
        c.acScans[c.acScanCount++] = s;
        c.thresholds = std::max(c.thresholds, scan.Al + (scan.Ah ? 2 : 1));
    }
    for (int ci = 0; ci < cinfo->num_components; ++ci) {
        ComponentCounts& c = counts->components[ci];
        if (c.acScanCount > 0)
            c.masks = AllocateInPool<std::uint64_t>(cinfo, std::size_t(c.across) * c.down *
                                                               unsigned(c.thresholds));
    }
    return counts;
}

void CountProgressiveBlock(ProgressiveCounts& counts, int ci, const JCOEF* block) {
    ComponentCounts& c = counts.components[ci];
    if (c.counted >= std::uint64_t(c.across) * c.down) return; // FinishProgressiveCounts refuses
    c.dc[c.counted++] = block[0];
    if (c.acScanCount == 0) return;
    std::uint64_t* masks = c.masks + std::size_t(c.counted - 1) * unsigned(c.thresholds);
    ZigzagMasksAbove(block, c.thresholds, masks);
    const BlockMasks m{block, masks};
    for (int i = 0; i < c.acScanCount; ++i) {
        ScanCounts& scan = counts.scans[c.acScans[i]];
        BeginMcu(scan);
        if (scan.Ah == 0)
            CountAcFirst(counts.cinfo, scan, m);
        else
            CountAcRefinement(scan, m);
        EndMcu(scan);
    }
}

void FinishProgressiveCounts(j_compress_ptr cinfo, ProgressiveCounts& counts) {
    for (int ci = 0; ci < counts.componentCount; ++ci) {
        const ComponentCounts& c = counts.components[ci];
        if (c.counted != std::uint64_t(c.across) * c.down) ERREXIT(cinfo, JERR_TOO_LITTLE_DATA);
    }
    for (int s = 0; s < counts.scanCount; ++s) {
        ScanCounts& scan = counts.scans[s];
        if (scan.Ss == 0 && scan.Ah == 0) CountDcScan(cinfo, counts, scan);
        if (scan.Ss != 0) FlushEobRun(scan);
    }
}

// libjpeg turns its optimizer on for every progressive Huffman file, whatever it is told, so its
// entropy coder and coefficient controller are wrapped: libjpeg still writes the headers and
// tables of every scan, and the blocks come from `coefficients` to our writer instead of its.
void WriteWithProgressiveCounts(j_compress_ptr cinfo, ProgressiveCounts& counts,
                                jvirt_barray_ptr* coefficients) {
    for (int ci = 0; ci < counts.componentCount; ++ci) {
        ComponentCounts& c = counts.components[ci];
        c.rows = AllocateInPool<JBLOCKROW>(cinfo, c.down);
        for (JDIMENSION y = 0; y < c.down; ++y)
            c.rows[y] = (*cinfo->mem->access_virt_barray)(reinterpret_cast<j_common_ptr>(cinfo),
                                                          coefficients[ci], y, 1, FALSE)[0];
    }
    cinfo->client_data = &counts;
    counts.libraryStartPass = cinfo->entropy->start_pass;
    cinfo->entropy->start_pass = StartPass;
    cinfo->coef->compress_data = SkipBlocks;
}

} // namespace rotate
