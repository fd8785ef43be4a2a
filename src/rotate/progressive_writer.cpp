// SPDX-License-Identifier: GPL-3.0-or-later
#include "rotate/progressive_writer.h"

#include "rotate/block_order.h"
#include "rotate/progressive_scans.h"

// clang-format off
#include <jerror.h>
// clang-format on

#include <algorithm>
#include <bit>
#include <cstring>
#include <iterator>

// Everything here may leave by libjpeg's longjmp, so nothing owns a destructor.

namespace rotate {
namespace {

// ---- bits into the destination ------------------------------------------------------------

constexpr std::size_t kStagingBytes = 1 << 15;
// More than one MCU can make: 64 codes with their bits, an end-of-band run with 1000 held
// correction bits, every byte stuffed, and a restart marker.
constexpr std::size_t kMostBytesOfAnMcu = 4096;

struct BitOutput {
    j_compress_ptr cinfo = nullptr;
    std::uint64_t pending = 0; // the newest `count` bits are the lowest
    int count = 0;
    std::uint8_t* at = nullptr;
    std::uint8_t staging[kStagingBytes];
};

void Spill(BitOutput& out) {
    jpeg_destination_mgr& dest = *out.cinfo->dest;
    const std::uint8_t* from = out.staging;
    std::size_t left = std::size_t(out.at - out.staging);
    while (left > 0) {
        if (dest.free_in_buffer == 0 && !(*dest.empty_output_buffer)(out.cinfo))
            ERREXIT(out.cinfo, JERR_CANT_SUSPEND);
        const std::size_t n = std::min(left, dest.free_in_buffer);
        std::memcpy(dest.next_output_byte, from, n);
        dest.next_output_byte += n;
        dest.free_in_buffer -= n;
        from += n;
        left -= n;
    }
    out.at = out.staging;
}

void MakeRoom(BitOutput& out) {
    if (std::size_t(out.staging + kStagingBytes - out.at) < kMostBytesOfAnMcu) Spill(out);
}

void PutByte(BitOutput& out, std::uint8_t byte) {
    *out.at++ = byte;
    if (byte == 0xFF) *out.at++ = 0; // stuffed, so that no marker appears in the data
}

bool HasFFByte(std::uint32_t word) {
    const std::uint32_t inverse = ~word;
    return ((inverse - 0x01010101u) & ~inverse & 0x80808080u) != 0;
}

// The lowest `length` (at most 32) bits of `value`, which has none above them.
inline void Put(BitOutput& out, std::uint32_t value, int length) {
    out.pending = (out.pending << length) | value;
    out.count += length;
    if (out.count < 32) return;
    out.count -= 32;
    const auto word = std::uint32_t(out.pending >> out.count);
    if (HasFFByte(word)) {
        for (int shift = 24; shift >= 0; shift -= 8)
            PutByte(out, std::uint8_t(word >> shift));
        return;
    }
    const std::uint32_t bigEndian = __builtin_bswap32(word);
    std::memcpy(out.at, &bigEndian, sizeof bigEndian);
    out.at += sizeof bigEndian;
}

// Up to 64 bits.
void PutBits(BitOutput& out, std::uint64_t bits, int length) {
    if (length > 32) {
        Put(out, std::uint32_t(bits >> 32), length - 32);
        Put(out, std::uint32_t(bits), 32);
    } else if (length > 0) {
        Put(out, std::uint32_t(bits), length);
    }
}

// A scan ends on a byte, filled with ones.
void PadToByte(BitOutput& out) {
    const int fill = (8 - out.count % 8) % 8;
    if (fill) Put(out, (1u << fill) - 1, fill);
    while (out.count >= 8) {
        out.count -= 8;
        PutByte(out, std::uint8_t(out.pending >> out.count));
    }
}

// ---- Huffman codes -------------------------------------------------------------------------

struct Code {
    std::uint16_t bits = 0;
    std::uint8_t length = 0; // 0: the table has no code for the symbol
};
struct CodeTable {
    Code of[256];
};

// Codes of increasing length, consecutive within a length; libjpeg has checked the table when
// the scan started, the bounds here only keep a bad one from reaching memory it should not.
void MakeCodes(j_compress_ptr cinfo, const JHUFF_TBL* table, CodeTable& codes) {
    if (!table) ERREXIT1(cinfo, JERR_NO_HUFF_TABLE, 0);
    codes = {};
    unsigned code = 0;
    int p = 0;
    for (int length = 1; length <= 16; ++length, code <<= 1)
        for (int i = 0; i < table->bits[length]; ++i, ++code) {
            if (p > 255 || code >= (1u << length)) ERREXIT(cinfo, JERR_BAD_HUFF_TABLE);
            codes.of[table->huffval[p++]] = {std::uint16_t(code), std::uint8_t(length)};
        }
}

// ---- one scan ------------------------------------------------------------------------------

// Correction bits of an AC refinement that wait for the end-of-band run they belong to.
struct HeldBits {
    std::uint64_t word[kCorrectionBits / 64 + 1] = {}; // oldest bit highest
    unsigned count = 0;
};

void Hold(HeldBits& held, std::uint64_t bits, int length) {
    if (length == 0) return;
    const std::uint64_t top = bits << (64 - length);
    const unsigned w = held.count / 64, at = held.count % 64;
    if (at == 0) {
        held.word[w] = top;
    } else {
        held.word[w] |= top >> at;
        if (at + unsigned(length) > 64) held.word[w + 1] = top << (64 - at);
    }
    held.count += unsigned(length);
}

void PutHeld(BitOutput& out, const HeldBits& held) {
    unsigned left = held.count;
    for (const std::uint64_t* word = held.word; left > 0; ++word) {
        const unsigned n = std::min(left, 64u);
        PutBits(out, *word >> (64 - n), int(n));
        left -= n;
    }
}

struct ScanWriter {
    j_compress_ptr cinfo = nullptr;
    const ProgressiveCounts* counts = nullptr;
    const ScanCounts* scan = nullptr;
    CodeTable tables[MAX_COMPS_IN_SCAN]; // DC: one per component of the scan; AC: the first
    unsigned restartsToGo = 0, nextRestart = 0;
    unsigned eobRun = 0;
    HeldBits held;
    int lastDc[MAX_COMPS_IN_SCAN] = {};     // shifted by Al, for the differences
    int previousDc[MAX_COMPS_IN_SCAN] = {}; // whole, for the dummy blocks of a refinement
    BitOutput out;
};

void PutCode(ScanWriter& w, const CodeTable& table, int symbol, std::uint32_t bits, int length) {
    const Code code = table.of[symbol];
    if (code.length == 0) ERREXIT(w.cinfo, JERR_HUFF_MISSING_CODE);
    Put(w.out, (std::uint32_t(code.bits) << length) | (bits & ((1u << length) - 1)),
        code.length + length);
}

[[gnu::noinline]] void PutOpenEobRun(ScanWriter& w) {
    const int length = std::bit_width(w.eobRun) - 1;
    PutCode(w, w.tables[0], length << 4, w.eobRun, length);
    w.eobRun = 0;
    PutHeld(w.out, w.held);
    w.held.count = 0;
}

// Called ahead of every code, and mostly with no run open.
inline void PutEobRun(ScanWriter& w) {
    if (w.eobRun != 0) PutOpenEobRun(w);
}

void BeginMcu(ScanWriter& w) {
    MakeRoom(w.out);
    if (w.scan->restartInterval == 0 || w.restartsToGo != 0) return;
    PutEobRun(w);
    PadToByte(w.out);
    *w.out.at++ = 0xFF;
    *w.out.at++ = std::uint8_t(JPEG_RST0 + w.nextRestart);
    w.nextRestart = (w.nextRestart + 1) & 7;
    std::fill(std::begin(w.lastDc), std::end(w.lastDc), 0);
}

void EndMcu(ScanWriter& w) {
    if (w.scan->restartInterval == 0) return;
    if (w.restartsToGo == 0) w.restartsToGo = w.scan->restartInterval;
    --w.restartsToGo;
}

// ---- DC scans, MCU by MCU ------------------------------------------------------------------

// A dummy block past the edge of an MCU repeats the DC of the block before it.
void PutDcFirst(ScanWriter& w, int slot, const ComponentCounts& c, JDIMENSION x, JDIMENSION y) {
    int value = w.lastDc[slot];
    if (x < c.across && y < c.down) value = c.dc[std::size_t(y) * c.across + x] >> w.scan->Al;
    const int difference = value - w.lastDc[slot];
    w.lastDc[slot] = value;
    const int length = std::bit_width(unsigned(difference < 0 ? -difference : difference));
    if (length > kMaxCoefficientBits + 1) ERREXIT(w.cinfo, JERR_BAD_DCT_COEF);
    PutCode(w, w.tables[slot], length, std::uint32_t(difference < 0 ? difference - 1 : difference),
            length);
}

void PutDcRefinement(ScanWriter& w, int slot, const ComponentCounts& c, JDIMENSION x,
                     JDIMENSION y) {
    if (x < c.across && y < c.down) w.previousDc[slot] = c.dc[std::size_t(y) * c.across + x];
    Put(w.out, std::uint32_t(w.previousDc[slot] >> w.scan->Al) & 1, 1);
}

template <typename PutBlock> void WriteDcScan(ScanWriter& w, PutBlock put) {
    const ScanCounts& s = *w.scan;
    if (s.components == 1) {
        const ComponentCounts& c = w.counts->components[s.component[0]];
        for (JDIMENSION y = 0; y < c.down; ++y)
            for (JDIMENSION x = 0; x < c.across; ++x) {
                BeginMcu(w);
                put(w, 0, c, x, y);
                EndMcu(w);
            }
        return;
    }
    const JDIMENSION mcusAcross = McusAcross(*w.counts), mcusDown = McusDown(*w.counts);
    for (JDIMENSION my = 0; my < mcusDown; ++my)
        for (JDIMENSION mx = 0; mx < mcusAcross; ++mx) {
            BeginMcu(w);
            for (int slot = 0; slot < s.components; ++slot) {
                const int ci = s.component[slot];
                const auto h = JDIMENSION(w.cinfo->comp_info[ci].h_samp_factor);
                const auto v = JDIMENSION(w.cinfo->comp_info[ci].v_samp_factor);
                for (JDIMENSION yi = 0; yi < v; ++yi)
                    for (JDIMENSION xi = 0; xi < h; ++xi)
                        put(w, slot, w.counts->components[ci], mx * h + xi, my * v + yi);
            }
            EndMcu(w);
        }
}

// ---- AC scans, block by block --------------------------------------------------------------

void PutAcFirst(ScanWriter& w, const JCOEF* block, const std::uint64_t* atLeast) {
    const ScanCounts& s = *w.scan;
    const CodeTable& table = w.tables[0];
    const std::uint64_t nonzero = atLeast[s.Al] & s.band;
    if (nonzero) PutEobRun(w);
    int last = s.Ss - 1;
    for (std::uint64_t rest = nonzero; rest; rest &= rest - 1) {
        const int k = std::countr_zero(rest);
        int run = k - last - 1;
        last = k;
        for (; run > 15; run -= 16)
            PutCode(w, table, 0xF0, 0, 0);
        const int value = block[kZigzag[k]];
        const unsigned magnitude = unsigned(value < 0 ? -value : value) >> s.Al;
        const int length = std::bit_width(magnitude);
        if (length > kMaxCoefficientBits) ERREXIT(w.cinfo, JERR_BAD_DCT_COEF);
        PutCode(w, table, (run << 4) + length, value < 0 ? ~magnitude : magnitude, length);
    }
    if (last < s.Se && ++w.eobRun == kLongestEobRun) PutEobRun(w);
}

// Coefficients nonzero before this scan send only a correction bit, held until the next code;
// zero runs longer than 15 are coded at the nonzero coefficients inside them, but only up to the
// last newly nonzero one: after it the end of band carries them.
void PutAcRefinement(ScanWriter& w, const JCOEF* block, const std::uint64_t* atLeast) {
    const ScanCounts& s = *w.scan;
    const CodeTable& table = w.tables[0];
    const std::uint64_t nonzero = atLeast[s.Al] & s.band;
    const std::uint64_t earlier = atLeast[s.Al + 1] & s.band;
    const std::uint64_t fresh = nonzero & ~earlier;
    const int lastFresh = fresh ? 63 - std::countl_zero(fresh) : -1;
    std::uint64_t corrections = 0;
    int correctionCount = 0, run = 0, last = s.Ss - 1;
    for (std::uint64_t rest = nonzero; rest; rest &= rest - 1) {
        const int k = std::countr_zero(rest);
        run += k - last - 1;
        last = k;
        for (; run > 15 && k <= lastFresh; run -= 16) {
            PutEobRun(w);
            PutCode(w, table, 0xF0, 0, 0);
            PutBits(w.out, corrections, correctionCount);
            corrections = 0, correctionCount = 0;
        }
        const int value = block[kZigzag[k]];
        if ((earlier >> k) & 1) {
            const unsigned magnitude = unsigned(value < 0 ? -value : value) >> s.Al;
            corrections = corrections << 1 | (magnitude & 1);
            ++correctionCount;
            continue;
        }
        PutEobRun(w);
        PutCode(w, table, (run << 4) + 1, value < 0 ? 0 : 1, 1);
        PutBits(w.out, corrections, correctionCount);
        corrections = 0, correctionCount = 0, run = 0;
    }
    run += s.Se - last;
    if (run == 0 && correctionCount == 0) return;
    ++w.eobRun;
    Hold(w.held, corrections, correctionCount);
    if (w.eobRun == kLongestEobRun || w.held.count > kCorrectionBits - DCTSIZE2 + 1) PutEobRun(w);
}

constexpr JDIMENSION kBlocksAhead = 6;

void WriteAcScan(ScanWriter& w) {
    const ComponentCounts& c = w.counts->components[w.scan->component[0]];
    const bool refining = w.scan->Ah != 0;
    const std::uint64_t* masks = c.masks;
    const auto perBlock = unsigned(c.thresholds);
    for (JDIMENSION y = 0; y < c.down; ++y) {
        const JBLOCKROW row = c.rows[y];
        for (JDIMENSION x = 0; x < c.across; ++x, masks += perBlock) {
            // The masks lead to a few coefficients of each block, too few for the processor to
            // see the stream and fetch ahead by itself.
            if (x + kBlocksAhead < c.across) {
                __builtin_prefetch(row[x + kBlocksAhead]);
                __builtin_prefetch(row[x + kBlocksAhead] + DCTSIZE2 / 2);
            }
            BeginMcu(w);
            if (refining)
                PutAcRefinement(w, row[x], masks);
            else
                PutAcFirst(w, row[x], masks);
            EndMcu(w);
        }
    }
}

void MakeScanCodes(ScanWriter& w) {
    const ScanCounts& s = *w.scan;
    if (s.Ss != 0) {
        const int table = w.cinfo->comp_info[s.component[0]].ac_tbl_no;
        MakeCodes(w.cinfo, w.cinfo->ac_huff_tbl_ptrs[table], w.tables[0]);
        return;
    }
    if (s.Ah != 0) return; // a DC refinement sends bare bits
    for (int slot = 0; slot < s.components; ++slot) {
        const int table = w.cinfo->comp_info[s.component[slot]].dc_tbl_no;
        MakeCodes(w.cinfo, w.cinfo->dc_huff_tbl_ptrs[table], w.tables[slot]);
    }
}

} // namespace

void WriteProgressiveScan(j_compress_ptr cinfo, const ProgressiveCounts& counts, int index) {
    ScanWriter w;
    w.cinfo = w.out.cinfo = cinfo;
    w.out.at = w.out.staging;
    w.counts = &counts;
    w.scan = &counts.scans[index];
    w.restartsToGo = w.scan->restartInterval;
    MakeScanCodes(w);
    if (w.scan->Ss != 0)
        WriteAcScan(w);
    else if (w.scan->Ah == 0)
        WriteDcScan(w, PutDcFirst);
    else
        WriteDcScan(w, PutDcRefinement);
    PutEobRun(w);
    PadToByte(w.out);
    Spill(w.out);
}

} // namespace rotate
