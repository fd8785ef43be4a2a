// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/english.h"
#include "support/jpeg_factory.h"
#include "support/temp_dir.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>

#include "platform/photo_lock.h"

using namespace testing_support;

namespace {

struct ReadBack {
    platform::LockedPhoto photo;
    std::vector<std::uint8_t> bytes;
    platform::PhotoAsRead read;
};

void LockAndRead(const std::string& path, ReadBack& out) {
    ASSERT_TRUE(platform::LockPhoto(path, O_RDONLY, {}, out.photo).ok());
    ASSERT_TRUE(platform::ReadLockedPhoto(out.photo, out.bytes, out.read).ok());
    ASSERT_EQ(out.bytes, ReadFile(path));
}

bool Unchanged(const ReadBack& back) {
    return platform::UnchangedSince(back.photo.folder.get(), back.photo.name, back.read);
}

} // namespace

TEST(UnchangedSince, SeesEveryChangeEvenOneThatKeepsEveryTime) {
    TempDir dir;
    const std::string path = dir.file("a.jpg");
    const Bytes original(5000, 0x42);
    WriteFile(path, original);
    ReadBack before;
    LockAndRead(path, before);
    EXPECT_TRUE(Unchanged(before));
    EXPECT_FALSE(platform::UnchangedSince(before.photo.folder.get(), "missing.jpg", before.read));

    // A write in the tick of the read: the coarse clock can leave size and times as they were.
    const int fd = ::open(path.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::pwrite(fd, "!", 1, 4321), 1);
    struct stat after {};
    ASSERT_EQ(::fstat(fd, &after), 0);
    ::close(fd);
    before.read.identity.st_mtim = after.st_mtim;
    before.read.identity.st_ctim = after.st_ctim;
    EXPECT_FALSE(Unchanged(before));

    // Status changed long before the read: the times alone are trusted, the bytes not read.
    before.photo.fd.reset();
    ReadBack settled;
    LockAndRead(path, settled);
    settled.read.readClock.tv_sec = settled.read.identity.st_ctim.tv_sec + 60;
    EXPECT_TRUE(Unchanged(settled));
    ASSERT_EQ(::truncate(path.c_str(), 4000), 0);
    EXPECT_FALSE(Unchanged(settled));
}

// Two writes within one second leave modification and status-change times that differ only in
// their nanoseconds; each time alone must tell the photo changed. The status change is long
// before the read here, so the bytes are not compared and only the times can tell.
TEST(UnchangedSince, TellsEachTimeApartToTheNanosecond) {
    TempDir dir;
    const std::string path = dir.file("a.jpg");
    WriteFile(path, Bytes(3000, 0x17));
    ReadBack back;
    LockAndRead(path, back);
    back.read.readClock.tv_sec = back.read.identity.st_ctim.tv_sec + 60;
    ASSERT_TRUE(Unchanged(back));
    const auto otherNanoseconds = [](struct timespec& time) {
        time.tv_nsec = time.tv_nsec == 0 ? 1 : time.tv_nsec - 1;
    };
    struct Case {
        const char* name;
        struct timespec stat::*time;
    };
    const platform::PhotoAsRead read = back.read;
    for (const Case& c :
         {Case{"modification", &stat::st_mtim}, Case{"status change", &stat::st_ctim}}) {
        SCOPED_TRACE(c.name);
        otherNanoseconds(back.read.identity.*c.time);
        EXPECT_FALSE(Unchanged(back));
        back.read = read;
        EXPECT_TRUE(Unchanged(back));
    }
}

// The photo's entry is looked at where it is: a link put in its place, even one to the very file
// that was read, is another entry.
TEST(UnchangedSince, NeverFollowsALinkPutInThePhotosPlace) {
    TempDir dir;
    const std::string path = dir.file("a.jpg"), moved = dir.file("b.jpg");
    WriteFile(path, Bytes(3000, 0x17));
    ReadBack back;
    LockAndRead(path, back);
    ASSERT_TRUE(Unchanged(back));
    ASSERT_EQ(::rename(path.c_str(), moved.c_str()), 0);
    ASSERT_EQ(::symlink(moved.c_str(), path.c_str()), 0);
    // Even with the record of the read made to match the file the link points to.
    ASSERT_EQ(::stat(moved.c_str(), &back.read.identity), 0);
    back.read.readClock.tv_sec = back.read.identity.st_ctim.tv_sec + 60;
    EXPECT_FALSE(Unchanged(back));
}

