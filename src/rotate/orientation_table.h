// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <cstdint>
#include <optional>

namespace rotate {

// Rotation codes of the commands.
enum class RotationCode : int { Left = 1, Right = 2, Half = 3 };

// Clockwise quarter turns of the stored pixels (the transform value, with 0 for none). A type of
// its own so that a rotation code or a bare number cannot be passed where a turn is meant.
enum class QuarterTurns : int { None = 0, One = 1, Two = 2, Three = 3 };

// The turns the lossless transform makes.
inline constexpr std::array<QuarterTurns, 3> kTransformValues{QuarterTurns::One, QuarterTurns::Two,
                                                              QuarterTurns::Three};

// A number read from outside, if it names a turn.
constexpr std::optional<QuarterTurns> QuarterTurnsFrom(int count) {
    if (count < 0 || count > 3) return std::nullopt;
    return QuarterTurns(count);
}

// Whether the turn swaps width and height.
constexpr bool SwapsSides(QuarterTurns turns) {
    return turns == QuarterTurns::One || turns == QuarterTurns::Three;
}

// The eight EXIF orientations, drawn as the stored picture of an upright "F":
//
//   1        3        6          8
//   FFFF     ---F     FFFFFF     F
//   F        ---F     F F        F F
//   FF       --FF     F          FFFFFF
//   F        FFFF
//
//   upright  turn     turn 90    turn 90
//            180      clockwise  counter-clockwise   (2, 4, 5, 7: mirrored, never acted on
//                                                     by the automatic pass)
//
// Turning the stored pixels changes the turn still needed to show them upright. Upright
// stays upright: the turned data is taken as what the user wants.
//
// A mirrored photo keeps its mirror and turns as it is shown: for a turn R of the stored pixels
// the new orientation is R o O o R^-1. A quarter turn carries a mirror across one axis over to
// the other (2 <-> 4, 5 <-> 7); a half turn leaves every mirror as it was.

// Clockwise quarter turns handed to the lossless transform.
constexpr std::optional<QuarterTurns> TransformValue(RotationCode code) {
    switch (code) {
    case RotationCode::Left:
        return QuarterTurns::Three;
    case RotationCode::Right:
        return QuarterTurns::One;
    case RotationCode::Half:
        return QuarterTurns::Two;
    }
    return std::nullopt; // a value cast from an unchecked number
}

// New orientation after turning data with orientation `old` by `code`; nullopt: write none.
constexpr std::optional<std::uint16_t> NewOrientation(std::uint16_t old, RotationCode code) {
    //                                              left  right  180
    constexpr std::array<std::array<std::uint16_t, 3>, 4> kTable{{{1, 1, 1},   // old 1
                                                                  {8, 6, 1},   // old 3
                                                                  {3, 1, 8},   // old 6
                                                                  {1, 3, 6}}}; // old 8
    const int column = int(code) - 1;
    if (column < 0 || column > 2) return std::nullopt;
    if (old == 2 || old == 4 || old == 5 || old == 7) {
        if (code == RotationCode::Half) return old;
        constexpr std::uint16_t kQuarterTurned[8] = {0, 0, 4, 0, 2, 7, 0, 5};
        return kQuarterTurned[old];
    }
    const auto row = [old]() -> int {
        switch (old) {
        case 1:
            return 0;
        case 3:
            return 1;
        case 6:
            return 2;
        case 8:
            return 3;
        default:
            return -1;
        }
    }();
    if (row < 0) return std::nullopt;
    return kTable[std::size_t(row)][std::size_t(column)];
}

// The turn that makes a photo stored with `orientation` upright (3, 6, 8), if any.
constexpr std::optional<RotationCode> UprightCode(std::uint16_t orientation) {
    switch (orientation) {
    case 3:
        return RotationCode::Half;
    case 6:
        return RotationCode::Right;
    case 8:
        return RotationCode::Left;
    default:
        return std::nullopt;
    }
}

} // namespace rotate
