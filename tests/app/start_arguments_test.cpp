// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/start_arguments.h"

#include <gtest/gtest.h>

using app::ParseStartArguments;
using Action = app::StartArguments::Action;

TEST(StartArguments, NothingOneFolderOrPhotoAndTheEndOfOptions) {
    EXPECT_EQ(ParseStartArguments({}).action, Action::Run);
    EXPECT_TRUE(ParseStartArguments({}).path.isEmpty());
    EXPECT_EQ(ParseStartArguments({"/home/ana/Pictures"}).path, "/home/ana/Pictures");
    // A folder whose name starts with a dash needs "--"; a lone "-" is a name.
    EXPECT_EQ(ParseStartArguments({"--", "-2019-"}).path, "-2019-");
    EXPECT_EQ(ParseStartArguments({"-"}).path, "-");
    EXPECT_EQ(ParseStartArguments({"--", "--version"}).path, "--version");
}

TEST(StartArguments, VersionHelpAndBadUsage) {
    EXPECT_EQ(ParseStartArguments({"--version"}).action, Action::Version);
    EXPECT_EQ(ParseStartArguments({"/x", "--help"}).action, Action::Help);
    EXPECT_EQ(ParseStartArguments({"-h"}).action, Action::Help);
    const auto unknown = ParseStartArguments({"--frob"});
    EXPECT_EQ(unknown.action, Action::BadUsage);
    EXPECT_TRUE(unknown.problem.contains("--frob"));
    EXPECT_EQ(ParseStartArguments({"/a", "/b"}).action, Action::BadUsage);

    // Seen on the raw command line, before the window system takes its own options.
    const char* const withQtOptions[] = {"tulvex", "-platform", "offscreen", "--version"};
    EXPECT_EQ(app::VersionOrHelpRequest(4, withQtOptions), Action::Version);
    const char* const afterEnd[] = {"tulvex", "--", "--help"};
    EXPECT_EQ(app::VersionOrHelpRequest(3, afterEnd), Action::Run);
    const char* const plain[] = {"tulvex", "/x"};
    EXPECT_EQ(app::VersionOrHelpRequest(2, plain), Action::Run);
}
