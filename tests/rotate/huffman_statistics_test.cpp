// SPDX-License-Identifier: GPL-3.0-or-later
#include "rotate/huffman_statistics.h"
#include "rotate/lossless_turn.h"
#include "support/english.h"
#include "support/jpeg_factory.h"
#include "support/temp_dir.h"

#include <jpeglib.h>

#include <algorithm>
#include <csetjmp>
#include <functional>
#include <gtest/gtest.h>
#include <memory>

using namespace testing_support;

namespace {

// A picture with gradients, edges and grain, so that most frequencies carry something.
Bytes MakePnm(int w, int h, bool gray) {
    const std::string header = std::string(gray ? "P5\n" : "P6\n") + std::to_string(w) + " " +
                               std::to_string(h) + "\n255\n";
    Bytes pnm(header.begin(), header.end());
    std::uint32_t noise = 777;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            noise = noise * 1103515245u + 12345u;
            const int grain = int((noise >> 16) & 63);
            pnm.push_back(std::uint8_t(x * 180 / std::max(1, w) + grain));
            if (gray) continue;
            pnm.push_back(std::uint8_t(((x / 4) ^ (y / 3)) * 11 + grain / 2));
            pnm.push_back(std::uint8_t(y * 200 / std::max(1, h) + grain / 3));
        }
    return pnm;
}

// cjpeg writes every sampling but no CMYK; ImageMagick does (the options say "cmyk").
Bytes MakeSource(const TempDir& dir, int w, int h, const std::string& cjpegOptions) {
    const bool gray = cjpegOptions.find("-grayscale") != std::string::npos;
    WriteFile(dir.file("in.pnm"), MakePnm(w, h, gray));
    if (cjpegOptions == "cmyk") {
        RunCommand("convert " + dir.file("in.pnm") + " -colorspace CMYK -quality 92 " +
                   dir.file("in.jpg"));
        return ReadFile(dir.file("in.jpg"));
    }
    RunCommand("cjpeg -quality 92 " + cjpegOptions + " -outfile " + dir.file("in.jpg") + " " +
               dir.file("in.pnm"));
    return ReadFile(dir.file("in.jpg"));
}

