// SPDX-License-Identifier: GPL-3.0-or-later
#include "session/busy.h"

#include <gtest/gtest.h>

using Loop = session::BusyRule::Loop;

TEST(BusyRule, LoadsNestAndAReloadDuringThePassWaitsForIt) {
    session::BusyRule busy;
    EXPECT_FALSE(busy.InLongLoop());
    EXPECT_FALSE(busy.DeferLoad("/a")) << "nothing runs: the load goes ahead";

    busy.Begin(Loop::FolderLoad);
    busy.Begin(Loop::FolderLoad);
    EXPECT_TRUE(busy.InLongLoop());
    EXPECT_FALSE(busy.DeferLoad("/a")) << "a newer load supersedes one in progress";
    busy.End(Loop::FolderLoad);
    EXPECT_TRUE(busy.InLongLoop()) << "the outer load still runs";
    busy.End(Loop::FolderLoad);
    EXPECT_FALSE(busy.InLongLoop());

    busy.Begin(Loop::AutomaticPass);
    EXPECT_TRUE(busy.InLongLoop());
    EXPECT_TRUE(busy.DeferLoad("/a"));
    EXPECT_TRUE(busy.DeferLoad("/b"));
    EXPECT_TRUE(busy.LoadOwed());
    EXPECT_EQ(busy.TakeOwedLoad(), std::nullopt) << "not while the pass runs";
    busy.End(Loop::AutomaticPass);
    EXPECT_EQ(busy.TakeOwedLoad(), std::optional<QString>("/b")) << "the newest request";
    EXPECT_FALSE(busy.LoadOwed());
    EXPECT_EQ(busy.TakeOwedLoad(), std::nullopt) << "run once";

    busy.Begin(Loop::AutomaticPass);
    busy.DeferLoad("/c");
    busy.DropOwedLoad(); // the window closed
    busy.End(Loop::AutomaticPass);
    EXPECT_EQ(busy.TakeOwedLoad(), std::nullopt);
}
