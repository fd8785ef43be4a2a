// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// clang-format off
#include <cstdio> // ahead of jpeglib.h, which needs FILE
#include <jpeglib.h>
// clang-format on

#include <utility>

namespace jpeg {

// A quarter turn transposes every coefficient block, so the quantisation tables that scale them
// are transposed with them.
inline void TransposeQuantTables(jpeg_compress_struct& target) {
    for (JQUANT_TBL* table : target.quant_tbl_ptrs) {
        if (!table) continue;
        for (int row = 0; row < DCTSIZE; ++row)
            for (int column = row + 1; column < DCTSIZE; ++column)
                std::swap(table->quantval[row * DCTSIZE + column],
                          table->quantval[column * DCTSIZE + row]);
    }
}

} // namespace jpeg
