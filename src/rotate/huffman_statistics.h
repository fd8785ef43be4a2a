// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// clang-format off
#include <cstdio> // jpeglib.h needs FILE
#include <jpeglib.h>
// clang-format on

namespace rotate {

// The optimal code lengths of JPEG Annex K.2, limited to 16 bits, with the same choices on ties
// as libjpeg so that the table equals its optimizer's. `freq` holds 257 counts (the last one is
// reserved) and is used up.
void MakeOptimalTable(long (&freq)[257], JHUFF_TBL& table);

// The symbols of every scan of a progressive Huffman script, counted while the blocks are made,
// so that libjpeg needs no statistics pass of its own over the coefficients: that pass costs
// as much as writing the scans. The counts follow libjpeg's gathering exactly (end-of-band runs,
// buffered correction bits, restarts, dummy blocks), so the tables are those of its optimizer.
// It lives in the compress object's image pool; libjpeg's errors leave by its error handler.
struct ProgressiveCounts;

// Before jpeg_write_coefficients, once the picture size, the components and the scan script of
// `cinfo` are set.
ProgressiveCounts* StartProgressiveCounts(j_compress_ptr cinfo);

// Every block of component `ci` inside the picture, row after row, once.
void CountProgressiveBlock(ProgressiveCounts& counts, int ci, const JCOEF* block);

// After the last block: the DC scans, and the end-of-band runs still open.
void FinishProgressiveCounts(j_compress_ptr cinfo, ProgressiveCounts& counts);

// After jpeg_write_coefficients(cinfo, coefficients): each scan gets the tables of its counts,
// libjpeg's statistics passes do nothing, and our writer codes the scans. Takes
// cinfo->client_data.
void WriteWithProgressiveCounts(j_compress_ptr cinfo, ProgressiveCounts& counts,
                                jvirt_barray_ptr* coefficients);

} // namespace rotate
