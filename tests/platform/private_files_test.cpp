// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/temp_dir.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "platform/file_io.h"
#include "platform/private_files.h"

using platform::PrivateFolderRules;
using testing_support::TempDir;

namespace {

mode_t ModeOf(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

std::vector<std::string> NamesIn(const std::string& folder) {
    std::vector<std::string> names;
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return names;
    while (const dirent* entry = ::readdir(dir))
        if (std::string(entry->d_name) != "." && std::string(entry->d_name) != "..")
            names.push_back(entry->d_name);
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

std::string Contents(const std::string& path) {
    std::vector<std::uint8_t> bytes;
    if (!platform::ReadFileBytes(path, bytes).ok()) return "(unreadable)";
    return {bytes.begin(), bytes.end()};
}

std::span<const std::uint8_t> Bytes(const std::string& text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

platform::UniqueFd Folder(const std::string& path, const PrivateFolderRules& rules,
                          platform::Result& why) {
    return platform::MakePrivateFolder(AT_FDCWD, path, rules, why);
}

PrivateFolderRules WithMode(PrivateFolderRules::Mode mode) {
    PrivateFolderRules rules;
    rules.mode = mode;
    return rules;
}

} // namespace

TEST(PrivateFolder, IsMadePrivateAndKeepsOrRefusesOtherModesAsAsked) {
    TempDir dir;
    platform::Result why;
    const std::string made = dir.file("made");
    EXPECT_TRUE(Folder(made, {}, why).valid()) << why.error();
    EXPECT_EQ(ModeOf(made), 0700u);

    PrivateFolderRules lookOnly;
    lookOnly.make = false;
    EXPECT_FALSE(Folder(dir.file("missing"), lookOnly, why).valid());
    EXPECT_EQ(why.error(), ENOENT);
    EXPECT_TRUE(NamesIn(dir.path()) == std::vector<std::string>{"made"});

    const std::string open = dir.file("open");
    ASSERT_EQ(::mkdir(open.c_str(), 0755), 0);
    ASSERT_EQ(::chmod(open.c_str(), 0755), 0);
    EXPECT_FALSE(Folder(open, WithMode(PrivateFolderRules::Mode::Require), why).valid());
    EXPECT_EQ(ModeOf(open), 0755u) << "refused, not changed";
    EXPECT_TRUE(Folder(open, WithMode(PrivateFolderRules::Mode::Any), why).valid());
    EXPECT_EQ(ModeOf(open), 0755u);
    EXPECT_TRUE(Folder(open, WithMode(PrivateFolderRules::Mode::Tighten), why).valid());
    EXPECT_EQ(ModeOf(open), 0700u);
}

TEST(PrivateFolder, RefusesALinkAnotherFileAndAFolderOfAnotherUser) {
    TempDir dir;
    const std::string target = dir.file("target");
    ASSERT_EQ(::mkdir(target.c_str(), 0755), 0);
    ASSERT_EQ(::chmod(target.c_str(), 0755), 0);
    const std::string link = dir.file("link");
    ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);
    const std::string file = dir.file("file");
    ASSERT_TRUE(platform::UniqueFd(::open(file.c_str(), O_CREAT | O_WRONLY, 0600)).valid());

    for (const auto mode : {PrivateFolderRules::Mode::Tighten, PrivateFolderRules::Mode::Require,
                            PrivateFolderRules::Mode::Any}) {
        platform::Result why;
        EXPECT_FALSE(Folder(link, WithMode(mode), why).valid());
        EXPECT_TRUE(why.error() == ELOOP || why.error() == ENOTDIR) << why.error();
        EXPECT_FALSE(Folder(file, WithMode(mode), why).valid());
        EXPECT_EQ(why.error(), ENOTDIR);
    }
    EXPECT_EQ(ModeOf(target), 0755u) << "the link's folder is not changed";
    EXPECT_EQ(ModeOf(file), 0600u);

    if (::geteuid() != 0) GTEST_SKIP() << "giving a folder to another user needs root";
    const std::string foreign = dir.file("foreign");
    ASSERT_EQ(::mkdir(foreign.c_str(), 0755), 0);
    ASSERT_EQ(::chown(foreign.c_str(), 4242, 4242), 0);
    platform::Result why;
    EXPECT_FALSE(Folder(foreign, {}, why).valid());
    EXPECT_EQ(why.error(), EPERM);
    EXPECT_EQ(ModeOf(foreign), 0755u) << "another user's folder is not changed";
    PrivateFolderRules anyOwner;
    anyOwner.ownOnly = false;
    anyOwner.mode = PrivateFolderRules::Mode::Any;
    EXPECT_TRUE(Folder(foreign, anyOwner, why).valid());
}

TEST(PrivateFolder, FoldersAboveAreMadeAndThoseThereLeftAlone) {
    TempDir dir;
    const std::string real = dir.file("real");
    ASSERT_EQ(::mkdir(real.c_str(), 0755), 0);
    ASSERT_EQ(::chmod(real.c_str(), 0755), 0);
    ASSERT_EQ(::symlink(real.c_str(), dir.file("via").c_str()), 0);
    ASSERT_TRUE(platform::MakeFoldersAbove(dir.file("via/a/b/leaf"), 0700).ok());
    EXPECT_EQ(ModeOf(real), 0755u);
    EXPECT_EQ(ModeOf(real + "/a"), 0700u);
    EXPECT_EQ(ModeOf(real + "/a/b"), 0700u);
    EXPECT_EQ(ModeOf(real + "/a/b/leaf"), 0u) << "the path itself is not made";

    const std::string file = dir.file("file");
    ASSERT_TRUE(platform::UniqueFd(::open(file.c_str(), O_CREAT | O_WRONLY, 0600)).valid());
    EXPECT_EQ(platform::MakeFoldersAbove(file + "/a/leaf", 0700).error(), ENOTDIR);
}

TEST(SmallFile, ReplacesWholeOrLeavesTheOldFileAndNothingElse) {
    TempDir dir;
    const platform::UniqueFd folder(::open(dir.path().c_str(), O_RDONLY | O_DIRECTORY));
    ASSERT_TRUE(folder.valid());
    int renamedFrom = -1;
    platform::SmallFileWrite how;
    how.beforeRename = [&renamedFrom](int fd) { renamedFrom = fd; };
    ASSERT_TRUE(platform::WriteSmallFile(folder.get(), "store", ".tmp-", Bytes("old"), how).ok());
    EXPECT_GE(renamedFrom, 0);
    EXPECT_EQ(Contents(dir.file("store")), "old");
    EXPECT_EQ(ModeOf(dir.file("store")), 0600u);
    EXPECT_TRUE(NamesIn(dir.path()) == std::vector<std::string>{"store"});

    // A flush that fails: the old file stays and the temporary goes.
    platform::SmallFileWrite failingFlush;
    failingFlush.fsyncFile = [](int) {
        errno = EIO;
        return -1;
    };
    const platform::Result flushed =
        platform::WriteSmallFile(folder.get(), "store", ".tmp-", Bytes("new"), failingFlush);
    EXPECT_EQ(flushed.error(), EIO);
    EXPECT_EQ(Contents(dir.file("store")), "old");
    EXPECT_TRUE(NamesIn(dir.path()) == std::vector<std::string>{"store"});

    // A rename that fails (a folder with something in it holds the name): the same.
    ASSERT_EQ(::mkdir(dir.file("taken").c_str(), 0700), 0);
    ASSERT_TRUE(
        platform::UniqueFd(::open(dir.file("taken/inside").c_str(), O_CREAT | O_WRONLY, 0600))
            .valid());
    EXPECT_FALSE(platform::WriteSmallFile(folder.get(), "taken", ".tmp-", Bytes("new"), {}).ok());
    EXPECT_TRUE(NamesIn(dir.path()) == (std::vector<std::string>{"store", "taken"}));
    EXPECT_TRUE(NamesIn(dir.file("taken")) == std::vector<std::string>{"inside"});
}
