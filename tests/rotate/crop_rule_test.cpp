// SPDX-License-Identifier: GPL-3.0-or-later
// The crop question comes exactly where `jpegtran -perfect` refuses the same turn: for every
// chroma sampling, every turn and sides that are and are not whole blocks, for every image of a
// file, and on the way through the session and the command line.
#include "rotate/crop_rule.h"
#include "rotate/transform.h"
#include "rotate/turn.h"
#include "session/photo_turn.h"
#include "support/english.h"
#include "support/jpeg_factory.h"
#include "support/temp_dir.h"

#include <QCoreApplication>

#include <cstdio>
#include <gtest/gtest.h>

using namespace testing_support;
using rotate::RotationCode;

namespace {

bool HaveTool(const std::string& name) {
    int status = -1;
    RunCommand("command -v " + name + " >/dev/null 2>&1", &status);
    return status == 0;
}

// A PPM with a pattern, made into a JPEG by cjpeg with `options` (its sampling).
bool MakeWithCjpeg(const TempDir& dir, int w, int h, const std::string& options,
                   const std::string& out) {
    std::string ppm = "P6 " + std::to_string(w) + " " + std::to_string(h) + " 255\n";
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            ppm += {char(x * 7), char(y * 11), char((x ^ y) * 5)};
    const std::string source = dir.file("source.ppm");
    WriteFile(source, Bytes(ppm.begin(), ppm.end()));
    int status = -1;
    RunCommand("cjpeg " + options + " -outfile '" + out + "' '" + source + "' 2>/dev/null",
               &status);
    return status == 0;
}

std::string Degrees(RotationCode code) {
    switch (code) {
    case RotationCode::Right:
        return "90";
    case RotationCode::Half:
        return "180";
    case RotationCode::Left:
        return "270";
    }
    return "0";
}

// `how`: -perfect (fails rather than lose a pixel) or -trim.
bool Jpegtran(const std::string& how, const std::string& path, RotationCode code,
              const std::string& out = "/dev/null") {
    int status = -1;
    RunCommand("jpegtran " + how + " -rotate " + Degrees(code) + " -outfile '" + out + "' '" +
                   path + "' 2>/dev/null",
               &status);
    return status == 0;
}

bool JpegtranTurnsPerfectly(const std::string& path, RotationCode code,
                            const std::string& out = "/dev/null") {
    return Jpegtran("-perfect", path, code, out);
}

Bytes Pixels(const Bytes& jpeg) {
    int w = 0, h = 0;
    Bytes rgb = DecodeRgb(jpeg, w, h);
    rgb.push_back(std::uint8_t(w));
    rgb.push_back(std::uint8_t(h));
    return rgb;
}

constexpr RotationCode kCodes[] = {RotationCode::Right, RotationCode::Left, RotationCode::Half};

bool PlanMayCrop(const std::string& path, RotationCode code) {
    const auto plan = rotate::PlanTurn(QString::fromStdString(path), code, false);
    return !plan || plan->mayCrop();
}

} // namespace

TEST(CropRule, OnlySidesThatRunBackwardsMustBeWholeBlocks) {
    const exif::BlockLayout wide{1800, 1200, 16, 16}; // 1800 is not a multiple of 16
    EXPECT_FALSE(rotate::TurnTrims(wide, rotate::QuarterTurns::One));
    EXPECT_TRUE(rotate::TurnTrims(wide, rotate::QuarterTurns::Two));
    EXPECT_TRUE(rotate::TurnTrims(wide, rotate::QuarterTurns::Three));
    const exif::BlockLayout full{1800, 1200, 8, 8};
    for (const rotate::QuarterTurns turns : rotate::kTransformValues)
        EXPECT_FALSE(rotate::TurnTrims(full, turns)) << int(turns);
    const exif::BlockLayout tall{1200, 1800, 16, 16};
    EXPECT_TRUE(rotate::TurnTrims(tall, rotate::QuarterTurns::One));
    EXPECT_FALSE(rotate::TurnTrims(tall, rotate::QuarterTurns::Three));
}

