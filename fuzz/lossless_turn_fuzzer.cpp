// SPDX-License-Identifier: GPL-3.0-or-later
// The coefficient-level turn: any input is refused or turned, and what it writes reads back.
#include "rotate/lossless_turn.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const auto turns = *rotate::QuarterTurnsFrom(data[0] & 3);
    rotate::LosslessTurnOptions options;
    options.trim = (data[0] & 4) == 0;
    options.maxMemory = std::size_t(64) << 20;
    const auto turned = rotate::LosslessTurn({data + 1, size - 1}, turns, options);
    const std::uint64_t needed = rotate::MemoryToTurn({data + 1, size - 1}, turns, size - 1);
    if (turned.ok() && (needed == 0 || needed > *options.maxMemory))
        std::abort(); // the reckoning from the header alone is the turn's own
    if (!turned.ok()) {
        if (!turned.bytes.empty() || turned.result.done()) std::abort();
        return 0;
    }
    const auto again = rotate::LosslessTurn(turned.bytes, rotate::QuarterTurns::None, options);
    if (!again.ok() || again.width != turned.width || again.height != turned.height ||
        again.bytes != turned.bytes)
        std::abort(); // a turn writes a photo that reads back unchanged
    return 0;
}
