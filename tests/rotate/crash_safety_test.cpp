// SPDX-License-Identifier: GPL-3.0-or-later
// A turn killed at any moment, or stopped by a full disk, never costs the photo.
#include "collection/scan.h"
#include "exif/orientation_writer.h"
#include "rotate/transform.h"
#include "support/english.h"
#include "support/jpeg_factory.h"
#include "support/small_disk.h"
#include "support/temp_dir.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <gtest/gtest.h>
#include <random>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/wait.h>

#include "platform/file_io.h"
#include "platform/leftovers.h"

using namespace testing_support;

namespace {

QStringList Temporaries(const QString& folder) {
    return QDir(folder).entryList({"*.tulvex-tmp-*"}, QDir::Files | QDir::Hidden);
}

void RemoveStale(const QString& folder) {
    QStringList photos, stale;
    collection::ScanFolder(folder, false, photos, &stale);
    for (const QString& t : stale)
        platform::RemoveIfStale(t.toStdString());
}

} // namespace

TEST(CrashSafety, AKilledTurnLeavesTheOldOrTheNewPhotoComplete) {
    TempDir dir;
    const std::string photo = dir.file("photo.jpg");
    ExifSpec spec;
    spec.orientation = 6;
    spec.thumbnail = MakeJpeg(160, 120);
    const Bytes original = MakeJpegWithExif(1600, 1200, spec);
    // What a turn to the right must leave: turned pixels and thumbnail, orientation 1.
    Bytes turned;
    ASSERT_TRUE(
        rotate::TurnJpegBytes(original, rotate::QuarterTurns::One, std::nullopt, true, turned)
            .ok());
    jpeg::MemoryFile patched(turned);
    exif::PatchOrientation(patched, 1);
    turned = patched.release();
    const std::string cli = (QCoreApplication::applicationDirPath() + "/tulvex-cli").toStdString();
    ASSERT_EQ(::access(cli.c_str(), X_OK), 0);

    // One turn left alone: what it writes, and how long it takes here.
    WriteFile(photo, original);
    QElapsedTimer clock;
    clock.start();
    ASSERT_EQ(std::system(("'" + cli + "' rotate right '" + photo + "' >/dev/null").c_str()), 0);
    const int turnMicroseconds = int(clock.nsecsElapsed() / 1000);
    ASSERT_EQ(ReadFile(photo), turned);

    std::mt19937 random(42);
    int midWrite = 0, sawOld = 0, sawNew = 0;
    for (int round = 0; round < 40; ++round) {
        WriteFile(photo, original);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            const int devnull = ::open("/dev/null", O_WRONLY);
            ::dup2(devnull, 1);
            ::execl(cli.c_str(), cli.c_str(), "rotate", "right", photo.c_str(),
                    static_cast<char*>(nullptr));
            ::_exit(127);
        }
        int status = 0;
        if (round % 2 == 0) {
            // Aimed: killed as soon as the new contents start to appear beside the photo.
            while (Temporaries(dir.qpath()).isEmpty() && ::waitpid(child, &status, WNOHANG) == 0) {
            }
        } else {
            ::usleep(useconds_t(
                std::uniform_int_distribution<int>(0, turnMicroseconds * 3 / 2)(random)));
        }
        ::kill(child, SIGKILL);
        ::waitpid(child, &status, 0);
        const Bytes now = ReadFile(photo);
        const bool isOld = now == original, isNew = now == turned;
        ASSERT_TRUE(isOld || isNew) << "round " << round << ": " << now.size() << " bytes";
        // A temporary left behind by a killed turn: the kill came before the rename.
        if (WIFSIGNALED(status) && !Temporaries(dir.qpath()).isEmpty()) {
            ++midWrite;
            EXPECT_TRUE(isOld) << "round " << round
                               << ": replaced, yet its temporary is still there";
            RemoveStale(dir.qpath());
        }
        sawOld += isOld;
        sawNew += isNew;
    }
    EXPECT_GE(midWrite, 5) << "too few kills landed while the new photo was being written";
    EXPECT_GT(sawNew, 0) << "no turn ever finished";
    RemoveStale(dir.qpath()); // what the next start does
    EXPECT_TRUE(Temporaries(dir.qpath()).isEmpty());
}

