// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// clang-format off
#include <cstdio> // jpeglib.h needs FILE
#include <jpeglib.h>
// clang-format on

namespace rotate {

struct ProgressiveCounts;

// Writes the coded data of scan `index` of the counts' script into cinfo->dest, with the Huffman
// tables cinfo holds for it, from the blocks the counts' components point at: the bytes libjpeg's
// progressive encoder writes, in about half its time, since the masks the counts kept lead to a
// block's nonzero coefficients instead of a walk over all 64. libjpeg's errors leave by its error
// handler.
void WriteProgressiveScan(j_compress_ptr cinfo, const ProgressiveCounts& counts, int index);

} // namespace rotate