struct Errors {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

// Replaces a coefficient (component, block column, block row, natural index, old value).
using Rewrite = std::function<JCOEF(int, JDIMENSION, JDIMENSION, int, JCOEF)>;

struct Writing {
    unsigned restartInterval = 0;
    int restartRows = 0;
    const jpeg_scan_info* script = nullptr; // nullptr: libjpeg's simple progression
    int scans = 0;
    Rewrite rewrite;
    Rewrite countInstead; // what the counts see, when it is not what is written
};

// Into a vector: libjpeg's memory destination loses its buffer when writing fails.
struct Output {
    jpeg_destination_mgr pub; // first: libjpeg sees only this part
    Bytes bytes;
};

void StartOutput(j_compress_ptr cinfo) {
    auto& out = *reinterpret_cast<Output*>(cinfo->dest);
    out.bytes.resize(1 << 16);
    out.pub.next_output_byte = out.bytes.data();
    out.pub.free_in_buffer = out.bytes.size();
}

boolean GrowOutput(j_compress_ptr cinfo) {
    auto& out = *reinterpret_cast<Output*>(cinfo->dest);
    const std::size_t used = out.bytes.size();
    out.bytes.resize(used * 2);
    out.pub.next_output_byte = out.bytes.data() + used;
    out.pub.free_in_buffer = out.bytes.size() - used;
    return TRUE;
}

void FinishOutput(j_compress_ptr cinfo) {
    auto& out = *reinterpret_cast<Output*>(cinfo->dest);
    out.bytes.resize(out.bytes.size() - out.pub.free_in_buffer);
}

struct Transcoder {
    jpeg_decompress_struct source{};
    jpeg_compress_struct target{};
    Errors errors;
    Output out;
    ~Transcoder() {
        jpeg_destroy_compress(&target);
        jpeg_destroy_decompress(&source);
    }
};

// Writes `jpeg` again, progressive; with `ourCounts` the tables come from the counts, else from
// libjpeg's own statistics passes. Empty when libjpeg failed.
Bytes Transcode(const Bytes& jpeg, const Writing& writing, bool ourCounts) {
    const auto owner = std::make_unique<Transcoder>(); // made before the jump point
    Transcoder* t = owner.get();
    t->source.err = t->target.err = jpeg_std_error(&t->errors.pub);
    t->errors.pub.error_exit = [](j_common_ptr c) {
        std::longjmp(reinterpret_cast<Errors*>(c->err)->jump, 1);
    };
    t->errors.pub.output_message = [](j_common_ptr) {};
    jpeg_create_decompress(&t->source);
    jpeg_create_compress(&t->target);
    if (setjmp(t->errors.jump)) return {};
    jpeg_mem_src(&t->source, jpeg.data(), static_cast<unsigned long>(jpeg.size()));
    jpeg_read_header(&t->source, TRUE);
    jvirt_barray_ptr* arrays = jpeg_read_coefficients(&t->source);
    jpeg_copy_critical_parameters(&t->source, &t->target);
    jpeg_simple_progression(&t->target);
    if (writing.script) {
        t->target.scan_info = writing.script;
        t->target.num_scans = writing.scans;
    }
    t->target.restart_interval = writing.restartInterval;
    t->target.restart_in_rows = writing.restartRows;
    t->out.pub.init_destination = StartOutput;
    t->out.pub.empty_output_buffer = GrowOutput;
    t->out.pub.term_destination = FinishOutput;
    t->target.dest = &t->out.pub;

    rotate::ProgressiveCounts* counts =
        ourCounts ? rotate::StartProgressiveCounts(&t->target) : nullptr;
    for (int ci = 0; ci < t->source.num_components; ++ci) {
        const jpeg_component_info& c = t->source.comp_info[ci];
        for (JDIMENSION y = 0; y < c.height_in_blocks; ++y) {
            JBLOCKROW row = (*t->source.mem->access_virt_barray)(
                reinterpret_cast<j_common_ptr>(&t->source), arrays[ci], y, 1, TRUE)[0];
            for (JDIMENSION x = 0; x < c.width_in_blocks; ++x) {
                if (writing.rewrite)
                    for (int k = 0; k < DCTSIZE2; ++k)
                        row[x][k] = writing.rewrite(ci, x, y, k, row[x][k]);
                JBLOCK counted;
                std::copy_n(row[x], DCTSIZE2, counted);
                if (writing.countInstead)
                    for (int k = 0; k < DCTSIZE2; ++k)
                        counted[k] = writing.countInstead(ci, x, y, k, counted[k]);
                if (counts) rotate::CountProgressiveBlock(*counts, ci, counted);
            }
        }
    }
    if (counts) rotate::FinishProgressiveCounts(&t->target, *counts);
    jpeg_write_coefficients(&t->target, arrays);
    if (counts) rotate::WriteWithProgressiveCounts(&t->target, *counts, arrays);
    jpeg_finish_compress(&t->target);
    return t->out.bytes;
}

// Both ways of making the tables, which must give the same file byte for byte.
void ExpectSameAsLibrary(const Bytes& jpeg, const Writing& writing, const std::string& what) {
    const Bytes theirs = Transcode(jpeg, writing, false);
    const Bytes ours = Transcode(jpeg, writing, true);
    ASSERT_FALSE(theirs.empty()) << what;
    EXPECT_TRUE(ours == theirs) << what << ": " << ours.size() << " vs " << theirs.size();
}

int Count(const Bytes& jpeg, std::uint8_t marker) {
    int n = 0;
    for (std::size_t i = 0; i + 1 < jpeg.size(); ++i)
        n += jpeg[i] == 0xFF && jpeg[i + 1] == marker;
    return n;
}

} // namespace

TEST(ProgressiveCounts, TablesOfEverySamplingSizeAndRestartAsLibjpegs) {
    TempDir dir;
    const char* samplings[] = {
        "-sample 2x2", "-sample 2x1",         "-sample 1x2", "-sample 1x1",
        "-sample 4x1", "-sample 2x1,1x2,1x1", "-grayscale",  "-sample 2x2 -progressive",
        "cmyk"};
    for (const char* sampling : samplings)
        for (auto [w, h] : {std::pair{83, 61}, std::pair{8, 8}, std::pair{131, 17}}) {
            const Bytes source = MakeSource(dir, w, h, sampling);
            ASSERT_FALSE(source.empty()) << sampling;
            for (auto [interval, rows] :
                 {std::pair{0u, 0}, std::pair{1u, 0}, std::pair{7u, 0}, std::pair{0u, 1}}) {
                Writing writing;
                writing.restartInterval = interval;
                writing.restartRows = rows;
                ExpectSameAsLibrary(source, writing,
                                    std::string(sampling) + " " + std::to_string(w) + "x" +
                                        std::to_string(h) + " restart " + std::to_string(interval) +
                                        "/" + std::to_string(rows));
            }
        }
}