TEST(CropRule, EverySamplingAndTurnAsksWhereJpegtranPerfectFails) {
    if (!HaveTool("cjpeg") || !HaveTool("jpegtran")) GTEST_SKIP() << "no cjpeg or jpegtran";
    TempDir dir;
    const std::string path = dir.file("photo.jpg");
    // 4:4:4, 4:2:2, 4:4:0, 4:2:0, 4:1:1, grayscale, and grayscale declaring 2x2 factors.
    const std::string samplings[] = {"-sample 1x1",           "-sample 2x1", "-sample 1x2",
                                     "-sample 2x2",           "-sample 4x1", "-grayscale",
                                     "-grayscale -sample 2x2"};
    const int widths[] = {64, 80, 72, 68}; // whole blocks of 32, 16, 8 and none
    const int heights[] = {32, 40, 36, 12};
    int asked = 0, turned = 0;
    for (const std::string& sampling : samplings)
        for (const int w : widths)
            for (const int h : heights) {
                ASSERT_TRUE(MakeWithCjpeg(dir, w, h, sampling, path)) << sampling;
                const Bytes original = ReadFile(path);
                for (const RotationCode code : kCodes) {
                    const std::string theirs = dir.file("theirs.jpg");
                    const bool perfect = JpegtranTurnsPerfectly(path, code, theirs);
                    const std::string what = sampling + " " + std::to_string(w) + "x" +
                                             std::to_string(h) + " " + Degrees(code);
                    EXPECT_EQ(PlanMayCrop(path, code), !perfect) << what;
                    // The turn itself keeps to the same rule when it may not trim.
                    const platform::Result result = rotate::TurnJpegFile(
                        path, *rotate::TransformValue(code), std::uint16_t(1), {}, false);
                    EXPECT_EQ(result.ok(), perfect) << what << ": " << English(result);
                    if (perfect && result.ok())
                        EXPECT_EQ(Pixels(ReadFile(path)), Pixels(ReadFile(theirs))) << what;
                    // Allowed to, it trims what jpegtran trims.
                    if (!perfect) {
                        ASSERT_TRUE(Jpegtran("-trim", path, code, theirs)) << what;
                        ASSERT_TRUE(rotate::TurnJpegFile(path, *rotate::TransformValue(code),
                                                         std::uint16_t(1), {}, true)
                                        .ok())
                            << what;
                        EXPECT_EQ(Pixels(ReadFile(path)), Pixels(ReadFile(theirs))) << what;
                    }
                    WriteFile(path, original);
                    ++(perfect ? turned : asked);
                }
            }
    EXPECT_GT(asked, 0);
    EXPECT_GT(turned, 0);
    std::printf("%d turns: %d lose pixels, %d do not\n", asked + turned, asked, turned);
}

TEST(CropRule, EveryImageOfTheFileIsJudgedByTheTurn) {
    if (!HaveTool("jpegtran")) GTEST_SKIP() << "no jpegtran";
    TempDir dir;
    // A gain map of 40x32 at 4:2:0: whole blocks down, not across.
    const Bytes gainMap = MakeJpeg(40, 32, Subsampling::S420);
    WriteFile(dir.file("gain.jpg"), gainMap);
    const std::string path = dir.file("photo.jpg");
    WriteFile(path, MakeMpfFile(MakeJpeg(64, 48, Subsampling::S444), {{gainMap}},
                                jpeg::ByteOrder::Little));
    for (const RotationCode code : kCodes) {
        const bool perfect = JpegtranTurnsPerfectly(dir.file("gain.jpg"), code);
        EXPECT_EQ(PlanMayCrop(path, code), !perfect) << Degrees(code);
    }
    const auto plan = rotate::PlanTurn(QString::fromStdString(path), RotationCode::Left, false);
    ASSERT_TRUE(plan);
    EXPECT_EQ(testing_support::English(session::CropCauseMessage(*plan->cropCause())),
              "its image 2 (40x32) is not a multiple of 16x16");
}

TEST(CropRule, APhotoThatLosesNothingIsTurnedWithoutAskingEverywhere) {
    TempDir dir;
    // 4:4:4 in blocks of 8; neither side is a multiple of 16.
    const std::string path = dir.file("photo.jpg");
    const Bytes original = MakeJpeg(72, 40, Subsampling::S444);
    WriteFile(path, original);
    int questions = 0;
    const session::CropQuestion ask = [&](const rotate::TurnPlan&) {
        ++questions;
        return session::CropAnswer{};
    };
    const session::PhotoTurnResult outcome =
        session::TurnOne(QString::fromStdString(path), RotationCode::Right, {}, ask, nullptr);
    EXPECT_EQ(outcome.kind, session::PhotoTurnResult::Kind::Turned);
    EXPECT_EQ(questions, 0);
    int w = 0, h = 0;
    EXPECT_FALSE(DecodeRgb(ReadFile(path), w, h).empty());
    EXPECT_EQ(w, 40);
    EXPECT_EQ(h, 72) << "nothing trimmed";

    WriteFile(path, original);
    const std::string cli = (QCoreApplication::applicationDirPath() + "/tulvex-cli").toStdString();
    const std::string said = RunCommand(cli + " rotate left '" + path + "' 2>&1");
    EXPECT_NE(said.find("turned left"), std::string::npos) << said;
    EXPECT_NE(ReadFile(path), original);

    // The automatic pass, in the session and on the command line, stored turned right.
    ExifSpec spec;
    spec.orientation = 6;
    const Bytes turned = MakeJpegWithExif(72, 40, spec, Subsampling::S444);
    WriteFile(path, turned);
    session::AutoList list;
    list.push_back({QString::fromStdString(path), 6});
    const session::PassResult pass = session::RunAutomaticPass(list, {}, ask, {});
    ASSERT_EQ(pass.outcomes.size(), 1u);
    EXPECT_EQ(pass.outcomes[0].kind, session::PhotoTurnResult::Kind::Turned);
    EXPECT_EQ(questions, 0);
    WriteFile(path, turned);
    const std::string automatic = RunCommand(cli + " auto '" + dir.path() + "' 2>&1");
    EXPECT_NE(automatic.find("photo.jpg: orientation 6, turned upright"), std::string::npos)
        << automatic;
}
