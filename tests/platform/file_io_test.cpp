// SPDX-License-Identifier: GPL-3.0-or-later
// What a replacement reports when a flush or an in-place rewrite fails, and what a load does with
// what it leaves.
#include "collection/scan.h"
#include "rotate/transform.h"
#include "support/english.h"
#include "support/jpeg_factory.h"
#include "support/kept_copy.h"
#include "support/temp_dir.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/xattr.h>

#include "platform/file_io.h"
#include "platform/leftovers.h"

using namespace testing_support;

namespace {

// A call that does its work and then reports `error`, as a disk that fails late does.
std::function<int(int)> FailingAfter(int (*call)(int), int error, int* calls = nullptr,
                                     int failFrom = 1) {
    return [=](int fd) {
        call(fd);
        if (calls && ++*calls < failFrom) return 0;
        errno = error;
        return -1;
    };
}

QStringList Leftovers(const TempDir& dir) {
    QStringList photos, stale;
    collection::ScanFolder(dir.qpath(), false, photos, &stale);
    return stale;
}

} // namespace

TEST(ReplaceFile, AFlushAfterTheRenameIsAWarningThatNamesTheFile) {
    TempDir dir;
    const std::string path = dir.file("photo.jpg");
    const Bytes next{9, 8, 7};
    struct Case {
        platform::ReplaceCalls calls;
        bool warns;
    };
    std::vector<Case> cases(4);
    cases[0].calls.closeFile = FailingAfter(::close, EIO);
    cases[1].calls.fsyncFolder = FailingAfter(::fsync, EIO);
    cases[2].calls.fsyncFolder = FailingAfter(::fsync, EINVAL);
    cases[3].calls.fsyncFolder = FailingAfter(::fsync, ENOTSUP);
    cases[0].warns = cases[1].warns = true;
    for (const Case& c : cases) {
        WriteFile(path, {1, 2, 3, 4});
        const platform::ReplaceResult result = platform::ReplaceFileContents(path, next, c.calls);
        EXPECT_TRUE(result.replaced());
        EXPECT_EQ(ReadFile(path), next);
        EXPECT_EQ(result.result.kind() == platform::Result::Kind::DoneBut, c.warns)
            << English(result.result);
        if (c.warns) {
            EXPECT_EQ(result.result.why(), platform::Why::NotFlushed);
            EXPECT_NE(English(result.result).find("photo.jpg"), std::string::npos)
                << English(result.result);
        }
    }
    // A flush that fails before the rename still fails the replacement and keeps the original.
    platform::ReplaceCalls early;
    early.fsyncFile = FailingAfter(::fsync, EIO);
    WriteFile(path, {1, 2, 3, 4});
    EXPECT_EQ(platform::ReplaceFileContents(path, next, early).result.error(), EIO);
    EXPECT_EQ(ReadFile(path), (Bytes{1, 2, 3, 4}));
    EXPECT_TRUE(Leftovers(dir).isEmpty());
}

TEST(ReplaceFile, ATurnWhoseFlushFailsLateIsReportedDone) {
    TempDir dir;
    const std::string path = dir.file("photo.jpg");
    ExifSpec spec;
    spec.orientation = 6;
    WriteFile(path, MakeJpegWithExif(64, 48, spec));
    platform::ReplaceCalls calls;
    calls.fsyncFolder = FailingAfter(::fsync, EIO);
    const platform::Result turned =
        rotate::TurnJpegFile(path, rotate::QuarterTurns::One, std::uint16_t(1), calls);
    EXPECT_TRUE(turned.done()) << English(turned);
    EXPECT_EQ(turned.kind(), platform::Result::Kind::DoneBut);
    EXPECT_NE(English(turned).find("photo.jpg"), std::string::npos) << English(turned);
    int w = 0, h = 0;
    DecodeRgb(ReadFile(path), w, h);
    EXPECT_EQ(w, 48);
}

