// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What the progressive symbol counts and the progressive writer share: the script's scans, the
// picture's components and where their blocks lie. Private to those two.

// clang-format off
#include <cstdio> // jpeglib.h needs FILE
#include <jpeglib.h>
// clang-format on

#include "rotate/block_order.h"

#include <cstdint>

namespace rotate {

inline constexpr unsigned kLongestEobRun = 0x7FFF;
inline constexpr unsigned kCorrectionBits = 1000; // libjpeg's buffer of AC refinement bits
inline constexpr int kMaxCoefficientBits = 10;    // of an 8-bit sample's AC coefficient

struct ScanCounts {
    int Ss = 0, Se = 0, Ah = 0, Al = 0;
    int components = 0;
    int component[MAX_COMPS_IN_SCAN] = {};
    std::uint64_t band = 0; // the zigzag positions Ss..Se
    unsigned restartInterval = 0, restartsToGo = 0;
    unsigned eobRun = 0, correctionBits = 0;
    int lastDc[MAX_COMPS_IN_SCAN] = {};
    long counts[NUM_HUFF_TBLS][257] = {};
};

struct ComponentCounts {
    JDIMENSION across = 0, down = 0; // blocks inside the picture
    JDIMENSION counted = 0;
    JCOEF* dc = nullptr;    // the DC of every block, row after row
    int* acScans = nullptr; // the AC scans of this component
    int acScanCount = 0;
    int thresholds = 1; // masks of |coefficient| >= 1 << t needed, t < thresholds
    // Of every block, row after row, `thresholds` masks: bit k where zigzag coefficient k is at
    // least 1 << t. Made by the counts and kept for the writer, which would spend as long again
    // making them afresh for every scan.
    std::uint64_t* masks = nullptr;
    JBLOCKROW* rows = nullptr; // the blocks to write, once writing starts
};

struct ProgressiveCounts {
    j_compress_ptr cinfo = nullptr;
    int scanCount = 0;
    ScanCounts* scans = nullptr;
    int componentCount = 0;
    ComponentCounts components[MAX_COMPONENTS];
    int maxH = 1, maxV = 1;
    JDIMENSION width = 0, height = 0;
    // While writing:
    void (*libraryStartPass)(j_compress_ptr, boolean) = nullptr;
    int scansStarted = 0;
};

// The MCUs of an interleaved scan across and down the picture.
inline JDIMENSION McusAcross(const ProgressiveCounts& counts) {
    return DivideRoundingUp(counts.width, std::uint64_t(counts.maxH) * DCTSIZE);
}
inline JDIMENSION McusDown(const ProgressiveCounts& counts) {
    return DivideRoundingUp(counts.height, std::uint64_t(counts.maxV) * DCTSIZE);
}

} // namespace rotate
