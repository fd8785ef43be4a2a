// SPDX-License-Identifier: GPL-3.0-or-later
// Other processes around a turn: a second turn of the same photo, another program writing it.
#include "exif/jpeg_header.h"
#include "rotate/transform.h"
#include "rotate/turn.h"
#include "support/english.h"
#include "support/jpeg_factory.h"
#include "support/temp_dir.h"

#include <QDir>

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <functional>
#include <future>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>

#include "platform/file_io.h"
#include "platform/safe_replace.h"

using namespace testing_support;

namespace {

QStringList Temporaries(const TempDir& dir) {
    return QDir(dir.qpath())
        .entryList({"*.tulvex-tmp-*", "*.tulvex-keep-*"}, QDir::Files | QDir::Hidden);
}

Bytes TurnedRight(const Bytes& photo) {
    Bytes turned;
    EXPECT_TRUE(
        rotate::TurnJpegBytes(photo, rotate::QuarterTurns::One, std::nullopt, true, turned).ok());
    return turned;
}

// A second process turning the photo to the right; it writes a byte to `busy` when it finds the
// photo held and starts to wait. Only the pipe's end is kept: descriptors of the parent's turn
// would otherwise hold its lock in the child too.
pid_t StartSecondTurn(const std::string& path, int busy) {
    const pid_t child = ::fork();
    if (child != 0) return child;
    if (busy > 3) ::close_range(3, unsigned(busy) - 1, 0);
    ::close_range(unsigned(busy) + 1, UINT_MAX, 0);
    platform::ReplaceCalls calls;
    calls.lockWait.total = std::chrono::seconds(30);
    calls.lockWait.step = std::chrono::milliseconds(1);
    calls.lockWait.onBusy = [busy] {
        const char byte = 1;
        (void)!::write(busy, &byte, 1);
    };
    const bool ok = rotate::TurnJpegFile(path, rotate::QuarterTurns::One, std::nullopt, calls).ok();
    ::_exit(ok ? 0 : 1);
}

} // namespace

// The first turn is held just before its result takes the photo's place while a second process
// turns the same photo: the second waits, then turns what the first wrote.
TEST(ConcurrentTurns, TwoProcessesTurningOnePhotoGiveTwoTurns) {
    TempDir dir;
    const std::string path = dir.file("d.jpg");
    const Bytes original = MakeJpegWithExif(64, 48, {});
    WriteFile(path, original);

    pid_t child = -1;
    bool childWaited = false;
    platform::ReplaceCalls calls;
    calls.beforeReplace = [&] {
        int pipeFds[2];
        ASSERT_EQ(::pipe2(pipeFds, O_CLOEXEC), 0);
        child = StartSecondTurn(path, pipeFds[1]);
        ::close(pipeFds[1]);
        char byte = 0;
        // A byte: the child waits for the lock; the end of the pipe: it finished without waiting.
        childWaited = ::read(pipeFds[0], &byte, 1) == 1;
        ::close(pipeFds[0]);
    };
    const platform::Result first =
        rotate::TurnJpegFile(path, rotate::QuarterTurns::One, std::nullopt, calls);
    ASSERT_GT(child, 0);
    int status = -1;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(first.ok()) << English(first);
    EXPECT_TRUE(childWaited);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(ReadFile(path), TurnedRight(TurnedRight(original))) << "both turns applied";
    EXPECT_TRUE(Temporaries(dir).isEmpty());
}

// Two turns planned while the photo still said 8, as two processes do when they start together:
// the one that gets the photo second must write the orientation that follows from what the first
// one left (8, right: 3; right again: 6), not the one its plan saw.
TEST(ConcurrentTurns, TheSecondTurnTakesTheOrientationTheFirstOneWrote) {
    TempDir dir;
    const std::string path = dir.file("d.jpg");
    WriteFile(path, MakeJpegWithExif(64, 48, {.orientation = 8}));
    const QString qpath = QString::fromStdString(path);
    const auto firstPlan = rotate::PlanTurn(qpath, rotate::RotationCode::Right, false);
    const auto secondPlan = rotate::PlanTurn(qpath, rotate::RotationCode::Right, false);
    ASSERT_TRUE(firstPlan && secondPlan);
    EXPECT_TRUE(rotate::ApplyTurn(*firstPlan, false).result.ok());
    EXPECT_TRUE(rotate::ApplyTurn(*secondPlan, false).result.ok());
    const auto header = exif::ReadJpegFileHeader(path);
    ASSERT_TRUE(header);
    EXPECT_EQ(header->orientation, 6);
}

