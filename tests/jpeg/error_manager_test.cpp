// SPDX-License-Identifier: GPL-3.0-or-later
#include "jpeg/error_manager.h"
#include "rotate/thumbnail_encoder.h"
#include "support/jpeg_factory.h"

#include <csetjmp>
#include <gtest/gtest.h>
#include <memory>
#include <string>

using namespace testing_support;
using jpeg::ErrorManager;
using Kind = platform::Result::Kind;

namespace {

struct Decoded {
    bool finished = false;
    Kind kind = Kind::Ok;
    platform::Why why = platform::Why::None;
    long warnings = 0;
};

// Decodes the whole picture; everything with a destructor is made ahead of the jump point.
Decoded Decode(const Bytes& bytes, ErrorManager::Warnings warnings, bool headerAllowsStrays) {
    Decoded decoded;
    const auto errors = std::make_unique<ErrorManager>(warnings);
    const auto cinfo = std::make_unique<jpeg_decompress_struct>();
    cinfo->err = &errors->pub;
    jpeg_create_decompress(cinfo.get());
    if (setjmp(errors->jump) != 0) {
        decoded.kind = errors->kind;
        decoded.why = errors->why;
        jpeg_destroy_decompress(cinfo.get());
        return decoded;
    }
    jpeg_mem_src(cinfo.get(), bytes.data(), static_cast<unsigned long>(bytes.size()));
    errors->readingHeader = headerAllowsStrays;
    jpeg_read_header(cinfo.get(), TRUE);
    errors->readingHeader = false;
    jpeg_start_decompress(cinfo.get());
    JSAMPARRAY row =
        (*cinfo->mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(cinfo.get()), JPOOL_IMAGE,
                                    cinfo->output_width * cinfo->output_components, 1);
    while (cinfo->output_scanline < cinfo->output_height)
        jpeg_read_scanlines(cinfo.get(), row, 1);
    jpeg_finish_decompress(cinfo.get());
    decoded.finished = true;
    decoded.warnings = errors->pub.num_warnings;
    jpeg_destroy_decompress(cinfo.get());
    return decoded;
}

Bytes WithStrayBytesAfterFirstSegment(const Bytes& jpeg) {
    Bytes stray = jpeg;
    const std::size_t afterFirst = 2 + 2 + (std::size_t(jpeg[4]) << 8 | jpeg[5]);
    stray.insert(stray.begin() + long(afterFirst), {0x00, 0x00, 0x17});
    return stray;
}

} // namespace

// The turn refuses any damage, the thumbnail encoder takes what a damaged model gives: one
// manager serves both, so each policy must stay its own.
TEST(JpegErrorManager, WarningsAreFatalOrCountedAsAsked) {
    const Bytes photo = MakeJpeg(64, 48);
    const Bytes truncated(photo.begin(), photo.begin() + long(photo.size() * 2 / 3));

    const Decoded counted = Decode(truncated, ErrorManager::Warnings::Counted, false);
    EXPECT_TRUE(counted.finished) << int(counted.why);
    EXPECT_GT(counted.warnings, 0);

    const Decoded fatal = Decode(truncated, ErrorManager::Warnings::Fatal, false);
    EXPECT_FALSE(fatal.finished);
    EXPECT_EQ(fatal.kind, Kind::Damaged);
    EXPECT_EQ(fatal.why, platform::Why::ImageDataDamaged);

    // Stray bytes between the segments touch no picture: they pass while the header is read.
    const Bytes stray = WithStrayBytesAfterFirstSegment(photo);
    EXPECT_TRUE(Decode(stray, ErrorManager::Warnings::Fatal, true).finished);
    EXPECT_EQ(Decode(stray, ErrorManager::Warnings::Fatal, false).kind, Kind::Damaged);

    EXPECT_TRUE(Decode(photo, ErrorManager::Warnings::Fatal, false).finished);
}

TEST(JpegErrorManager, ErrorsLeaveWithTheirKind) {
    // Twelve-bit samples: a valid JPEG this build does not decode.
    Bytes twelveBits = MakeJpeg(16, 16);
    for (std::size_t i = 2; i + 4 < twelveBits.size(); ++i)
        if (twelveBits[i] == 0xFF && twelveBits[i + 1] == 0xC0) {
            twelveBits[i + 4] = 12;
            break;
        }
    const Decoded unsupported = Decode(twelveBits, ErrorManager::Warnings::Counted, false);
    EXPECT_FALSE(unsupported.finished);
    EXPECT_EQ(unsupported.kind, Kind::Unsupported) << int(unsupported.why);

    const Decoded notJpeg = Decode(Bytes(64, 0x42), ErrorManager::Warnings::Counted, false);
    EXPECT_FALSE(notJpeg.finished);
    EXPECT_EQ(notJpeg.kind, Kind::Damaged);

    // A reason of the caller's own leaves the same way.
    ErrorManager errors(ErrorManager::Warnings::Fatal);
    if (setjmp(errors.jump) == 0)
        jpeg::Leave(errors, Kind::WouldCrop, platform::Why::NotWholeBlocks);
    EXPECT_EQ(errors.kind, Kind::WouldCrop);
    EXPECT_EQ(errors.why, platform::Why::NotWholeBlocks);
}

TEST(JpegErrorManager, TheThumbnailEncoderTakesAModelWithStrayBytes) {
    const Bytes model = WithStrayBytesAfterFirstSegment(MakeJpeg(32, 24));
    const Bytes rgb(std::size_t(24) * 32 * 3, 0x80);
    const std::vector<std::uint8_t> encoded = rotate::EncodeLike(model, rgb, 24, 32, true);
    ASSERT_FALSE(encoded.empty());
    int w = 0, h = 0;
    EXPECT_FALSE(DecodeRgb(encoded, w, h).empty());
    EXPECT_EQ(w, 24);
    EXPECT_EQ(h, 32);

    EXPECT_TRUE(rotate::EncodeLike(Bytes(64, 0x42), rgb, 24, 32, true).empty());
}
