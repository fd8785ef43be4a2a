// SPDX-License-Identifier: GPL-3.0-or-later
#include <cerrno>
#include <gtest/gtest.h>

#include "platform/result.h"

using platform::Result;
using Kind = Result::Kind;

TEST(Result, NoErrorNumberIsNoFailure) {
    // A call that failed without setting errno reports nothing, as before.
    EXPECT_TRUE(Result::FromErrno(0).ok());
    EXPECT_TRUE(Result().ok());
}

TEST(Result, AKnownKindBeatsTheErrorNumberAndSurvivesANewText) {
    const Result changed = Result::Failure(Kind::ChangedMeanwhile, "changed", ESTALE);
    EXPECT_FALSE(changed.ok());
    EXPECT_EQ(changed.error(), ESTALE);

    const Result busy = Result::Failure(Kind::Busy, "held", EWOULDBLOCK);
    const Result retold = busy.withText("held; try again later");
    EXPECT_EQ(retold.kind(), Kind::Busy);
    EXPECT_EQ(retold.error(), EWOULDBLOCK);
    EXPECT_EQ(retold.text(), "held; try again later");

    const Result damaged = Result::Failure(Kind::Damaged, "a coefficient is out of range");
    EXPECT_EQ(damaged.kind(), Kind::Damaged);
    EXPECT_EQ(damaged.error(), 0) << "no system call failed";
    EXPECT_EQ(Result::FromLibrary("lost").kind(), Kind::Other);
    // Nobody makes a failure that reads as success.
    EXPECT_FALSE(Result::Failure(Kind::Ok, "odd").ok());
}