TEST(ReplaceFile, AHardLinkedPhotoKeepsItsCompleteCopyUntilTheRewriteIsDone) {
    TempDir dir;
    const std::string path = dir.file("photo.jpg"), other = dir.file("other-name.jpg");
    const Bytes old{0xFF, 0xD8, 0xFF, 1, 2, 3, 4, 5, 6}, next{0xFF, 0xD8, 0xFF, 9, 8, 7};
    WriteFile(path, old);
    ASSERT_EQ(::link(path.c_str(), other.c_str()), 0);

    // The temporary's flush succeeds, the in-place rewrite's fails.
    int fsyncs = 0;
    platform::ReplaceCalls calls;
    calls.fsyncFile = FailingAfter(::fsync, EIO, &fsyncs, 2);
    const platform::ReplaceResult result = platform::ReplaceFileContents(path, next, calls);
    EXPECT_EQ(result.result.error(), EIO);
    ASSERT_FALSE(result.keptCopy.empty());
    const Bytes kept = ReadFile(result.keptCopy);
    ASSERT_GT(kept.size(), next.size()) << "the turned photo, then the record of its turn";
    EXPECT_EQ(Bytes(kept.begin(), kept.begin() + std::ptrdiff_t(next.size())), next);
    EXPECT_TRUE(platform::IsKeptCopyName(result.keptCopy.substr(result.keptCopy.rfind('/') + 1)));

    // Contents that no rewrite of that turn leaves: the copy is not put in place.
    WriteFile(other, {0, 0});
    ASSERT_EQ(Leftovers(dir).size(), 1);
    EXPECT_EQ(platform::ResolveLeftover(Leftovers(dir)[0].toStdString()).status,
              platform::LeftoverResult::Status::Foreign);
    EXPECT_EQ(ReadFile(path), (Bytes{0, 0}));

    // The next load finds the copy, finishes the rewrite through both names and removes it.
    WriteFile(other, {0xFF, 0xD8, 0xFF, 9, 8, 7, 4, 5, 6}); // written, not yet cut to the size
    const QStringList leftovers = Leftovers(dir);
    ASSERT_EQ(leftovers.size(), 1);
    const platform::LeftoverResult outcome = platform::ResolveLeftover(leftovers[0].toStdString());
    EXPECT_EQ(outcome.status, platform::LeftoverResult::Status::Finished);
    EXPECT_NE(outcome.target.find("photo.jpg"), std::string::npos);
    EXPECT_EQ(ReadFile(path), next);
    EXPECT_EQ(ReadFile(other), next);
    EXPECT_TRUE(Leftovers(dir).isEmpty());

    // A rewrite that succeeds leaves no copy.
    EXPECT_TRUE(platform::ReplaceFileContents(path, old).replaced());
    EXPECT_EQ(ReadFile(other), old);
    EXPECT_TRUE(Leftovers(dir).isEmpty());
}

