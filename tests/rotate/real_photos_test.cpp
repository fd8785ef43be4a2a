// SPDX-License-Identifier: GPL-3.0-or-later
// Photos from real cameras, as a Debian package ships them (scripts/setup.sh installs it): whole
// ones turn to jpegtran's pixels and keep their EXIF; cut-off ones and broken EXIF blocks are
// refused or shown without harm, and never changed.
#include "exif/exif_format.h"
#include "exif/exif_reader.h"
#include "rotate/lossless_turn.h"
#include "rotate/orientation_table.h"
#include "rotate/transform.h"
#include "rotate/turn.h"
#include "support/english.h"
#include "support/jpeg_factory.h"
#include "support/temp_dir.h"

#include <QDir>
#include <QDirIterator>

#include <cstdlib>
#include <gtest/gtest.h>
#include <regex>

using namespace testing_support;

namespace {

QString RealPhotoFolder() {
    if (const char* folder = std::getenv("TULVEX_REAL_PHOTOS"))
        return QString::fromLocal8Bit(folder);
    return QStringLiteral("/usr/share/gocode/src/github.com/rwcarlsen/goexif/exif");
}

std::vector<std::string> RealPhotos() {
    std::vector<std::string> found;
    QDirIterator it(RealPhotoFolder(), {"*.jpg", "*.JPG"}, QDir::Files,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        found.push_back(QFile::encodeName(it.next()).toStdString());
    std::sort(found.begin(), found.end());
    return found;
}

bool Decodes(const std::string& path, const std::string& ppm) {
    int status = -1;
    RunCommand("djpeg -ppm -outfile '" + ppm + "' '" + path + "' 2>/dev/null", &status);
    return status == 0;
}

// exiftool's EXIF tags, less those a turn changes on purpose.
std::string ExifTheTurnKeeps(const std::string& path) {
    const std::string all = RunCommand("exiftool -s -s -EXIF:all '" + path + "' 2>/dev/null");
    static const std::regex changed(
        "^(Orientation|ImageWidth|ImageHeight|ExifImageWidth|ExifImageHeight|ThumbnailOffset|"
        "ThumbnailLength|ThumbnailImage|StripOffsets|StripByteCounts).*$\n?",
        std::regex::multiline);
    return std::regex_replace(all, changed, "");
}

// From the first segment that is neither APPn nor COM on: the tables and the coded scans.
Bytes CodedPartOf(const Bytes& jpeg) {
    std::size_t at = 2;
    while (at + 4 <= jpeg.size() && jpeg[at] == 0xFF) {
        const std::uint8_t marker = jpeg[at + 1];
        if ((marker < 0xE0 || marker > 0xEF) && marker != 0xFE)
            return Bytes(jpeg.begin() + long(at), jpeg.end());
        at += 2 + std::size_t((jpeg[at + 2] << 8) | jpeg[at + 3]);
    }
    return {};
}

} // namespace

TEST(RealPhotos, TurnLikeJpegtranOrAreRefusedUntouched) {
    const std::vector<std::string> photos = RealPhotos();
    if (photos.empty()) GTEST_SKIP() << "no real photos in " << RealPhotoFolder().toStdString();
    TempDir dir;
    int turned = 0, refused = 0;
    for (const std::string& source : photos) {
        const std::string path = dir.file("photo.jpg");
        const Bytes original = ReadFile(source);
        WriteFile(path, original);
        const bool whole = Decodes(path, dir.file("original.ppm"));
        const std::string exifBefore = whole ? ExifTheTurnKeeps(path) : std::string();
        RunCommand("jpegtran -rotate 90 -trim -copy all -outfile '" + dir.file("theirs.jpg") +
                   "' '" + path + "' 2>/dev/null");

        const rotate::OrientationAfter orientation = [](std::uint16_t old) {
            return rotate::NewOrientation(old, rotate::RotationCode::Right);
        };
        const platform::Result result =
            rotate::TurnJpegFile(path, rotate::QuarterTurns::One, orientation);
        if (!result.ok()) {
            ++refused;
            EXPECT_EQ(ReadFile(path), original) << source << ": refused, so untouched";
            EXPECT_FALSE(whole) << source << ": a whole photo was refused: " << English(result);
        } else {
            ++turned;
            ASSERT_TRUE(whole) << source << ": turned, though the library cannot decode it";
            ASSERT_TRUE(Decodes(path, dir.file("ours.ppm"))) << source;
            ASSERT_TRUE(Decodes(dir.file("theirs.jpg"), dir.file("theirs.ppm"))) << source;
            EXPECT_EQ(ReadFile(dir.file("ours.ppm")), ReadFile(dir.file("theirs.ppm"))) << source;
            EXPECT_EQ(ExifTheTurnKeeps(path), exifBefore) << source;
        }
        EXPECT_EQ(QDir(dir.qpath()).entryList({"*.tulvex-*"}, QDir::Files | QDir::Hidden).size(), 0)
            << source;
        // Whatever the EXIF block holds, it is decoded without harm (the sanitizers watch).
        EXPECT_NO_THROW(exif::ExifRows(exif::ReadJpegExif(original))) << source;
    }
    EXPECT_GT(turned, 0);
    std::printf("%zu real photos: %d turned, %d refused\n", photos.size(), turned, refused);
}

TEST(RealPhotos, TheCropQuestionComesExactlyWhereJpegtranPerfectFails) {
    const std::vector<std::string> photos = RealPhotos();
    if (photos.empty()) GTEST_SKIP() << "no real photos in " << RealPhotoFolder().toStdString();
    const std::pair<rotate::RotationCode, const char*> turns[] = {
        {rotate::RotationCode::Right, "90"},
        {rotate::RotationCode::Left, "270"},
        {rotate::RotationCode::Half, "180"}};
    int judged = 0, asked = 0, mismatches = 0;
    for (const std::string& path : photos) {
        int readable = -1;
        RunCommand("jpegtran -outfile /dev/null '" + path + "' 2>/dev/null", &readable);
        if (readable != 0) continue; // cut off: refused either way
        for (const auto& [code, degrees] : turns) {
            int status = -1;
            RunCommand(std::string("jpegtran -perfect -rotate ") + degrees +
                           " -outfile /dev/null '" + path + "' 2>/dev/null",
                       &status);
            const auto plan = rotate::PlanTurn(QString::fromStdString(path), code, false);
            ASSERT_TRUE(plan) << path;
            ++judged;
            asked += plan->mayCrop();
            if (plan->mayCrop() != (status != 0)) {
                ++mismatches;
                ADD_FAILURE() << path << " " << degrees << ": asked " << plan->mayCrop()
                              << ", jpegtran -perfect " << (status == 0 ? "turns it" : "fails");
            }
        }
    }
    EXPECT_GT(judged, 0);
    std::printf("%d turns of real photos: %d would ask, %d differ from jpegtran -perfect\n", judged,
                asked, mismatches);
}

TEST(RealPhotos, ProgressiveCopiesTurnToJpegtransScansByteForByte) {
    const std::vector<std::string> photos = RealPhotos();
    if (photos.empty()) GTEST_SKIP() << "no real photos in " << RealPhotoFolder().toStdString();
    TempDir dir;
    const std::string progressive = dir.file("progressive.jpg"), theirs = dir.file("theirs.jpg");
    int compared = 0;
    for (const std::string& source : photos) {
        int status = -1;
        RunCommand("jpegtran -copy all -progressive -outfile '" + progressive + "' '" + source +
                       "' 2>/dev/null",
                   &status);
        if (status != 0) continue; // cut off
        RunCommand("jpegtran -rotate 90 -trim -copy all -progressive -optimize -outfile '" +
                   theirs + "' '" + progressive + "'");
        const auto ours = rotate::LosslessTurn(ReadFile(progressive), rotate::QuarterTurns::One);
        ASSERT_TRUE(ours.ok()) << source << ": " << English(ours.result);
        const Bytes coded = CodedPartOf(ours.bytes);
        ASSERT_FALSE(coded.empty()) << source;
        EXPECT_TRUE(coded == CodedPartOf(ReadFile(theirs))) << source;
        ++compared;
    }
    EXPECT_GT(compared, 0);
    std::printf("%d progressive copies of real photos compared with jpegtran\n", compared);
}