TEST(CrashSafety, TemporariesInUseAreNotRemoved) {
    TempDir dir;
    const std::string held = dir.file(".a.jpg.tulvex-tmp-ABCDEF");
    const std::string left = dir.file(".b.jpg.tulvex-tmp-GHIJKL");
    const std::string photo = dir.file("c.jpg");
    WriteFile(held, {1});
    WriteFile(left, {2});
    WriteFile(photo, {3});
    const int fd = ::open(held.c_str(), O_RDONLY);
    ASSERT_EQ(::flock(fd, LOCK_EX), 0);
    RemoveStale(dir.qpath());
    EXPECT_EQ(::access(held.c_str(), F_OK), 0);
    EXPECT_NE(::access(left.c_str(), F_OK), 0);
    EXPECT_EQ(::access(photo.c_str(), F_OK), 0) << "only our own temporaries are ever removed";
    EXPECT_FALSE(platform::RemoveIfStale(photo));
    ::close(fd);
}

TEST(CrashSafety, AFullDiskLeavesTheOriginal) {
    TempDir dir;
    const QString mountPoint = dir.mkdir("disk");
    const Bytes original = MakeJpeg(800, 600, Subsampling::S444, 98);
    SmallDisk disk(mountPoint.toStdString(), int(original.size() / 1024 + 24));
    if (!disk.mounted()) GTEST_SKIP() << "cannot mount a small file system here (needs root)";
    const std::string photo = mountPoint.toStdString() + "/photo.jpg";
    WriteFile(photo, original);
    const platform::Result result =
        rotate::TurnJpegFile(photo, rotate::QuarterTurns::One, std::nullopt);
    EXPECT_EQ(result.error(), ENOSPC) << "the write failed";
    EXPECT_EQ(result.kind(), platform::Result::Kind::NoSpace);
    EXPECT_NE(English(result).find("disk is full"), std::string::npos) << English(result);
    EXPECT_EQ(ReadFile(photo), original);
    EXPECT_TRUE(Temporaries(mountPoint).isEmpty());
}

namespace {

// Fills the file system at `folder` to the last page, then frees `pages` pages again.
bool FillLeaving(const std::string& folder, std::size_t pages) {
    const std::string filler = folder + "/filler";
    const int fd = ::open(filler.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0) return false;
    const Bytes page(4096, 0x55);
    off_t size = 0;
    while (::pwrite(fd, page.data(), page.size(), size) == ssize_t(page.size()))
        size += off_t(page.size());
    const bool full = errno == ENOSPC && size >= off_t(pages * page.size());
    const bool freed = full && ::ftruncate(fd, size - off_t(pages * page.size())) == 0;
    ::close(fd);
    return freed;
}

std::size_t PagesFor(std::size_t bytes) {
    return (bytes + 4095) / 4096;
}

} // namespace

