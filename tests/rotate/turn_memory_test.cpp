// SPDX-License-Identifier: GPL-3.0-or-later
#include "exif/jpeg_header.h"
#include "rotate/lossless_turn.h"
#include "rotate/turn.h"
#include "rotate/turn_memory.h"
#include "support/english.h"
#include "support/jpeg_factory.h"
#include "support/scoped_variable.h"
#include "support/temp_dir.h"
#include "thumbs/image_codec.h"

#include <QColor>
#include <QCoreApplication>

#include <jpeglib.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/wait.h>

using namespace testing_support;
using rotate::QuarterTurns;

namespace {

constexpr std::uint64_t kMiB = std::uint64_t(1) << 20;

// A w x h photo of one colour, written row by row so that even a giant costs one row of pixels;
// it compresses to a few bytes a block.
Bytes FlatJpeg(int w, int h) {
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr errors{};
    cinfo.err = jpeg_std_error(&errors);
    jpeg_create_compress(&cinfo);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = JDIMENSION(w);
    cinfo.image_height = JDIMENSION(h);
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 90, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<JSAMPLE> row(std::size_t(w) * 3);
    for (std::size_t i = 0; i < row.size(); i += 3)
        row[i] = 70, row[i + 1] = 130, row[i + 2] = 180;
    JSAMPROW rows[1] = {row.data()};
    while (cinfo.next_scanline < cinfo.image_height)
        jpeg_write_scanlines(&cinfo, rows, 1);
    jpeg_finish_compress(&cinfo);
    Bytes jpeg(buffer, buffer + size);
    jpeg_destroy_compress(&cinfo);
    std::free(buffer);
    return jpeg;
}

std::optional<std::uint64_t> AvailableMemory() {
    std::ifstream file("/proc/meminfo");
    std::stringstream text;
    text << file.rdbuf();
    return rotate::ParseMemAvailable(text.str());
}

} // namespace

TEST(TurnMemory, ReadsTheAvailableMemoryAndTheCap) {
    const std::string meminfo = "MemTotal:       24683712 kB\n"
                                "MemFree:        23650172 kB\n"
                                "MemAvailable:   24132044 kB\n"
                                "Buffers:          112340 kB\n";
    EXPECT_EQ(rotate::ParseMemAvailable(meminfo), std::uint64_t(24132044) * 1024);
    EXPECT_EQ(rotate::ParseMemAvailable("MemAvailable: 5 kB"), 5 * 1024u);
    EXPECT_EQ(rotate::ParseMemAvailable("MemTotal: 5 kB\nMemFree: 4 kB\n"), std::nullopt);
    EXPECT_EQ(rotate::ParseMemAvailable("MemAvailable: lots kB\n"), std::nullopt);
    EXPECT_EQ(rotate::ParseMemAvailable("MemAvailable: 5 MB\n"), std::nullopt);
    EXPECT_EQ(rotate::ParseMemAvailable("MemAvailable: 99999999999999999999999 kB\n"),
              std::nullopt);
    EXPECT_EQ(rotate::ParseMemAvailable("XMemAvailable: 5 kB\n"), std::nullopt);
    EXPECT_EQ(rotate::ParseMemAvailable(""), std::nullopt);
}

TEST(TurnMemory, TheCapTakesTheFormsPeopleWriteAndNothingElse) {
    const std::uint64_t kGiB = 1024 * kMiB;
    const std::pair<const char*, std::uint64_t> accepted[] = {
        {"2048", 2048 * kMiB},
        {"1.5", kMiB + kMiB / 2},
        {" 512M ", 512 * kMiB},
        {"512MB", 512 * kMiB},
        {"512MiB", 512 * kMiB},
        {"512m", 512 * kMiB},
        {"4G", 4 * kGiB},
        {"2g", 2 * kGiB},
        {"1.5G", kGiB + kGiB / 2},
        {"0.25g", kGiB / 4},
        {"1GiB", kGiB},
        {"1gib", kGiB},
        {"3 GB", 3 * kGiB},
        {"1024K", kMiB},
        {"1536kb", kMiB + kMiB / 2},
        {"1T", 1024 * kGiB},
        {"1.125t", 1152 * kGiB},
        {"0.000001G", 1073}, // a whole byte count, rounded down
    };
    for (const auto& [text, bytes] : accepted)
        EXPECT_EQ(rotate::ParseTurnMemoryCap(text), bytes) << '"' << text << '"';
    // Far beyond any machine: as large as can be said, never wrapped round to a small limit.
    EXPECT_GE(rotate::ParseTurnMemoryCap("17179869184G").value_or(0), std::uint64_t(1) << 49);
    EXPECT_GE(rotate::ParseTurnMemoryCap("17179869184.5T").value_or(0), std::uint64_t(1) << 49);

    for (const char* refused : {"",
                                " ",
                                "0",
                                "0M",
                                "0.0G",
                                "0.0000001K",
                                "-1",
                                "+1",
                                "-1G",
                                "4G4",
                                "1e9",
                                "1E3M",
                                "0x400",
                                "1.5.5G",
                                "1.",
                                ".5G",
                                "1,5G",
                                "1.5 G B",
                                "12B",
                                "2GG",
                                "2Gi",
                                "2GBi",
                                "1P",
                                "lots",
                                "1.0000000001G",
                                "99999999999999999999",
                                "512M junk"})
        EXPECT_EQ(rotate::ParseTurnMemoryCap(refused), std::nullopt) << '"' << refused << '"';
}

