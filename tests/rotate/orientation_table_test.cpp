// SPDX-License-Identifier: GPL-3.0-or-later
#include "rotate/orientation_table.h"

#include <gtest/gtest.h>
#include <type_traits>

using namespace rotate;

namespace {

// Clockwise quarter turns still needed to show the stored picture upright.
int TurnsNeeded(std::uint16_t orientation) {
    switch (orientation) {
    case 1:
        return 0;
    case 6:
        return 1;
    case 3:
        return 2;
    case 8:
        return 3;
    default:
        return -1;
    }
}

} // namespace

TEST(OrientationTable, EveryCellDescribesTheTurnedData) {
    for (std::uint16_t old : {3, 6, 8}) {
        for (RotationCode code : {RotationCode::Left, RotationCode::Right, RotationCode::Half}) {
            const auto next = NewOrientation(old, code);
            ASSERT_TRUE(next);
            // Turning the data by t clockwise leaves (needed - t) still to do.
            const int turned = int(*TransformValue(code));
            EXPECT_EQ(TurnsNeeded(*next), ((TurnsNeeded(old) - turned) % 4 + 4) % 4)
                << old << " " << int(code);
        }
    }
    for (int code : {1, 2, 3})
        EXPECT_EQ(NewOrientation(1, RotationCode(code)), std::uint16_t(1));
    for (std::uint16_t none : {0, 9})
        for (int code : {1, 2, 3})
            EXPECT_FALSE(NewOrientation(none, RotationCode(code)));
    EXPECT_FALSE(NewOrientation(6, RotationCode(0)));
}

TEST(OrientationTable, CodesAndUprightTurns) {
    EXPECT_EQ(TransformValue(RotationCode::Left), QuarterTurns::Three);
    EXPECT_EQ(TransformValue(RotationCode::Right), QuarterTurns::One);
    EXPECT_EQ(TransformValue(RotationCode::Half), QuarterTurns::Two);
    EXPECT_FALSE(TransformValue(RotationCode(4)));
    for (std::uint16_t o : {3, 6, 8})
        EXPECT_EQ(NewOrientation(o, *UprightCode(o)), std::uint16_t(1));
    for (std::uint16_t mirrored : {2, 4, 5, 7})
        EXPECT_FALSE(UprightCode(mirrored)) << "the automatic pass leaves mirrors alone";
}

// A rotation code, a size or any other number cannot stand in for a turn, nor a turn for them.
static_assert(!std::is_convertible_v<int, QuarterTurns>);
static_assert(!std::is_convertible_v<RotationCode, QuarterTurns>);
static_assert(!std::is_convertible_v<QuarterTurns, int>);
static_assert(!std::is_convertible_v<QuarterTurns, RotationCode>);

TEST(OrientationTable, OnlyZeroToThreeCountAsQuarterTurns) {
    for (int count = 0; count <= 3; ++count)
        EXPECT_EQ(QuarterTurnsFrom(count), QuarterTurns(count)) << count;
    for (int outside : {-1, 4, 7, -2147483647 - 1})
        EXPECT_FALSE(QuarterTurnsFrom(outside)) << outside;
}

TEST(OrientationTable, AMirrorIsCarriedAcrossByAQuarterTurnAndKeptByAHalfTurn) {
    const std::pair<std::uint16_t, std::uint16_t> quarter[] = {{2, 4}, {4, 2}, {5, 7}, {7, 5}};
    for (const auto& [old, turned] : quarter) {
        EXPECT_EQ(NewOrientation(old, RotationCode::Left), turned) << old;
        EXPECT_EQ(NewOrientation(old, RotationCode::Right), turned) << old;
        EXPECT_EQ(NewOrientation(old, RotationCode::Half), old) << old;
    }
}