// Every extended attribute goes with the photo, or the photo stays as it was and the message says
// why. A value the new file already holds (one the system gave it) needs no copy.
TEST(ReplaceFile, AnAttributeThatCannotBeCopiedRefusesTheReplacement) {
    const Bytes old{1, 2, 3, 4}, next{9, 8, 7};
    const auto failing = [](bool setFirst) {
        return [setFirst](int fd, const char* name, const void* value, std::size_t size) {
            if (setFirst) ::fsetxattr(fd, name, value, size, 0);
            errno = ENOSPC;
            return -1;
        };
    };
    const auto attributeKept = [](const std::string& path) {
        char value[8] = {};
        return ::getxattr(path.c_str(), "user.tulvex.note", value, sizeof value) == 4 &&
               std::string(value, 4) == "kept";
    };
    TempDir dir;
    const std::string path = dir.file("photo.jpg");
    WriteFile(path, old);
    if (::setxattr(path.c_str(), "user.tulvex.note", "kept", 4, 0) != 0)
        GTEST_SKIP() << "no extended attributes here";

    platform::ReplaceCalls calls;
    calls.setXattr = failing(false);
    const platform::ReplaceResult refused = platform::ReplaceFileContents(path, next, calls);
    EXPECT_FALSE(refused.replaced());
    EXPECT_EQ(English(refused.result),
              "its extended attributes could not be copied: the disk is full");
    EXPECT_EQ(refused.result.kind(), platform::Result::Kind::NoSpace);
    EXPECT_EQ(ReadFile(path), old);
    EXPECT_TRUE(Leftovers(dir).isEmpty());

    calls.setXattr = failing(true);
    ASSERT_TRUE(platform::ReplaceFileContents(path, next, calls).replaced());
    EXPECT_EQ(ReadFile(path), next);
    EXPECT_TRUE(attributeKept(path));
    EXPECT_TRUE(Leftovers(dir).isEmpty());

    // Rewritten in place, a hard-linked photo keeps its own attributes; its kept copy needs none.
    WriteFile(path, old);
    ASSERT_EQ(::link(path.c_str(), dir.file("other.jpg").c_str()), 0);
    calls.setXattr = failing(false);
    ASSERT_TRUE(platform::ReplaceFileContents(path, next, calls).replaced());
    EXPECT_EQ(ReadFile(path), next);
    EXPECT_TRUE(attributeKept(path));
    EXPECT_TRUE(Leftovers(dir).isEmpty());
}

// Where the file system cannot reserve space, a growing photo gets its growth written past its
// end first. When flushing that fails and so does cutting it off again, the photo holds more than
// its old contents: its complete copy must stay, named, for the next load to finish the turn.
TEST(ReplaceFile, AKeptCopyGoesOnlyWhenThePhotoIsExactlyOldOrNew) {
    // JPEG-like starts: the next load applies a kept copy only between JPEGs.
    const Bytes old{0xFF, 0xD8, 0xFF, 4, 5, 6}, next{0xFF, 0xD8, 0xFF, 6, 5, 4, 3, 2, 1, 0, 1, 2};
    for (const bool cutBackFails : {true, false}) {
        SCOPED_TRACE(cutBackFails ? "the cut-back fails too" : "the cut-back works");
        TempDir dir;
        const std::string path = dir.file("photo.jpg"), other = dir.file("other.jpg");
        WriteFile(path, old);
        ASSERT_EQ(::link(path.c_str(), other.c_str()), 0);
        int fsyncs = 0;
        platform::ReplaceCalls calls;
        calls.reserve = [](int, off_t) {
            errno = EOPNOTSUPP;
            return -1;
        };
        // The kept copy's flush succeeds, the growth's fails.
        calls.fsyncFile = FailingAfter(::fsync, EIO, &fsyncs, 2);
        if (cutBackFails)
            calls.truncate = [](int, off_t) {
                errno = EIO;
                return -1;
            };
        const platform::ReplaceResult result = platform::ReplaceFileContents(path, next, calls);
        EXPECT_FALSE(result.replaced());
        if (!cutBackFails) {
            EXPECT_EQ(ReadFile(path), old);
            EXPECT_TRUE(result.keptCopy.empty());
            EXPECT_TRUE(Leftovers(dir).isEmpty());
            continue;
        }
        EXPECT_GT(ReadFile(path).size(), old.size()) << "bytes past its end";
        ASSERT_FALSE(result.keptCopy.empty()) << "the copy must be named";
        const Bytes kept = ReadFile(result.keptCopy);
        ASSERT_GT(kept.size(), next.size());
        EXPECT_EQ(Bytes(kept.begin(), kept.begin() + std::ptrdiff_t(next.size())), next);
        // The next load finishes the turn from it.
        const QStringList leftovers = Leftovers(dir);
        ASSERT_EQ(leftovers.size(), 1);
        EXPECT_EQ(platform::ResolveLeftover(leftovers[0].toStdString()).status,
                  platform::LeftoverResult::Status::Finished);
        EXPECT_EQ(ReadFile(other), next);
    }
}