TEST(TurnMemory, AnUnreadableCapIsToldAndLeavesTheDefault) {
    EXPECT_EQ(rotate::TurnMemoryCapOf(nullptr).bytes, rotate::kDefaultTurnMemoryCap);
    EXPECT_FALSE(rotate::TurnMemoryCapOf(nullptr).unreadable);
    const rotate::TurnMemoryCap set = rotate::TurnMemoryCapOf("1.5G");
    EXPECT_EQ(set.bytes, (std::uint64_t(3) << 30) / 2);
    EXPECT_FALSE(set.unreadable);
    const rotate::TurnMemoryCap wrong = rotate::TurnMemoryCapOf("4G4");
    EXPECT_EQ(wrong.bytes, rotate::kDefaultTurnMemoryCap);
    EXPECT_EQ(wrong.unreadable, "4G4");
    const std::string said = rotate::DescribeUnreadableCap("4G4");
    for (const char* part : {"TULVEX_MAX_TURN_MEMORY", "\"4G4\"", "1.5G", "512M", "1024K"})
        EXPECT_NE(said.find(part), std::string::npos) << said;
    const std::string long_(1000, '9');
    EXPECT_LT(rotate::TurnMemoryCapOf((long_ + "x").c_str()).unreadable->size(), 100u);

    // A 1.5G limit holds however much the machine has: a photo needing 1.8 GB is refused.
    const std::uint64_t limit =
        rotate::TurnMemoryLimit(std::uint64_t(64) << 30, rotate::TurnMemoryCapOf("1.5G").bytes);
    EXPECT_LT(limit, 1'800'000'000u);
}

TEST(TurnMemory, TheLimitLeavesAMarginAndKeepsToTheCap) {
    const std::uint64_t gib = 1024 * kMiB;
    const std::uint64_t plenty = rotate::TurnMemoryLimit(8 * gib, 64 * gib);
    EXPECT_LT(plenty, 8 * gib - 256 * kMiB) << "something is left for the rest of the machine";
    EXPECT_GT(plenty, 6 * gib);
    EXPECT_EQ(rotate::TurnMemoryLimit(8 * gib, 2 * gib), 2 * gib);
    EXPECT_EQ(rotate::TurnMemoryLimit(100 * kMiB, 64 * gib), rotate::kTurnMemoryFloor)
        << "an ordinary photo still turns on a machine short of memory";
    EXPECT_EQ(rotate::TurnMemoryLimit(100 * kMiB, 10 * kMiB), 10 * kMiB);
    EXPECT_EQ(rotate::TurnMemoryLimit(std::nullopt, 64 * gib), rotate::kTurnMemoryWithoutMeminfo);
    EXPECT_EQ(rotate::TurnMemoryLimit(std::nullopt, 10 * kMiB), 10 * kMiB);

    EXPECT_EQ(rotate::DescribeMemory(350'000'000), "350 MB");
    EXPECT_EQ(rotate::DescribeMemory(350'000'001), "351 MB");
    EXPECT_EQ(rotate::DescribeMemory(1'640'000'000), "1.7 GB");
    EXPECT_EQ(rotate::DescribeMemory(1'640'000'000, rotate::Rounding::Down), "1.6 GB");
    EXPECT_EQ(rotate::DescribeMemory(999'999'999), "1.0 GB");
}

TEST(TurnMemory, APhotoAboveTheLimitIsRefusedSayingHowMuchItNeeds) {
    TempDir dir;
    const Bytes photo = MakeJpeg(640, 480);
    const std::uint64_t needed = rotate::MemoryToTurn(photo, QuarterTurns::One, photo.size());
    // Source and turned coefficients of 4:2:0 at 640 x 480, two bytes each.
    EXPECT_GE(needed, 2 * 640 * 480 * 3 / 2 * 2u);
    EXPECT_LT(needed, 2 * 640 * 480 * 3 / 2 * 2u + 3 * photo.size());

    rotate::LosslessTurnOptions options;
    options.maxMemory = needed - 1;
    const auto refused = rotate::LosslessTurn(photo, QuarterTurns::One, options);
    EXPECT_EQ(refused.result.kind(), platform::Result::Kind::TooLarge);
    EXPECT_EQ(refused.memoryNeeded, needed);
    EXPECT_NE(English(refused.result).find(rotate::DescribeMemory(needed)), std::string::npos)
        << English(refused.result);
    options.maxMemory = needed;
    EXPECT_TRUE(rotate::LosslessTurn(photo, QuarterTurns::One, options).ok());

    {
        // A fraction of a unit is a limit too, not the default of 16G.
        ASSERT_GT(needed, kMiB + kMiB / 2);
        const ScopedVariable cap(rotate::kTurnMemoryVariable, "1.5M");
        EXPECT_EQ(rotate::LosslessTurn(photo, QuarterTurns::One).result.kind(),
                  platform::Result::Kind::TooLarge);
    }
    // The cap of the environment holds for the window's and the command line's turns alike.
    const ScopedVariable cap(rotate::kTurnMemoryVariable, "1");
    EXPECT_EQ(rotate::LosslessTurn(photo, QuarterTurns::One).result.kind(),
              platform::Result::Kind::TooLarge);
    WriteFile(dir.file("photo.jpg"), photo);
    const auto plan = rotate::PlanTurn(dir.qfile("photo.jpg"), rotate::RotationCode::Right, false);
    ASSERT_TRUE(plan);
    const rotate::TurnResult outcome = rotate::ApplyTurn(*plan, true);
    EXPECT_FALSE(outcome.turned());
    // The figures travel up with the refusal: the file is not read again to tell them.
    EXPECT_EQ(outcome.result.why(), platform::Why::NeedsMemory);
    EXPECT_EQ(outcome.result.figure(0), needed);
    EXPECT_EQ(ReadFile(dir.file("photo.jpg")), photo);
    const std::string cli = (QCoreApplication::applicationDirPath() + "/tulvex-cli").toStdString();
    int status = 0;
    const std::string said =
        RunCommand(cli + " rotate right " + dir.file("photo.jpg") + " 2>&1", &status);
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_NE(said.find("needs " + rotate::DescribeMemory(needed) + " of memory"),
              std::string::npos)
        << said;
}

TEST(TurnMemory, AGiantPanoramaTurnsWhenTheMachineCanHoldIt) {
#ifdef TULVEX_SANITIZED_BUILD
    GTEST_SKIP() << "280 megapixels take minutes unoptimised; the plain build turns them";
#endif
    constexpr int kWidth = 20000, kHeight = 14000;
    const Bytes panorama = FlatJpeg(kWidth, kHeight);
    const std::uint64_t needed = rotate::MemoryToTurn(panorama, QuarterTurns::One, panorama.size());
    ASSERT_GT(needed, std::uint64_t(1) << 30) << "more than the fixed gigabyte of old";
    const std::optional<std::uint64_t> available = AvailableMemory();
    if (!available || *available < needed + needed / 2)
        GTEST_SKIP() << "the turn needs " << rotate::DescribeMemory(needed)
                     << " and this machine has only "
                     << rotate::DescribeMemory(available.value_or(0), rotate::Rounding::Down)
                     << " available";
    const auto turned = rotate::LosslessTurn(panorama, QuarterTurns::One);
    ASSERT_TRUE(turned.ok()) << English(turned.result);
    EXPECT_EQ(turned.width, kHeight / 16 * 16) << "the partial row of blocks is trimmed";
    EXPECT_EQ(turned.height, kWidth);
    // An eighth of the size is enough to see the colour came through every block.
    const QImage small = thumbs::DecodeJpeg(turned.bytes, QSize(kHeight / 8 - 2, kWidth / 8), true);
    ASSERT_FALSE(small.isNull());
    for (const QPoint at : {QPoint(0, 0), QPoint(small.width() / 2, small.height() / 2),
                            QPoint(small.width() - 1, small.height() - 1)}) {
        const QColor c = small.pixelColor(at);
        EXPECT_NEAR(c.red(), 70, 3);
        EXPECT_NEAR(c.green(), 130, 3);
        EXPECT_NEAR(c.blue(), 180, 3);
    }
}
