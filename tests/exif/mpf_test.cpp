// SPDX-License-Identifier: GPL-3.0-or-later
#include "exif/mpf.h"
#include "support/jpeg_factory.h"

#include <gtest/gtest.h>

using namespace testing_support;
using jpeg::ByteOrder;

namespace {

// The APP2 payload (after its length) of the first MPF segment of `file`.
std::span<std::uint8_t> MpfPayload(Bytes& file) {
    std::size_t pos = 2;
    while (pos + 4 <= file.size() && file[pos] == 0xFF) {
        const std::size_t length = std::size_t(file[pos + 2]) << 8 | file[pos + 3];
        if (file[pos + 1] == 0xE2) return {file.data() + pos + 4, length - 2};
        pos += 2 + length;
    }
    return {};
}

} // namespace

TEST(MpfIndex, ReadsEveryEntryInBothByteOrders) {
    const Bytes first = MakeJpeg(32, 16), gain = MakeJpeg(16, 8), preview = MakeJpeg(24, 16);
    for (ByteOrder order : {ByteOrder::Little, ByteOrder::Big}) {
        Bytes file =
            MakeMpfFile(first, {{gain, 0x00000000}, {preview, 0x00010002}}, order, Bytes{1, 2, 3});
        const auto payload = MpfPayload(file);
        const auto index = exif::ParseMpfIndex(payload);
        ASSERT_TRUE(index);
        ASSERT_EQ(index->entries.size(), 3u);
        EXPECT_EQ(index->entries[0].offset, 0u);
        EXPECT_EQ(index->entries[0].attribute, 0x20030000u);
        EXPECT_EQ(index->entries[2].attribute, 0x00010002u);
        // Each offset, counted from the TIFF header of the index, lands on that image's bytes.
        const std::size_t origin = std::size_t(payload.data() - file.data()) + exif::kMpfTiffStart;
        EXPECT_EQ(index->entries[1].size, gain.size());
        EXPECT_TRUE(std::equal(gain.begin(), gain.end(),
                               file.begin() + std::ptrdiff_t(origin + index->entries[1].offset)));
        EXPECT_EQ(index->entries[2].size, preview.size());
        EXPECT_TRUE(std::equal(preview.begin(), preview.end(),
                               file.begin() + std::ptrdiff_t(origin + index->entries[2].offset)));
    }
}

TEST(MpfIndex, RewritesOffsetsAndSizesInPlace) {
    Bytes file = MakeMpfFile(MakeJpeg(32, 16), {{MakeJpeg(16, 8)}}, ByteOrder::Big);
    const auto payload = MpfPayload(file);
    const Bytes before(payload.begin(), payload.end());
    auto index = exif::ParseMpfIndex(payload);
    ASSERT_TRUE(index);
    index->entries[0].size = 123456;
    index->entries[1].offset = 0x01020304;
    index->entries[1].size = 77;
    ASSERT_TRUE(exif::WriteMpfEntries(payload, *index));
    const auto again = exif::ParseMpfIndex(payload);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->entries[0].size, 123456u);
    EXPECT_EQ(again->entries[1].offset, 0x01020304u);
    EXPECT_EQ(again->entries[1].size, 77u);
    EXPECT_EQ(again->entries[1].attribute, index->entries[1].attribute);
    // Only the two fields of the changed entries differ.
    std::size_t changed = 0;
    for (std::size_t i = 0; i < before.size(); ++i)
        changed += before[i] != payload[i];
    EXPECT_LE(changed, 12u);
    EXPECT_EQ(payload.size(), before.size());
}

TEST(MpfIndex, RefusesBrokenIndexes) {
    const Bytes good = MakeMpfFile(MakeJpeg(16, 16), {{MakeJpeg(16, 16)}}, ByteOrder::Little);
    auto broken = [&](auto change) {
        Bytes file = good;
        auto payload = MpfPayload(file);
        change(payload);
        return !exif::ParseMpfIndex(payload);
    };
    // Offsets inside the payload: TIFF at 4, IFD at 12, entries (tag, type, count, value) from 14.
    EXPECT_TRUE(broken([](auto p) { p[0] = 'X'; }));  // not "MPF"
    EXPECT_TRUE(broken([](auto p) { p[6] = 43; }));   // TIFF magic
    EXPECT_TRUE(broken([](auto p) { p[8] = 0xF0; })); // IFD past the end
    EXPECT_TRUE(broken([](auto p) {
        p[12] = 0xFF;
        p[13] = 0xFF;
    }));                                                        // entry count too large
    EXPECT_TRUE(broken([](auto p) { p[14 + 8] = '9'; }));       // unknown version
    EXPECT_TRUE(broken([](auto p) { p[14 + 12 + 8] = 3; }));    // count disagrees with entries
    EXPECT_TRUE(broken([](auto p) { p[14 + 12 + 8] = 0; }));    // no image
    EXPECT_TRUE(broken([](auto p) { p[14 + 24 + 8] = 0xFF; })); // entries past the end
    EXPECT_FALSE(broken([](auto) {}));
    // Every truncation fails cleanly instead of reading past the payload.
    Bytes file = good;
    const auto payload = MpfPayload(file);
    for (std::size_t n = 0; n < payload.size(); ++n)
        EXPECT_FALSE(exif::ParseMpfIndex(payload.first(n))) << n;
}
