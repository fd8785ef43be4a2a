// SPDX-License-Identifier: GPL-3.0-or-later
// Trimming edge pixels needs permission for every image of a photo, not only its main one.
#include "rotate/transform.h"
#include "rotate/turn.h"
#include "support/english.h"
#include "support/jpeg_factory.h"
#include "support/temp_dir.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

using namespace testing_support;
using jpeg::ByteOrder;

namespace {

// A photo of whole blocks whose second image has the given size and sampling.
Bytes PhotoWithGainMap(int w, int h, Subsampling sampling) {
    return MakeMpfFile(MakeJpeg(64, 48, Subsampling::S444), {{MakeJpeg(w, h, sampling)}},
                       ByteOrder::Little);
}

std::optional<rotate::TurnPlan> Plan(const std::string& path) {
    return rotate::PlanTurn(QString::fromStdString(path), rotate::RotationCode::Right, false);
}

std::string Cli(const std::string& args) {
    const std::string cli = (QCoreApplication::applicationDirPath() + "/tulvex-cli").toStdString();
    return RunCommand(cli + " " + args + " 2>&1");
}

} // namespace

TEST(CropPermissionTurn, ThePlanKnowsWhenAnyImageWouldLoseEdgePixels) {
    TempDir dir;
    const std::string path = dir.file("photo.jpg");
    struct Case {
        int w, h;
        Subsampling sampling;
        bool mayCrop;
    };
    // Blocks of 16x16 at 4:2:0 and of 8x8 at 4:4:4.
    const Case cases[] = {{32, 16, Subsampling::S420, false},
                          {40, 24, Subsampling::S444, false},
                          {40, 24, Subsampling::S420, true},
                          {36, 20, Subsampling::S444, true}};
    for (const Case& c : cases) {
        WriteFile(path, PhotoWithGainMap(c.w, c.h, c.sampling));
        const auto plan = Plan(path);
        ASSERT_TRUE(plan);
        EXPECT_EQ(plan->mayCrop(), c.mayCrop) << c.w << "x" << c.h;
        if (!c.mayCrop) continue;
        const std::string reason = English(session::CropCauseMessage(*plan->cropCause()));
        EXPECT_NE(reason.find("image 2"), std::string::npos) << reason;
        EXPECT_NE(reason.find(std::to_string(c.w) + "x" + std::to_string(c.h)), std::string::npos)
            << reason;
    }
    // The main image keeps its own rule and comes first.
    WriteFile(path, MakeMpfFile(MakeJpeg(40, 24), {{MakeJpeg(36, 20)}}, ByteOrder::Big));
    const auto plan = Plan(path);
    ASSERT_TRUE(plan);
    EXPECT_TRUE(plan->mayCrop());
    EXPECT_EQ(English(session::CropCauseMessage(*plan->cropCause())),
              "40x24 is not a multiple of 16");
}

TEST(CropPermissionTurn, AGainMapIsTrimmedOnlyWithPermission) {
    TempDir dir;
    const std::string path = dir.file("photo.jpg");
    const Bytes original = PhotoWithGainMap(40, 24, Subsampling::S420);
    for (const rotate::QuarterTurns transform : rotate::kTransformValues) {
        WriteFile(path, original);
        const platform::Result refused =
            rotate::TurnJpegFile(path, transform, std::uint16_t(1), {}, false);
        EXPECT_FALSE(refused.ok()) << int(transform);
        EXPECT_EQ(ReadFile(path), original) << int(transform);
        const platform::Result allowed =
            rotate::TurnJpegFile(path, transform, std::uint16_t(1), {}, true);
        EXPECT_TRUE(allowed.ok()) << English(allowed);
        EXPECT_NE(ReadFile(path), original);
    }
    // Whole blocks everywhere need no permission.
    WriteFile(path, PhotoWithGainMap(32, 16, Subsampling::S420));
    EXPECT_TRUE(
        rotate::TurnJpegFile(path, rotate::QuarterTurns::One, std::uint16_t(1), {}, false).ok());
}

TEST(CropPermissionTurn, TheCommandLineTrimsAGainMapOnlyWithCrop) {
    TempDir dir;
    const std::string path = dir.file("photo.jpg");
    const Bytes original = PhotoWithGainMap(40, 24, Subsampling::S420);
    WriteFile(path, original);
    const std::string skipped = Cli("rotate right " + path);
    EXPECT_NE(skipped.find("skipped, its image 2 (40x24) is not a multiple of 16x16"),
              std::string::npos)
        << skipped;
    EXPECT_EQ(ReadFile(path), original);
    const std::string turned = Cli("rotate --crop right " + path);
    EXPECT_NE(turned.find("turned right"), std::string::npos) << turned;
    EXPECT_NE(ReadFile(path), original);
}
