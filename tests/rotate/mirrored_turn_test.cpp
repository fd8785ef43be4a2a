// SPDX-License-Identifier: GPL-3.0-or-later
// A mirrored photo turns, in a viewer that honours its orientation, the way the user turned it.
#include "rotate/turn.h"
#include "support/english.h"
#include "support/jpeg_factory.h"
#include "support/temp_dir.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <sstream>

using namespace testing_support;

namespace {

struct Picture {
    int width = 0, height = 0;
    Bytes rgb;
};

// The picture ImageMagick shows after applying the photo's orientation, then `extra`.
Picture AutoOriented(const std::string& path, const std::string& extra = {}) {
    const std::string ppm =
        RunCommand("convert " + path + " -auto-orient " + extra + " -depth 8 ppm:-");
    std::istringstream in(ppm);
    std::string magic;
    int maxValue = 0;
    Picture picture;
    in >> magic >> picture.width >> picture.height >> maxValue;
    in.get();
    if (magic != "P6" || maxValue != 255 || picture.width <= 0 || picture.height <= 0) return {};
    const auto at = std::size_t(in.tellg());
    picture.rgb.assign(ppm.begin() + std::ptrdiff_t(at), ppm.end());
    if (picture.rgb.size() != std::size_t(picture.width) * picture.height * 3) return {};
    return picture;
}

double MeanDifference(const Picture& a, const Picture& b) {
    double sum = 0;
    for (std::size_t i = 0; i < a.rgb.size(); ++i)
        sum += std::abs(int(a.rgb[i]) - int(b.rgb[i]));
    return sum / double(a.rgb.size());
}

const char* Rotation(rotate::RotationCode code) {
    switch (code) {
    case rotate::RotationCode::Left:
        return "-rotate -90";
    case rotate::RotationCode::Right:
        return "-rotate 90";
    case rotate::RotationCode::Half:
        return "-rotate 180";
    }
    return "";
}

} // namespace

TEST(MirroredOrientationTurn, ShowsAsTheDisplayedPictureTurnedInAViewer) {
    ASSERT_FALSE(RunCommand("command -v convert").empty()) << "ImageMagick: scripts/setup.sh";
    TempDir dir;
    const std::string original = dir.file("original.jpg"), path = dir.file("turned.jpg");
    for (int orientation : {2, 4, 5, 7}) {
        ExifSpec spec;
        spec.orientation = orientation;
        // Sides of whole blocks: the turn loses no pixel, so the pictures compare one to one.
        WriteFile(original, MakeJpegWithExif(64, 48, spec, Subsampling::S444));
        for (rotate::RotationCode code : {rotate::RotationCode::Left, rotate::RotationCode::Right,
                                          rotate::RotationCode::Half}) {
            WriteFile(path, ReadFile(original));
            const auto plan = rotate::PlanTurn(QString::fromStdString(path), code, false);
            ASSERT_TRUE(plan);
            const rotate::TurnResult outcome = rotate::ApplyTurn(*plan, false);
            ASSERT_TRUE(outcome.result.ok()) << English(outcome.result);

            const Picture expected = AutoOriented(original, Rotation(code));
            const Picture shown = AutoOriented(path);
            ASSERT_FALSE(expected.rgb.empty());
            ASSERT_EQ(shown.width, expected.width) << orientation << " code " << int(code);
            ASSERT_EQ(shown.height, expected.height) << orientation << " code " << int(code);
            // Only the rounding of decoding differs; a wrong turn or mirror moves whole regions.
            EXPECT_LT(MeanDifference(shown, expected), 2.0)
                << "orientation " << orientation << " code " << int(code);
        }
    }
}