TEST(ConcurrentTurns, APhotoHeldByAnotherProgramIsWaitedForThenReported) {
    TempDir dir;
    const std::string path = dir.file("d.jpg");
    const Bytes original = MakeJpegWithExif(64, 48, {});
    WriteFile(path, original);
    const int holder = ::open(path.c_str(), O_RDONLY);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, LOCK_EX), 0);
    platform::ReplaceCalls calls;
    int waits = 0;
    calls.lockWait.total = std::chrono::milliseconds(30);
    calls.lockWait.onBusy = [&waits] { ++waits; };
    const platform::Result turn =
        rotate::TurnJpegFile(path, rotate::QuarterTurns::One, std::nullopt, calls);
    ::close(holder);
    EXPECT_FALSE(turn.ok());
    EXPECT_EQ(English(turn), "another program is changing the photo");
    EXPECT_EQ(waits, 1);
    EXPECT_EQ(ReadFile(path), original);
    EXPECT_TRUE(Temporaries(dir).isEmpty());
}

// Writers that take no lock, between the read and the replacement: what they wrote stays, and
// the turn says it did not happen.
TEST(ConcurrentTurns, AnotherProgramsChangeIsNeverLost) {
    TempDir dir;
    const std::string path = dir.file("d.jpg");
    const Bytes original = MakeJpegWithExif(64, 48, {});
    const Bytes appended = [&] {
        Bytes b = original;
        b.insert(b.end(), {'x', 'y', 'z'});
        return b;
    }();
    Bytes sameSize = original;
    sameSize[sameSize.size() / 2] ^= 0x55;
    const Bytes other = MakeJpegWithExif(48, 32, {});

    struct Writer {
        const char* name;
        std::function<void()> write;
        const Bytes& leaves;
    };
    const Writer writers[] = {
        {"append",
         [&] {
             const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND);
             ASSERT_EQ(::write(fd, "xyz", 3), 3);
             ::close(fd);
         },
         appended},
        {"rename over, as exiftool writes",
         [&] {
             WriteFile(dir.file("d.jpg_exiftool_tmp"), other);
             ASSERT_EQ(::rename(dir.file("d.jpg_exiftool_tmp").c_str(), path.c_str()), 0);
         },
         other},
        {"same size, in place",
         [&] {
             const int fd = ::open(path.c_str(), O_WRONLY);
             const std::size_t at = sameSize.size() / 2;
             ASSERT_EQ(::pwrite(fd, &sameSize[at], 1, off_t(at)), 1);
             ::close(fd);
         },
         sameSize},
    };
    for (const Writer& writer : writers) {
        SCOPED_TRACE(writer.name);
        WriteFile(path, original);
        platform::ReplaceCalls calls;
        calls.beforeReplace = writer.write;
        const platform::Result turn =
            rotate::TurnJpegFile(path, rotate::QuarterTurns::One, std::nullopt, calls);
        EXPECT_FALSE(turn.ok());
        EXPECT_EQ(turn.kind(), platform::Result::Kind::ChangedMeanwhile);
        EXPECT_EQ(English(turn), "the photo changed while it was being turned");
        EXPECT_EQ(ReadFile(path), writer.leaves);
        EXPECT_TRUE(Temporaries(dir).isEmpty());
    }
}

// Someone who may write the photo's folder swaps a link in after the photo was read: the turn
// works on the entry it read, in the folder it found it in, and never makes or replaces a file
// where the link points.
TEST(ConcurrentTurns, ALinkSwappedInMidTurnIsNeverFollowed) {
    struct Swap {
        const char* name;
        bool hardLinked;
        bool folder; // the photo's folder is swapped, not the photo
    };
    const Swap swaps[] = {
        {"the photo replaced by a link", false, false},
        {"a hard-linked photo replaced by a link", true, false},
        {"the photo's folder replaced by a link", false, true},
    };
    const Bytes original = MakeJpegWithExif(64, 48, {});
    const Bytes victimBytes = MakeJpegWithExif(48, 32, {});
    for (const Swap& swap : swaps) {
        SCOPED_TRACE(swap.name);
        TempDir dir;
        const QString elsewhere = dir.mkdir("elsewhere");
        dir.mkdir("album");
        const std::string path = dir.file("album/d.jpg"), victim = dir.file("elsewhere/d.jpg");
        WriteFile(path, original);
        WriteFile(victim, victimBytes);
        if (swap.hardLinked) ASSERT_EQ(::link(path.c_str(), dir.file("album/e.jpg").c_str()), 0);
        const auto elsewhereHolds = [&] {
            return QDir(elsewhere).entryList(QDir::AllEntries | QDir::Hidden |
                                             QDir::NoDotAndDotDot);
        };
        const rotate::SeenTurn swapIn = [&](const platform::PhotoAsRead&,
                                            std::span<const std::uint8_t>) {
            if (swap.folder) {
                ASSERT_EQ(::rename(dir.file("album").c_str(), dir.file("moved").c_str()), 0);
                ASSERT_EQ(::symlink(elsewhere.toStdString().c_str(), dir.file("album").c_str()), 0);
            } else {
                ASSERT_EQ(::unlink(path.c_str()), 0);
                ASSERT_EQ(::symlink(victim.c_str(), path.c_str()), 0);
            }
        };
        QStringList beforeReplace;
        platform::ReplaceCalls calls;
        calls.beforeReplace = [&] { beforeReplace = elsewhereHolds(); };
        const rotate::OrientationAfter none = [](std::uint16_t) { return std::nullopt; };
        const platform::Result turn =
            rotate::TurnJpegFile(path, rotate::QuarterTurns::One, none, calls, true, swapIn);
        EXPECT_EQ(beforeReplace, QStringList{"d.jpg"})
            << "nothing is made beside the link's target";
        EXPECT_EQ(elsewhereHolds(), QStringList{"d.jpg"});
        EXPECT_EQ(ReadFile(victim), victimBytes) << "the link's target is never written";
        if (swap.folder) {
            // The folder the photo was found in holds the entry that was locked: it is turned.
            EXPECT_TRUE(turn.ok()) << English(turn);
            EXPECT_EQ(ReadFile(dir.file("moved/d.jpg")), TurnedRight(original));
            EXPECT_TRUE(
                QDir(dir.qfile("moved"))
                    .entryList({"*.tulvex-tmp-*", "*.tulvex-keep-*"}, QDir::Files | QDir::Hidden)
                    .isEmpty());
        } else {
            EXPECT_EQ(turn.kind(), platform::Result::Kind::ChangedMeanwhile) << English(turn);
            EXPECT_TRUE(
                QDir(dir.qfile("album"))
                    .entryList({"*.tulvex-tmp-*", "*.tulvex-keep-*"}, QDir::Files | QDir::Hidden)
                    .isEmpty());
            if (swap.hardLinked) EXPECT_EQ(ReadFile(dir.file("album/e.jpg")), original);
        }
    }
}

