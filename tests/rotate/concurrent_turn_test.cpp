// SPDX-License-Identifier: GPL-3.0-or-later
// Other processes around a turn: a second turn of the same photo, another program writing it.
#include "exif/jpeg_header.h"
#include "rotate/transform.h"
#include "rotate/turn.h"
#include "support/jpeg_factory.h"
#include "support/temp_dir.h"

#include <QDir>

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <functional>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/wait.h>

#include "platform/file_io.h"

using namespace testing_support;

namespace {

QStringList Temporaries(const TempDir& dir) {
    return QDir(dir.qpath())
        .entryList({"*.tulvex-tmp-*", "*.tulvex-keep-*"}, QDir::Files | QDir::Hidden);
}

Bytes TurnedRight(const Bytes& photo) {
    Bytes turned;
    EXPECT_TRUE(rotate::TransformJpegBytes(photo, rotate::QuarterTurns::One, turned).ok());
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
    platform::FlushCalls calls;
    calls.lockWait.total = std::chrono::seconds(30);
    calls.lockWait.step = std::chrono::milliseconds(1);
    calls.lockWait.onBusy = [busy] {
        const char byte = 1;
        (void)!::write(busy, &byte, 1);
    };
    const bool ok =
        rotate::TurnJpegFile(path, rotate::QuarterTurns::One, std::nullopt, nullptr, calls).ok();
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
    platform::FlushCalls calls;
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
        rotate::TurnJpegFile(path, rotate::QuarterTurns::One, std::nullopt, nullptr, calls);
    ASSERT_GT(child, 0);
    int status = -1;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(first.ok()) << first.text();
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
    EXPECT_EQ(rotate::ApplyTurn(*firstPlan, false).status, rotate::TurnOutcome::Status::Turned);
    EXPECT_EQ(rotate::ApplyTurn(*secondPlan, false).status, rotate::TurnOutcome::Status::Turned);
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
    platform::FlushCalls calls;
    int waits = 0;
    calls.lockWait.total = std::chrono::milliseconds(30);
    calls.lockWait.onBusy = [&waits] { ++waits; };
    const platform::Result turn =
        rotate::TurnJpegFile(path, rotate::QuarterTurns::One, std::nullopt, nullptr, calls);
    ::close(holder);
    EXPECT_FALSE(turn.ok());
    EXPECT_EQ(turn.text(), "another program is changing the photo");
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
        platform::FlushCalls calls;
        calls.beforeReplace = writer.write;
        const platform::Result turn =
            rotate::TurnJpegFile(path, rotate::QuarterTurns::One, std::nullopt, nullptr, calls);
        EXPECT_FALSE(turn.ok());
        EXPECT_EQ(turn.kind(), platform::Result::Kind::ChangedMeanwhile);
        EXPECT_EQ(turn.text(), "the photo changed while it was being turned");
        EXPECT_EQ(ReadFile(path), writer.leaves);
        EXPECT_TRUE(Temporaries(dir).isEmpty());
    }
}