TEST(ProgressiveCounts, EndOfBandRunsLongerThanOneSymbolHolds) {
    TempDir dir;
    // A flat picture: every block of every AC scan ends at once, 37500 luma blocks in a row.
    const Bytes flat = MakeSource(dir, 2000, 1200, "-sample 2x2");
    Writing writing;
    writing.rewrite = [](int, JDIMENSION, JDIMENSION, int k, JCOEF dc) {
        return k == 0 ? dc : JCOEF(0);
    };
    ExpectSameAsLibrary(flat, writing, "flat");
    // The same with a lone coefficient now and then, which breaks the runs unevenly.
    writing.rewrite = [](int ci, JDIMENSION x, JDIMENSION y, int k, JCOEF dc) {
        if (k == 0) return dc;
        return JCOEF((x * 7 + y * 13 + ci) % 4099 == 0 && k == 9 ? 5 : 0);
    };
    ExpectSameAsLibrary(flat, writing, "sparse");
}

TEST(ProgressiveCounts, RefinementScansHoldingManyCorrectionBits) {
    TempDir dir;
    const Bytes source = MakeSource(dir, 256, 192, "-sample 2x2");
    // Only even magnitudes: the last refinement finds nothing newly nonzero and holds a
    // correction bit for every coefficient, block after block.
    Writing even;
    even.rewrite = [](int, JDIMENSION x, JDIMENSION y, int k, JCOEF old) {
        if (k == 0) return old;
        const int v = int((x * 31 + y * 17 + unsigned(k) * 7) % 9) - 4;
        return JCOEF(v & ~1);
    };
    ExpectSameAsLibrary(source, even, "even magnitudes");
    // Now and then a block whose one newcomer comes last but one (natural index 55): only the
    // bit held after it joins the run's held bits, which then reach the limit a block later.
    Writing late;
    late.rewrite = [](int ci, JDIMENSION x, JDIMENSION y, int k, JCOEF old) {
        if (k == 0) return old;
        if (ci != 0) return JCOEF(0);
        return JCOEF(k == 55 && (x + y * 1000) % 20 == 0 ? 1 : -2);
    };
    ExpectSameAsLibrary(source, late, "a late newcomer");
    // Fourteen held bits a block in the last luma scan: after 67 blocks exactly 938, one past
    // the most a run may hold, so the run ends there and not a block later.
    Writing atTheLimit;
    atTheLimit.rewrite = [](int ci, JDIMENSION, JDIMENSION, int k, JCOEF old) {
        if (k == 0) return old;
        return JCOEF(ci == 0 && k % 4 == 1 && k < 57 ? 2 : 0);
    };
    ExpectSameAsLibrary(source, atTheLimit, "runs that reach the limit of held bits exactly");

    // Successive approximation in four steps, and bands split finely, over random data with
    // long zero runs ahead of newly nonzero coefficients.
    static const jpeg_scan_info kScript[] = {
        {3, {0, 1, 2}, 0, 0, 0, 3}, {1, {0}, 1, 5, 0, 3},  {1, {0}, 6, 20, 0, 3},
        {1, {0}, 21, 63, 0, 3},     {1, {1}, 1, 63, 0, 2}, {1, {2}, 1, 63, 0, 2},
        {3, {0, 1, 2}, 0, 0, 3, 2}, {1, {0}, 1, 63, 3, 2}, {1, {0}, 1, 63, 2, 1},
        {1, {1}, 1, 63, 2, 1},      {1, {2}, 1, 63, 2, 1}, {3, {0, 1, 2}, 0, 0, 2, 1},
        {1, {0}, 1, 63, 1, 0},      {1, {1}, 1, 63, 1, 0}, {1, {2}, 1, 63, 1, 0},
        {3, {0, 1, 2}, 0, 0, 1, 0},
    };
    for (unsigned interval : {0u, 3u}) {
        Writing random;
        random.script = kScript;
        random.scans = int(std::size(kScript));
        random.restartInterval = interval;
        random.rewrite = [](int ci, JDIMENSION x, JDIMENSION y, int k, JCOEF old) {
            if (k == 0) return old;
            std::uint32_t h = (x * 73856093u) ^ (y * 19349663u) ^ (unsigned(k) * 83492791u) ^
                              unsigned(ci) * 2654435761u;
            h ^= h >> 13;
            h *= 0x5bd1e995u;
            h ^= h >> 15;
            if (h % 5 != 0) return JCOEF(0);
            const int magnitude = int((h >> 8) % 40);
            return JCOEF((h >> 20) & 1 ? -magnitude : magnitude);
        };
        ExpectSameAsLibrary(source, random, "random, restart " + std::to_string(interval));
        // The tables differ from scan to scan: each scan that needs one sends its own.
        EXPECT_GE(Count(Transcode(source, random, true), 0xC4), 12);
    }
}

