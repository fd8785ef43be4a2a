// SPDX-License-Identifier: GPL-3.0-or-later
#include <cerrno>
#include <gtest/gtest.h>

#include "platform/result.h"

using platform::Result;
using Kind = Result::Kind;
using platform::Why;

TEST(Result, NoErrorNumberIsNoFailure) {
    // A call that failed without setting errno reports nothing, as before.
    EXPECT_TRUE(Result::FromErrno(0).ok());
    EXPECT_TRUE(Result().ok());
}

TEST(Result, AKnownKindBeatsTheErrorNumberAndKeepsItsReasonInAContext) {
    const Result changed = Result::Failure(Kind::ChangedMeanwhile, Why::PhotoChanged, ESTALE);
    EXPECT_FALSE(changed.ok());
    EXPECT_EQ(changed.error(), ESTALE);

    const Result busy = Result::Failure(Kind::Busy, Why::PhotoBusy, EWOULDBLOCK).about("/p/a.jpg");
    const Result framed = busy.within(Why::OtherImage);
    EXPECT_EQ(framed.kind(), Kind::Busy);
    EXPECT_EQ(framed.error(), EWOULDBLOCK);
    EXPECT_EQ(framed.why(), Why::PhotoBusy);
    EXPECT_EQ(framed.context(), Why::OtherImage);
    EXPECT_EQ(framed.subject(), "/p/a.jpg") << "a context without a subject keeps the reason's";
    EXPECT_EQ(busy.within(Why::TurnedCopyKept, "/p/copy").subject(), "/p/copy");

    const Result damaged = Result::Failure(Kind::Damaged, Why::ImageDataDamaged);
    EXPECT_EQ(damaged.kind(), Kind::Damaged);
    EXPECT_EQ(damaged.error(), 0) << "no system call failed";
    // Nobody makes a failure that reads as success, nor one that reads as done.
    EXPECT_FALSE(Result::Failure(Kind::Ok, Why::None).ok());
    EXPECT_FALSE(Result::Failure(Kind::DoneBut, Why::None).done());
}

TEST(Result, DoneButIsDoneWithoutBeingOkAndCarriesItsFigures) {
    const Result warned = Result::DoneBut(Why::NotFlushed, EIO).about("/p/a.jpg");
    EXPECT_TRUE(warned.done());
    EXPECT_FALSE(warned.ok());
    EXPECT_EQ(warned.kind(), Kind::DoneBut);
    EXPECT_EQ(warned.error(), EIO);

    const Result memory = Result::Failure(Kind::TooLarge, Why::NeedsMemory).withFigures(7, 3);
    EXPECT_EQ(memory.figure(0), 7u);
    EXPECT_EQ(memory.figure(1), 3u);
    EXPECT_EQ(memory.figure(2), 0u) << "past the figures: none";
}
