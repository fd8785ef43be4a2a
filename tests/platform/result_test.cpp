// SPDX-License-Identifier: GPL-3.0-or-later
#include <cerrno>
#include <cstring>
#include <gtest/gtest.h>

#include "platform/result.h"
#include "support/english.h"

using testing_support::English;

using platform::Result;
using Kind = Result::Kind;

TEST(Result, TheSystemsErrorNumberSaysTheKind) {
    const struct {
        int error;
        Kind kind;
    } table[] = {
        {ENOENT, Kind::NotFound},    {ENOTDIR, Kind::NotFound},        {EACCES, Kind::NoPermission},
        {EPERM, Kind::NoPermission}, {EROFS, Kind::NoPermission},      {ENOSPC, Kind::NoSpace},
        {EDQUOT, Kind::NoSpace},     {EFBIG, Kind::TooLarge},          {ENOMEM, Kind::TooLarge},
        {EOVERFLOW, Kind::TooLarge}, {EWOULDBLOCK, Kind::Busy},        {EBUSY, Kind::Busy},
        {ETXTBSY, Kind::Busy},       {ESTALE, Kind::ChangedMeanwhile}, {EINVAL, Kind::BadArgument},
        {EIO, Kind::Other},          {ENAMETOOLONG, Kind::Other},
    };
    for (const auto& [error, kind] : table) {
        const Result failed = Result::FromErrno(error);
        EXPECT_FALSE(failed.ok()) << error;
        EXPECT_EQ(failed.kind(), kind) << error;
        EXPECT_EQ(failed.error(), error);
        EXPECT_EQ(English(failed), std::strerror(error));
        EXPECT_EQ(Result::FromErrno(error, "told").kind(), kind) << error;
    }
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
    EXPECT_EQ(English(retold), "held; try again later");

    const Result damaged = Result::Failure(Kind::Damaged, "a coefficient is out of range");
    EXPECT_EQ(damaged.kind(), Kind::Damaged);
    EXPECT_EQ(damaged.error(), 0) << "no system call failed";
    EXPECT_EQ(Result::FromLibrary("lost").kind(), Kind::Other);
    // Nobody makes a failure that reads as success.
    EXPECT_FALSE(Result::Failure(Kind::Ok, "odd").ok());
}