// In the last luma scan of 256 x 192 pixels (32 blocks a row), block `index` holds a correction
// bit for each of its first `held(index)` coefficients and nothing new; block 64 brings one newly
// nonzero coefficient, and all after it are empty.
Writing HoldingBits(std::function<int(int index)> held) {
    Writing writing;
    writing.rewrite = [held](int ci, JDIMENSION x, JDIMENSION y, int k, JCOEF old) {
        if (k == 0) return old;
        const int index = int(y * 32 + x);
        if (ci != 0 || index > 64) return JCOEF(0);
        if (index == 64) return JCOEF(k == 1 ? 1 : 0);
        return JCOEF(k <= held(index) ? 2 : 0);
    };
    return writing;
}

TEST(ProgressiveCounts, HeldCorrectionBitsEndARunOnlyPastTheirLimit) {
    TempDir dir;
    const Bytes source = MakeSource(dir, 256, 192, "-sample 2x2");
    // 63 blocks holding 937 bits, the most a run may hold: the run goes on, and the next block's
    // bits end it at 64 blocks. Ended a block early, it would be a run of 63 and then one of 1,
    // sent with other codes.
    ExpectSameAsLibrary(source, HoldingBits([](int index) { return index < 55 ? 15 : 14; }),
                        "63 blocks that hold exactly as many bits as a run may");
    // 63 blocks holding 938 bits, one past it: the run ends at 63 blocks and the next is one
    // block long, ended by block 64's new coefficient. Ended a block late, it would be one run of
    // 64.
    ExpectSameAsLibrary(source, HoldingBits([](int index) { return index < 56 ? 15 : 14; }),
                        "63 blocks that hold one bit more than a run may");
}

TEST(ProgressiveCounts, RefusesWhatLibjpegRefuses) {
    TempDir dir;
    const Bytes source = MakeSource(dir, 64, 64, "-sample 2x2");
    Writing huge;
    huge.rewrite = [](int, JDIMENSION, JDIMENSION, int k, JCOEF old) {
        return k == 5 ? JCOEF(4095) : old; // more bits than a chroma band of Al 1 may have
    };
    EXPECT_TRUE(Transcode(source, huge, false).empty());
    EXPECT_TRUE(Transcode(source, huge, true).empty());
    static const jpeg_scan_info kBadScript[] = {{1, {7}, 0, 0, 0, 0}};
    Writing bad;
    bad.script = kBadScript;
    bad.scans = 1;
    EXPECT_TRUE(Transcode(source, bad, true).empty());
}

TEST(ProgressiveCounts, TheScansAreWrittenFromTheCountsAlone) {
    TempDir dir;
    const Bytes source = MakeSource(dir, 96, 80, "-sample 2x2");
    // Counts that saw no AC coefficient at all. Had libjpeg walked the blocks again, for its
    // statistics or for writing, the file would carry their AC coefficients (or fail for want of
    // codes for them); it carries what the counts saw.
    const auto noAc = [](int, JDIMENSION, JDIMENSION, int k, JCOEF old) {
        return k == 0 ? old : JCOEF(0);
    };
    Writing blind;
    blind.countInstead = noAc;
    Writing flat;
    flat.rewrite = noAc;
    const Bytes ours = Transcode(source, blind, true);
    ASSERT_FALSE(ours.empty());
    EXPECT_TRUE(ours == Transcode(source, flat, false));
    EXPECT_FALSE(ours == Transcode(source, Writing{}, false));
}

TEST(ProgressiveCounts, TheTurnCountsProgressiveScansByTheirOwnRules) {
    TempDir dir;
    // Progressive scans code a coefficient shifted by their Al: 1500 is too large for a
    // sequential scan, but valid in a progressive photo, and turns with it.
    Writing large;
    large.rewrite = [](int ci, JDIMENSION x, JDIMENSION y, int k, JCOEF old) {
        return ci == 0 && x == 1 && y == 1 && k == 1 ? JCOEF(1500) : old;
    };
    const Bytes progressive = Transcode(MakeSource(dir, 96, 64, "-sample 2x2"), large, false);
    ASSERT_FALSE(progressive.empty());
    for (const rotate::QuarterTurns turns : rotate::kTransformValues) {
        const auto turned = rotate::LosslessTurn(progressive, turns);
        ASSERT_TRUE(turned.ok()) << English(turned.result);
        EXPECT_GE(Count(turned.bytes, 0xC2), 1);
    }
}