TEST(ReplaceFile, AKeptCopyIsNeverLostByALoad) {
    TempDir dir;
    const std::string held = dir.file(".a.jpg.tulvex-keep-ABCDEF");
    WriteFile(dir.file("a.jpg"), {1});
    WriteFile(held, {2});
    // Held by a turn in progress: left alone.
    const int fd = ::open(held.c_str(), O_RDONLY);
    ASSERT_EQ(::flock(fd, LOCK_EX), 0);
    EXPECT_EQ(platform::ResolveLeftover(held).status, platform::LeftoverResult::Status::InUse);
    EXPECT_EQ(ReadFile(dir.file("a.jpg")), Bytes{1});
    ::close(fd);
    // Its photo is gone: the copy stays, and the outcome names the photo it was for.
    const std::string gone = dir.file("gone.jpg"), link = dir.file("gone-too.jpg");
    WriteFile(gone, {0xFF, 0xD8, 0xFF, 1});
    ASSERT_EQ(::link(gone.c_str(), link.c_str()), 0);
    const std::string orphan = InterruptedLinkedTurn(gone, {0xFF, 0xD8, 0xFF, 2, 1, 0});
    ASSERT_FALSE(orphan.empty());
    const Bytes kept = ReadFile(orphan);
    ASSERT_EQ(::unlink(gone.c_str()), 0);
    ASSERT_EQ(::unlink(link.c_str()), 0);
    const platform::LeftoverResult outcome = platform::ResolveLeftover(orphan);
    EXPECT_EQ(outcome.status, platform::LeftoverResult::Status::Foreign);
    EXPECT_FALSE(outcome.result.ok());
    EXPECT_EQ(outcome.target, gone);
    EXPECT_EQ(ReadFile(orphan), kept);
    EXPECT_FALSE(platform::RemoveIfStale(orphan));
    EXPECT_EQ(platform::ResolveLeftover(dir.file("a.jpg")).status,
              platform::LeftoverResult::Status::NotOurs);
}

TEST(ReadFileBytes, ReadsWholeFilesAndFailsOtherwise) {
    TempDir dir;
    const Bytes content = MakeJpeg(40, 30);
    WriteFile(dir.file("a.jpg"), content);
    std::vector<std::uint8_t> out{1, 2, 3};
    ASSERT_TRUE(platform::ReadFileBytes(dir.file("a.jpg"), out).ok());
    EXPECT_EQ(out, content);

    const platform::Result tooBig =
        platform::ReadFileBytes(dir.file("a.jpg"), out, content.size() - 1);
    EXPECT_EQ(tooBig.error(), EFBIG);
    EXPECT_EQ(tooBig.kind(), platform::Result::Kind::TooLarge);
    EXPECT_TRUE(out.empty());
    const platform::Result missing = platform::ReadFileBytes(dir.file("missing"), out);
    EXPECT_EQ(missing.error(), ENOENT);
    EXPECT_EQ(missing.kind(), platform::Result::Kind::NotFound);
    const platform::Result folder = platform::ReadFileBytes(dir.path(), out);
    EXPECT_EQ(folder.error(), EINVAL) << "a folder";
    EXPECT_EQ(folder.kind(), platform::Result::Kind::Unsupported);
}

TEST(ReadFileBytes, AFileShorterThanItsSizeIsAnError) {
    // Files under /sys state a size of a page and hold less: the read ends early.
    const std::string path = "/sys/kernel/mm/transparent_hugepage/enabled";
    std::vector<std::uint8_t> out;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || st.st_size != 4096) GTEST_SKIP() << "no such file here";
    const platform::Result result = platform::ReadFileBytes(path, out);
    EXPECT_FALSE(result.ok());
    EXPECT_EQ(result.error(), EIO);
    EXPECT_TRUE(out.empty());
}
