// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "rotate/orientation_table.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/result.h"

namespace rotate {

struct LosslessTurnOptions {
    // Partial edge blocks that cannot stay where a turn puts them are dropped, as `jpegtran
    // -trim` does; without it such a photo is refused.
    bool trim = true;
    // Bound of the memory of the turn: the coefficients of source and result and the bytes of
    // both files. Unset: what the machine can spare now (TurnMemoryLimitNow).
    std::optional<std::uint64_t> maxMemory;
    // Called with each coefficient array (source and turned) once it is allocated and before it
    // is filled. Unset: the arrays are backed with large pages where the system allows.
    std::function<void(void* array, std::size_t bytes)> adviseArray;
};

struct LosslessTurnResult {
    std::vector<std::uint8_t> bytes; // the turned JPEG, empty on failure
    int width = 0, height = 0;       // its size in pixels
    // Why the turn was refused: BadArgument (quarter turns outside 0..3), Damaged (not a JPEG,
    // truncated or corrupt data), Unsupported (a valid JPEG this turn cannot carry, e.g. 12-bit
    // samples), WouldCrop (an edge block would be lost and trimming was not allowed) or TooLarge
    // (more coefficient memory than the limit allows).
    platform::Result result;
    // When refused as TooLarge before anything large was allocated: what the turn would need and
    // what it was allowed.
    std::uint64_t memoryNeeded = 0, memoryLimit = 0;

    bool ok() const { return result.ok(); }
};

// Turns the JPEG `jpeg` by `turns` clockwise quarter turns (None only re-encodes) at the
// level of its DCT coefficients, so no pixel changes. The result keeps the encoding of the
// original: progressive stays progressive, baseline stays baseline, with Huffman tables
// optimized for the turned data; every APPn and COM segment is kept, in order, and nothing else
// is added. Everything after the image's end is ignored. Any chroma sampling, grayscale and
// four-component photos are turned. Warnings about stray bytes between the segments ahead of the
// first scan are tolerated; any damage in the compressed data refuses the turn.
LosslessTurnResult LosslessTurn(std::span<const std::uint8_t> jpeg, QuarterTurns turns,
                                const LosslessTurnOptions& options = {});

// The memory LosslessTurn would need for a photo of `fileBytes` bytes whose leading segments,
// up to its first scan header at least, are `header`; 0 when they cannot be read.
std::uint64_t MemoryToTurn(std::span<const std::uint8_t> header, QuarterTurns turns,
                           std::uint64_t fileBytes);

} // namespace rotate
