// SPDX-License-Identifier: GPL-3.0-or-later
#include "exif/exif_reader.h"
#include "rotate/transform.h"
#include "support/english.h"
#include "support/jpeg_factory.h"
#include "support/temp_dir.h"

#include <QDir>

#include <unistd.h>

#include <cerrno>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>

#include "platform/file_io.h"

using namespace testing_support;
using jpeg::ByteOrder;

namespace {

const char* JpegtranAngle(rotate::QuarterTurns transform) {
    return transform == rotate::QuarterTurns::One   ? "90"
           : transform == rotate::QuarterTurns::Two ? "180"
                                                    : "270";
}

int CountTemporaries(const std::string& dir) {
    return int(QDir(QString::fromStdString(dir))
                   .entryList({"*.tulvex-tmp-*"}, QDir::Files | QDir::Hidden)
                   .size());
}

std::uint32_t Tag32(const exif::ExifData& data, std::uint32_t tag) {
    for (const auto& item : data.items)
        if (item.id == tag && item.value.size() >= 4)
            return *reinterpret_cast<const std::uint32_t*>(item.value.data());
    return 0;
}

} // namespace

TEST(LosslessTransform, SamePixelsAsJpegtran) {
    TempDir dir;
    struct Case {
        int w, h;
        Subsampling s;
        ByteOrder o;
    };
    const Case cases[] = {{64, 48, Subsampling::S420, ByteOrder::Little},
                          {75, 41, Subsampling::S420, ByteOrder::Big},
                          {40, 24, Subsampling::S444, ByteOrder::Little},
                          {33, 17, Subsampling::S444, ByteOrder::Big}};
    for (const Case& c : cases) {
        for (const rotate::QuarterTurns transform : rotate::kTransformValues) {
            ExifSpec spec;
            spec.order = c.o;
            spec.orientation = 6;
            const std::string ours = dir.file("ours.jpg"), theirs = dir.file("theirs.jpg");
            WriteFile(ours, MakeJpegWithExif(c.w, c.h, spec, c.s));
            RunCommand("jpegtran -rotate " + std::string(JpegtranAngle(transform)) +
                       " -trim -copy all -outfile " + theirs + " " + ours);
            ASSERT_TRUE(rotate::TurnJpegFile(ours, transform, std::nullopt).ok());
            int w1 = 0, h1 = 0, w2 = 0, h2 = 0;
            const Bytes a = DecodeRgb(ReadFile(ours), w1, h1);
            const Bytes b = DecodeRgb(ReadFile(theirs), w2, h2);
            ASSERT_FALSE(a.empty());
            EXPECT_EQ(w1, w2);
            EXPECT_EQ(h1, h2);
            EXPECT_TRUE(a == b) << c.w << "x" << c.h << " transform " << int(transform);
            // Markers are copied: the EXIF block (and its orientation) is still there.
            EXPECT_EQ(exif::OrientationOf(exif::ReadJpegExif(ReadFile(ours))), 6);
        }
    }
    EXPECT_EQ(CountTemporaries(dir.path()), 0);
}

TEST(LosslessTransform, TurnsTheEmbeddedThumbnailAndTheExifSize) {
    TempDir dir;
    for (ByteOrder o : {ByteOrder::Little, ByteOrder::Big}) {
        ExifSpec spec;
        spec.order = o;
        spec.thumbnail = MakeJpeg(32, 16, Subsampling::S420, 75);
        spec.pixelWidth = 64;
        spec.pixelHeight = 32;
        const std::string path = dir.file("t.jpg");
        WriteFile(path, MakeJpegWithExif(64, 32, spec));
        ASSERT_TRUE(rotate::TurnJpegFile(path, rotate::QuarterTurns::One, std::nullopt).ok());
        const Bytes turned = ReadFile(path);
        const exif::ExifData data = exif::ReadJpegExif(turned);
        ASSERT_GT(data.thumbnailLength, 0u);
        const auto segment = exif::FindExifSegment(turned);
        const Bytes thumb(
            turned.begin() + std::ptrdiff_t(segment->tiffStart + data.thumbnailOffset),
            turned.begin() +
                std::ptrdiff_t(segment->tiffStart + data.thumbnailOffset + data.thumbnailLength));
        int tw = 0, th = 0;
        ASSERT_FALSE(DecodeRgb(thumb, tw, th).empty());
        EXPECT_EQ(tw, 16);
        EXPECT_EQ(th, 32);
        EXPECT_EQ(Tag32(data, 0xA002), 32u);
        EXPECT_EQ(Tag32(data, 0xA003), 64u);
    }
}

TEST(LosslessTransform, FailureLeavesTheOriginalAndNoTemporary) {
    TempDir dir;
    const std::string broken = dir.file("broken.jpg");
    const Bytes garbage{'n', 'o', 't', ' ', 'a', ' ', 'j', 'p', 'e', 'g'};
    WriteFile(broken, garbage);
    using Kind = platform::Result::Kind;
    EXPECT_EQ(rotate::TurnJpegFile(broken, rotate::QuarterTurns::One, std::nullopt).kind(),
              Kind::Unsupported)
        << "no JPEG at all";
    EXPECT_EQ(ReadFile(broken), garbage);
    EXPECT_EQ(rotate::TurnJpegFile(dir.file("missing.jpg"), rotate::QuarterTurns::One, std::nullopt)
                  .kind(),
              Kind::NotFound);

    const std::string good = dir.file("good.jpg");
    const Bytes photo = MakeJpeg(32, 32);
    WriteFile(good, photo);
    const platform::Result badTurn =
        rotate::TurnJpegFile(good, rotate::QuarterTurns(7), std::nullopt);
    EXPECT_EQ(badTurn.error(), EINVAL);
    EXPECT_EQ(badTurn.kind(), Kind::BadArgument);
    EXPECT_EQ(ReadFile(good), photo);

    // A read-only photo is not replaced behind its owner's back.
    ::chmod(good.c_str(), 0444);
    if (::geteuid() != 0) {
        EXPECT_FALSE(rotate::TurnJpegFile(good, rotate::QuarterTurns::One, std::nullopt).ok());
        EXPECT_EQ(ReadFile(good), photo);
    }
    ::chmod(good.c_str(), 0644);
    EXPECT_EQ(CountTemporaries(dir.path()), 0);
}

