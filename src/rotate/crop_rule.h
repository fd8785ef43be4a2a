// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "exif/jpeg_header.h"
#include "rotate/orientation_table.h"

namespace rotate {

// The sides of the stored picture that run backwards after a turn. The blocks at the far end of
// such a side come to the left or top edge of the turned picture, where no block may be partial,
// so a partial block there is lost. A side that keeps its direction keeps its partial blocks at
// the right or bottom edge, where they are allowed.
struct ReversedSides {
    bool columns = false; // the right edge moves to the left or top
    bool rows = false;    // the bottom edge moves to the left or top
};

constexpr ReversedSides ReversedBy(QuarterTurns turns) {
    switch (turns) {
    case QuarterTurns::One:
        return {false, true}; // the bottom row becomes the left column
    case QuarterTurns::Two:
        return {true, true};
    case QuarterTurns::Three:
        return {true, false}; // the right column becomes the top row
    case QuarterTurns::None:
        break;
    }
    return {};
}

// Whether turning an image of `layout` by `turns` trims edge pixels. The one rule: the crop
// question, the automatic pass, the command line's --crop and the turn itself all go by it.
constexpr bool TurnTrims(const exif::BlockLayout& layout, QuarterTurns turns) {
    if (layout.mcuWidth <= 0 || layout.mcuHeight <= 0) return true;
    const ReversedSides reversed = ReversedBy(turns);
    return (reversed.columns && layout.width % layout.mcuWidth != 0) ||
           (reversed.rows && layout.height % layout.mcuHeight != 0);
}

} // namespace rotate