TEST(CrashSafety, AFullDiskNeverTearsAHardLinkedPhoto) {
    const Bytes old = MakeJpeg(400, 300, Subsampling::S444, 70);
    const Bytes next = MakeJpeg(400, 300, Subsampling::S444, 98); // more pages than the photo
    ASSERT_GT(PagesFor(next.size()), PagesFor(old.size()) + 2);
    struct Case {
        const char* what;
        std::function<int(int, off_t)> reserve; // none: the file system's own
        bool passOriginal;
        bool flushFailsAfterTheCopy = false; // so a photo once overwritten could not be put back
    };
    const std::vector<Case> cases = {
        {"reserved by the file system", nullptr, true},
        {"a reservation that holds nothing", [](int, off_t) { return 0; }, false},
        {"no reservation on this file system",
         [](int, off_t) {
             errno = EOPNOTSUPP;
             return -1;
         },
         true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        const QString mountPoint = dir.mkdir("disk");
        SmallDisk disk(mountPoint.toStdString(), 1024);
        if (!disk.mounted()) GTEST_SKIP() << "cannot mount a small file system here (needs root)";
        const std::string photo = mountPoint.toStdString() + "/photo.jpg";
        const std::string link = mountPoint.toStdString() + "/second-name.jpg";
        WriteFile(photo, old);
        ASSERT_EQ(::link(photo.c_str(), link.c_str()), 0);
        struct stat identity {};
        ASSERT_EQ(::stat(photo.c_str(), &identity), 0);
        // Room for the kept copy (the photo and its record), none for the photo to grow.
        ASSERT_TRUE(FillLeaving(mountPoint.toStdString(), PagesFor(next.size() + 4096)));

        platform::ReplaceCalls calls;
        if (c.reserve) calls.reserve = c.reserve;
        int flushes = 0;
        if (c.flushFailsAfterTheCopy)
            calls.fsyncFile = [&flushes](int fd) {
                if (++flushes == 1) return ::fsync(fd);
                errno = EIO;
                return -1;
            };
        const platform::PhotoAsRead original{old, identity};
        const platform::ReplaceResult result =
            platform::ReplaceFileContents(photo, next, calls, c.passOriginal ? &original : nullptr);
        EXPECT_EQ(result.result.error(), ENOSPC) << English(result.result);
        EXPECT_EQ(result.result.kind(), platform::Result::Kind::NoSpace);
        EXPECT_NE(English(result.result).find("not enough space"), std::string::npos)
            << English(result.result);
        EXPECT_TRUE(result.keptCopy.empty()) << "nothing is left to finish";
        EXPECT_EQ(ReadFile(link), old) << "byte for byte as it was";
        struct stat after {};
        ASSERT_EQ(::stat(photo.c_str(), &after), 0);
        if (!c.reserve)
            EXPECT_TRUE(after.st_mtim.tv_sec == identity.st_mtim.tv_sec &&
                        after.st_mtim.tv_nsec == identity.st_mtim.tv_nsec)
                << "not a byte written";
        QStringList photos, leftovers;
        collection::ScanFolder(mountPoint, false, photos, &leftovers);
        EXPECT_TRUE(leftovers.isEmpty()) << leftovers.join(' ').toStdString();
    }
}

TEST(CrashSafety, APhotoWithoutWriteBitsIsNotTurnedEvenByRoot) {
    if (::geteuid() != 0) GTEST_SKIP() << "only root can write such a photo at all";
    TempDir dir;
    const Bytes original = MakeJpeg(64, 48);
    for (const mode_t mode : {0444, 0555, 0400}) {
        for (const bool linked : {false, true}) {
            SCOPED_TRACE(QString::number(mode, 8).toStdString() + (linked ? " linked" : ""));
            const std::string photo = dir.file("photo.jpg"), link = dir.file("link.jpg");
            ::unlink(link.c_str());
            WriteFile(photo, original);
            ASSERT_EQ(::chmod(photo.c_str(), mode), 0);
            if (linked) ASSERT_EQ(::link(photo.c_str(), link.c_str()), 0);
            const platform::Result result =
                rotate::TurnJpegFile(photo, rotate::QuarterTurns::One, std::nullopt);
            EXPECT_EQ(result.error(), EACCES) << English(result);
            EXPECT_EQ(result.kind(), platform::Result::Kind::NoPermission);
            EXPECT_EQ(ReadFile(photo), original);
            EXPECT_TRUE(Temporaries(dir.qpath()).isEmpty());
            ::chmod(photo.c_str(), 0644);
        }
    }
    // One write bit, anybody's, is enough for root, as it is for the file's owner.
    const std::string photo = dir.file("photo.jpg");
    WriteFile(photo, original);
    ASSERT_EQ(::chmod(photo.c_str(), 0464), 0);
    EXPECT_TRUE(rotate::TurnJpegFile(photo, rotate::QuarterTurns::One, std::nullopt).ok());
    EXPECT_NE(ReadFile(photo), original);
}

TEST(CrashSafety, AReadOnlyFolderGivesAClearErrorAndKeepsThePhoto) {
    TempDir dir;
    const QString mountPoint = dir.mkdir("disk");
    SmallDisk disk(mountPoint.toStdString(), 1024);
    if (!disk.mounted()) GTEST_SKIP() << "cannot mount a small file system here (needs root)";
    const std::string photo = mountPoint.toStdString() + "/photo.jpg";
    const Bytes original = MakeJpeg(64, 48);
    WriteFile(photo, original);
    ASSERT_TRUE(disk.makeReadOnly());
    const platform::Result result =
        rotate::TurnJpegFile(photo, rotate::QuarterTurns::One, std::nullopt);
    EXPECT_EQ(result.kind(), platform::Result::Kind::NoPermission) << English(result);
    EXPECT_NE(English(result).find("the disk is read-only"), std::string::npos) << English(result);
    EXPECT_EQ(ReadFile(photo), original);
}
