// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/english.h"
#include "support/jpeg_factory.h"
#include "support/temp_dir.h"
#include "thumbs/image_codec.h"
#include "thumbs/thumbnail_size.h"

#include <QBuffer>
#include <QColor>
#include <QImage>

#include <cstdlib>
#include <gtest/gtest.h>

using namespace testing_support;
using namespace thumbs;

TEST(ThumbnailSize, Arithmetic) {
    EXPECT_EQ(ThumbnailSize(4000, 3000, 150, 170), (PixelSize{140, 100}));
    EXPECT_EQ(ThumbnailSize(3000, 4000, 150, 170), (PixelSize{105, 140}));
    EXPECT_EQ(ThumbnailSize(1000, 1000, 150, 170), (PixelSize{140, 140}));
    EXPECT_EQ(ThumbnailSize(100, 80, 150, 170), (PixelSize{140, 107}));
    EXPECT_EQ(ThumbnailSize(141, 50, 150, 170), (PixelSize{140, 47}));
    EXPECT_EQ(ThumbnailSize(20000, 1, 150, 170), (PixelSize{140, 1})) << "never zero pixels high";
    EXPECT_FALSE(ShouldScale(100, 80, 150, 170, false));
    EXPECT_TRUE(ShouldScale(100, 80, 150, 170, true));
    EXPECT_TRUE(ShouldScale(141, 50, 150, 170, false));
    EXPECT_FALSE(ShouldScale(50, 160, 150, 170, false)) << "the small-image test uses H - 10";
}

TEST(ImageCodec, SizesQualitiesAndOrientation) {
    TempDir dir;
    ExifSpec spec;
    spec.orientation = 6;
    // An embedded thumbnail of one flat colour that the photo itself has nowhere near its middle.
    const QColor flat(20, 200, 60);
    QImage embedded(160, 120, QImage::Format_RGB32);
    embedded.fill(flat);
    QByteArray encoded;
    QBuffer buffer(&encoded);
    buffer.open(QIODevice::WriteOnly);
    ASSERT_TRUE(embedded.save(&buffer, "JPG", 95));
    spec.thumbnail.assign(encoded.begin(), encoded.end());
    WriteFile(dir.file("big.jpg"), MakeJpegWithExif(1600, 1200, spec));
    const auto nearFlat = [&](const QImage& image) {
        const QColor c = image.pixelColor(image.width() / 2, image.height() / 2);
        return std::abs(c.red() - flat.red()) < 12 && std::abs(c.green() - flat.green()) < 12 &&
               std::abs(c.blue() - flat.blue()) < 12;
    };
    WriteFile(dir.file("small.jpg"), MakeJpeg(100, 80));
    for (bool high : {true, false}) {
        const Thumbnail t = MakeThumbnailImage(dir.qfile("big.jpg"), {150, 170, high, false});
        ASSERT_TRUE(t.made());
        EXPECT_EQ(t.image.size(), QSize(140, 100));
        EXPECT_LE(t.image.sizeInBytes(), 64 * 1024) << "a thumbnail costs at most 64 KB";
        EXPECT_EQ(t.orientation, 6);
        // Low quality shows the embedded thumbnail, high quality the photo's own pixels.
        EXPECT_EQ(nearFlat(t.image), !high) << (high ? "high" : "low") << " quality";
    }
    EXPECT_EQ(MakeThumbnailImage(dir.qfile("small.jpg"), {150, 170, true, false}).image.size(),
              QSize(100, 80));
    EXPECT_EQ(MakeThumbnailImage(dir.qfile("small.jpg"), {150, 170, true, true}).image.size(),
              QSize(140, 107));
    const ImageHeader header = ReadImageHeader(dir.qfile("big.jpg"));
    EXPECT_EQ(header.width, 1600);
    EXPECT_EQ(header.height, 1200);
    EXPECT_EQ(header.orientation, 6);
}

namespace {

// The photo's frame header changed to claim another size; the data stays what it was.
Bytes WithClaimedSize(Bytes jpeg, int w, int h) {
    for (std::size_t i = 2; i + 8 < jpeg.size(); ++i)
        if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xC0) {
            jpeg[i + 5] = std::uint8_t(h >> 8);
            jpeg[i + 6] = std::uint8_t(h & 0xFF);
            jpeg[i + 7] = std::uint8_t(w >> 8);
            jpeg[i + 8] = std::uint8_t(w & 0xFF);
            break;
        }
    return jpeg;
}

} // namespace