TEST(LockPhoto, RefusesWhatIsNoRegularFileAndReportsAHeldPhoto) {
    TempDir dir;
    platform::LockedPhoto photo;
    using Kind = platform::Result::Kind;
    const platform::Result missing =
        platform::LockPhoto(dir.file("missing.jpg"), O_RDONLY, {}, photo);
    EXPECT_EQ(missing.error(), ENOENT);
    EXPECT_EQ(missing.kind(), Kind::NotFound);
    ASSERT_EQ(::mkfifo(dir.file("fifo.jpg").c_str(), 0644), 0);
    for (const std::string& noPhoto : {dir.file("fifo.jpg"), dir.path()}) {
        const platform::Result refused = platform::LockPhoto(noPhoto, O_RDONLY, {}, photo);
        EXPECT_EQ(refused.error(), EINVAL) << noPhoto;
        EXPECT_EQ(refused.kind(), Kind::Unsupported) << noPhoto;
    }

    const std::string path = dir.file("a.jpg");
    WriteFile(path, Bytes(10, 1));
    platform::LockedPhoto first;
    ASSERT_TRUE(platform::LockPhoto(path, O_RDONLY, {}, first).ok());
    platform::LockWait brief;
    brief.total = std::chrono::milliseconds(20);
    const platform::Result held = platform::LockPhoto(path, O_RDONLY, brief, photo);
    EXPECT_EQ(held.error(), EWOULDBLOCK);
    EXPECT_EQ(held.kind(), Kind::Busy);
    EXPECT_EQ(English(held), "another program is changing the photo");
    first.fd.reset();
    EXPECT_TRUE(platform::LockPhoto(path, O_RDONLY, brief, photo).ok());
}

// In a shared sticky folder another user's link could aim a turn, root's above all, at any photo
// the turn may write; our own links, and links of the folder's owner, are followed as ever.
TEST(LockPhoto, FollowsNoLinkAnotherUserLeftInASharedFolder) {
    if (::geteuid() != 0) GTEST_SKIP() << "giving a link to another user needs root";
    TempDir dir;
    const std::string target = dir.file("private.jpg"), shared = dir.path() + "/shared";
    WriteFile(target, Bytes(100, 7));
    ASSERT_EQ(::mkdir(shared.c_str(), 0777), 0);
    ASSERT_EQ(::chmod(shared.c_str(), 01777), 0);
    const std::string link = shared + "/o.jpg";
    ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);
    constexpr uid_t kOther = 54329;
    ASSERT_EQ(::lchown(link.c_str(), kOther, kOther), 0);

    platform::LockedPhoto photo;
    const platform::Result refused = platform::LockPhoto(link, O_RDONLY, {}, photo);
    EXPECT_EQ(refused.kind(), platform::Result::Kind::NoPermission);
    EXPECT_EQ(English(refused),
              "it is a link another user made in a shared folder, which is not followed");
    EXPECT_FALSE(photo.fd.valid());

    // The same link of the folder's owner, or in a folder others may not write, is followed.
    const auto followed = [&link, &target] {
        platform::LockedPhoto locked;
        return platform::LockPhoto(link, O_RDONLY, {}, locked).ok() && locked.target == target;
    };
    ASSERT_EQ(::chown(shared.c_str(), kOther, kOther), 0);
    EXPECT_TRUE(followed());
    ASSERT_EQ(::chown(shared.c_str(), 0, 0), 0);
    ASSERT_EQ(::chmod(shared.c_str(), 0755), 0);
    EXPECT_TRUE(followed());
    ASSERT_EQ(::chmod(shared.c_str(), 01777), 0);
    ASSERT_EQ(::lchown(link.c_str(), 0, 0), 0);
    EXPECT_TRUE(followed());
}
