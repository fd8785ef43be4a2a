// SPDX-License-Identifier: GPL-3.0-or-later
#include "thumbs/wheel_steps.h"

#include <gtest/gtest.h>

using thumbs::WheelSteps;

TEST(WheelSteps, WholeNotchesOnlyWithFractionsAddingUp) {
    WheelSteps wheel;
    EXPECT_EQ(wheel.rowsFor(-120), 1) << "one notch down: one row towards the end";
    EXPECT_EQ(wheel.rowsFor(120), -1);
    EXPECT_EQ(wheel.rowsFor(360), -3) << "a fast turn sends several notches at once";
    int rows = 0;
    for (int i = 0; i < 8; ++i)
        rows += wheel.rowsFor(-15);
    EXPECT_EQ(rows, 1) << "eight eighths make one notch";
    EXPECT_EQ(wheel.rowsFor(-100), 0);
    EXPECT_EQ(wheel.rowsFor(-100), 1) << "the rest carries over";
    EXPECT_EQ(wheel.rowsFor(-40), 1);
    EXPECT_EQ(wheel.rowsFor(0), 0);
}

TEST(WheelSteps, ATurnTheOtherWayStartsAfresh) {
    WheelSteps wheel;
    EXPECT_EQ(wheel.rowsFor(-100), 0);
    EXPECT_EQ(wheel.rowsFor(30), 0) << "not a notch up: the pending part down is dropped";
    EXPECT_EQ(wheel.rowsFor(90), -1);
    EXPECT_EQ(wheel.rowsFor(60), 0);
    wheel.reset();
    EXPECT_EQ(wheel.rowsFor(60), 0);
    EXPECT_EQ(wheel.rowsFor(60), -1);
}