TEST(ImageCodec, BadInputGivesUnreadableOrPartialImages) {
    TempDir dir;
    const Bytes photo = MakeJpeg(320, 240);
    WriteFile(dir.file("text.jpg"), Bytes{'h', 'e', 'l', 'l', 'o'});
    WriteFile(dir.file("empty.jpg"), {});
    WriteFile(dir.file("truncated.jpg"),
              Bytes(photo.begin(), photo.begin() + std::ptrdiff_t(photo.size() / 2)));
    WriteFile(dir.file("huge.jpg"), WithClaimedSize(photo, 65500, 65500));
    WriteFile(dir.file("big.jpg"), WithClaimedSize(photo, 20000, 14000));
    WriteFile(dir.file("dot.jpg"), MakeJpeg(1, 1));
    QImage png(40, 30, QImage::Format_RGB32);
    png.fill(Qt::red);
    png.save(dir.qfile("png.jpg"), "PNG");

    const ThumbnailOptions options{150, 170, true, true};
    EXPECT_TRUE(MakeThumbnailImage(dir.qfile("text.jpg"), options).unreadable());
    EXPECT_TRUE(MakeThumbnailImage(dir.qfile("empty.jpg"), options).unreadable());
    EXPECT_TRUE(MakeThumbnailImage(dir.qfile("missing.jpg"), options).missing());
    EXPECT_TRUE(MakeThumbnailImage(dir.qpath(), options).missing());
    EXPECT_TRUE(MakeThumbnailImage(dir.qfile("truncated.jpg"), options).made());
    // Even the smallest scale of 65500 x 65500 is more than one thumbnail may cost.
    EXPECT_TRUE(MakeThumbnailImage(dir.qfile("huge.jpg"), options).unreadable());
    const Thumbnail big = MakeThumbnailImage(dir.qfile("big.jpg"), options);
    ASSERT_TRUE(big.made()) << "decoded as far as the data goes";
    EXPECT_EQ(big.image.size(), QSize(140, 93));
    EXPECT_EQ(MakeThumbnailImage(dir.qfile("dot.jpg"), options).image.size(), QSize(140, 140));
    const Thumbnail fromPng = MakeThumbnailImage(dir.qfile("png.jpg"), options);
    ASSERT_TRUE(fromPng.made());
    EXPECT_EQ(fromPng.image.size(), QSize(140, 100));
}

// The reason goes with a thumbnail that was not made; a made one carries none.
TEST(ImageCodec, AThumbnailNotMadeSaysWhy) {
    TempDir dir;
    using Kind = platform::Result::Kind;
    WriteFile(dir.file("text.jpg"), Bytes{'h', 'e', 'l', 'l', 'o'});
    WriteFile(dir.file("empty.jpg"), {});
    WriteFile(dir.file("good.jpg"), MakeJpeg(64, 48));
    for (const bool highQuality : {true, false}) {
        const ThumbnailOptions options{150, 170, highQuality, true};
        const Thumbnail missing = MakeThumbnailImage(dir.qfile("missing.jpg"), options);
        EXPECT_EQ(missing.failure.kind(), Kind::NotFound);
        EXPECT_EQ(MakeThumbnailImage(dir.qpath(), options).failure.kind(), Kind::NotFound);
        for (const char* name : {"text.jpg", "empty.jpg"}) {
            const Thumbnail bad = MakeThumbnailImage(dir.qfile(name), options);
            EXPECT_TRUE(bad.unreadable()) << name;
            EXPECT_EQ(bad.failure.kind(), Kind::Damaged) << name << ": " << English(bad.failure);
        }
        const Thumbnail good = MakeThumbnailImage(dir.qfile("good.jpg"), options);
        EXPECT_TRUE(good.made());
        EXPECT_TRUE(good.failure.ok()) << English(good.failure);
    }
}

TEST(ImageCodec, OnlyAThumbnailWithoutFailureIsMadeAndOnlyAGoneOneIsMissing) {
    const Thumbnail nothingYet;
    EXPECT_FALSE(nothingYet.made());
    EXPECT_TRUE(nothingYet.missing());
    EXPECT_FALSE(nothingYet.unreadable());

    Thumbnail refused;
    refused.failure = platform::Result::FromErrno(EACCES);
    EXPECT_FALSE(refused.made());
    EXPECT_FALSE(refused.missing()) << "there, but not to be read";
    EXPECT_TRUE(refused.unreadable());
}