TEST(SafeReplace, KeepsModeLinksAndHardLinks) {
    TempDir dir;
    const std::string target = dir.file("photo.jpg");
    WriteFile(target, MakeJpeg(32, 32));
    ::chmod(target.c_str(), 0640);

    const std::string link = dir.file("link.jpg");
    ASSERT_EQ(::symlink("photo.jpg", link.c_str()), 0);
    ASSERT_TRUE(rotate::TurnJpegFile(link, rotate::QuarterTurns::Two, std::nullopt).ok());
    struct stat st {};
    ASSERT_EQ(::lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode)) << "the link stays a link";
    ASSERT_EQ(::stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);

    // Owner, group and extended attributes come along where the process may set them.
    const bool root = ::geteuid() == 0;
    if (root) ASSERT_EQ(::chown(target.c_str(), 65534, 65534), 0);
    const bool xattrs = ::setxattr(target.c_str(), "user.tulvex.test", "kept", 4, 0) == 0;
    ASSERT_TRUE(rotate::TurnJpegFile(target, rotate::QuarterTurns::Three, std::nullopt).ok());
    ASSERT_EQ(::stat(target.c_str(), &st), 0);
    if (root) EXPECT_EQ(st.st_uid, 65534u);
    if (root) EXPECT_EQ(st.st_gid, 65534u);
    if (xattrs) {
        char value[8] = {};
        EXPECT_EQ(::getxattr(target.c_str(), "user.tulvex.test", value, sizeof value), 4);
        EXPECT_STREQ(value, "kept");
    }

    const std::string hard = dir.file("hard.jpg");
    ASSERT_EQ(::link(target.c_str(), hard.c_str()), 0);
    ASSERT_TRUE(rotate::TurnJpegFile(target, rotate::QuarterTurns::One, std::nullopt).ok());
    EXPECT_EQ(ReadFile(hard), ReadFile(target)) << "both names see the turned photo";
    EXPECT_EQ(CountTemporaries(dir.path()), 0);
}

TEST(LosslessTransform, TurnsUnusualSamplingKeepsProgressiveAndRefusesDamage) {
    TempDir dir;
    ExifSpec spec;
    spec.orientation = 8;
    const Bytes exifSegment = MakeApp1(MakeTiff(spec));
    WriteFile(dir.file("plain.jpg"), MakeJpeg(75, 41, Subsampling::S444));
    RunCommand("djpeg -pnm -outfile " + dir.file("plain.ppm") + " " + dir.file("plain.jpg"));
    // The one-call transform of TurboJPEG refuses the first; the second must stay progressive.
    for (const char* options : {"-sample 2x1,1x2,1x1", "-sample 2x2 -progressive"}) {
        const std::string source = dir.file("source.jpg"), ours = dir.file("ours.jpg"),
                          theirs = dir.file("theirs.jpg");
        RunCommand(std::string("cjpeg ") + options + " -outfile " + source + " " +
                   dir.file("plain.ppm"));
        WriteFile(ours, InsertAfterSoi(ReadFile(source), exifSegment));
        WriteFile(source, ReadFile(ours));
        RunCommand("jpegtran -rotate 90 -trim -copy all -outfile " + theirs + " " + source);
        const platform::Result turn =
            rotate::TurnJpegFile(ours, rotate::QuarterTurns::One, std::uint16_t(1));
        ASSERT_TRUE(turn.ok()) << options << ": " << English(turn);
        const Bytes turned = ReadFile(ours);
        EXPECT_EQ(exif::OrientationOf(exif::ReadJpegExif(turned)), 1) << options;
        const bool progressive = std::string(options).find("progressive") != std::string::npos;
        const auto hasMarker = [](const Bytes& b, std::uint8_t m) {
            for (std::size_t i = 0; i + 1 < b.size(); ++i)
                if (b[i] == 0xFF && b[i + 1] == m) return true;
            return false;
        };
        EXPECT_EQ(hasMarker(turned, 0xC2), progressive) << options;
        // Same picture as jpegtran: decoded by jpegtran's own decoder to the same PPM.
        EXPECT_EQ(RunCommand("djpeg -pnm " + ours), RunCommand("djpeg -pnm " + theirs)) << options;
    }

    // Damage in the compressed data: refused, named, and the photo stays byte for byte.
    const std::string damaged = dir.file("damaged.jpg");
    Bytes photo = MakeJpeg(64, 64);
    photo.resize(photo.size() - photo.size() / 3);
    WriteFile(damaged, photo);
    const platform::Result refused =
        rotate::TurnJpegFile(damaged, rotate::QuarterTurns::One, std::nullopt);
    EXPECT_EQ(refused.kind(), platform::Result::Kind::Damaged);
    EXPECT_NE(English(refused).find("damaged"), std::string::npos) << English(refused);
    EXPECT_EQ(ReadFile(damaged), photo);
    EXPECT_EQ(CountTemporaries(dir.path()), 0);
}