// A turn that keeps the file times gives them to the turned photo before it takes the photo's
// place, under the photo's lock: a second turn waiting for that lock reads the photo as it then
// stays, and its own result replaces it.
TEST(ConcurrentTurns, ASecondTurnWaitingForOneThatKeepsTheTimesGoesThrough) {
    const Bytes original = MakeJpegWithExif(64, 48, {});
    const struct timespec old[2] = {{1000000000, 123}, {1000000000, 456789}};
    for (const bool hardLinked : {false, true}) {
        SCOPED_TRACE(hardLinked ? "hard-linked" : "one link");
        TempDir dir;
        const std::string path = dir.file("d.jpg");
        WriteFile(path, original);
        if (hardLinked) ASSERT_EQ(::link(path.c_str(), dir.file("e.jpg").c_str()), 0);
        ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), old, 0), 0);
        // Planned together, as by two processes started at once.
        const QString qpath = QString::fromStdString(path);
        const auto firstPlan = rotate::PlanTurn(qpath, rotate::RotationCode::Right, true);
        const auto secondPlan = rotate::PlanTurn(qpath, rotate::RotationCode::Right, true);
        ASSERT_TRUE(firstPlan && secondPlan && firstPlan->timesKept);

        std::promise<void> secondWaits, firstDone;
        std::shared_future<void> done = firstDone.get_future().share();
        rotate::TurnCalls secondCalls;
        secondCalls.replace.lockWait.total = std::chrono::seconds(30);
        secondCalls.replace.lockWait.step = std::chrono::milliseconds(1);
        secondCalls.replace.lockWait.onBusy = [&] { secondWaits.set_value(); };
        secondCalls.replace.beforeReplace = [done] { done.wait(); };
        rotate::TurnResult second;
        std::thread secondTurn;

        rotate::TurnCalls firstCalls;
        firstCalls.replace.beforeReplace = [&] {
            secondTurn =
                std::thread([&] { second = rotate::ApplyTurn(*secondPlan, false, secondCalls); });
            secondWaits.get_future().wait();
        };
        // The photo's last descriptor this turn closes, while it still holds the lock.
        struct timespec atClose {};
        firstCalls.replace.closeFile = [&atClose](int fd) {
            struct stat st {};
            if (::fstat(fd, &st) == 0) atClose = st.st_mtim;
            return ::close(fd);
        };
        const rotate::TurnResult first = rotate::ApplyTurn(*firstPlan, false, firstCalls);
        firstDone.set_value();
        if (secondTurn.joinable()) secondTurn.join();
        EXPECT_TRUE(first.result.ok() && first.times.ok()) << English(first.result);
        EXPECT_EQ(atClose.tv_sec, old[1].tv_sec) << "the times are set before the lock is let go";
        EXPECT_EQ(atClose.tv_nsec, old[1].tv_nsec);
        EXPECT_TRUE(second.result.ok() && second.times.ok()) << English(second.result);
        EXPECT_EQ(ReadFile(path), TurnedRight(TurnedRight(original)));
        struct stat now {};
        ASSERT_EQ(::stat(path.c_str(), &now), 0);
        EXPECT_EQ(now.st_mtim.tv_sec, old[1].tv_sec);
        EXPECT_EQ(now.st_mtim.tv_nsec, old[1].tv_nsec);
        EXPECT_TRUE(Temporaries(dir).isEmpty());
    }
}
