// SPDX-License-Identifier: GPL-3.0-or-later
// A turn keeps what the photo holds: its embedded thumbnail in shape, what follows the image,
// its other images, its XMP; and refuses only photos that are really damaged.
#include "exif/exif_reader.h"
#include "jpeg/turbo.h"
#include "rotate/transform.h"
#include "support/english.h"
#include "support/jpeg_factory.h"
#include "support/temp_dir.h"
#include "support/test_images.h"
#include "thumbs/image_codec.h"

#include <QBuffer>
#include <QImage>
#include <QTransform>

#include <algorithm>
#include <gtest/gtest.h>

using namespace testing_support;

namespace {

Bytes EmbeddedThumbnail(const Bytes& jpeg) {
    const exif::ExifData data = exif::ReadJpegExif(jpeg);
    const auto segment = exif::FindExifSegment(jpeg);
    if (!segment || data.thumbnailLength == 0) return {};
    const auto begin = jpeg.begin() + std::ptrdiff_t(segment->tiffStart + data.thumbnailOffset);
    return Bytes(begin, begin + std::ptrdiff_t(data.thumbnailLength));
}

QImage ToImage(const Bytes& rgb, int w, int h) {
    return QImage(rgb.data(), w, h, w * 3, QImage::Format_RGB888).copy();
}

// A one-colour picture: nothing like the factory's photos.
Bytes SolidJpeg(int w, int h, Qt::GlobalColor color) {
    QImage image(w, h, QImage::Format_RGB888);
    image.fill(color);
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG", 90);
    return Bytes(data.begin(), data.end());
}

} // namespace

TEST(TurnFidelity, TheThumbnailShowsTheTurnedPhotoInItsProportions) {
    TempDir dir;
    // 160x120 with 4:2:0 sampling: a lossless turn would trim it to 112x160.
    for (const rotate::QuarterTurns transform : rotate::kTransformValues) {
        ExifSpec spec;
        spec.thumbnail = MakeJpeg(160, 120, Subsampling::S420, 80);
        const std::string path = dir.file("photo.jpg");
        WriteFile(path, MakeJpegWithExif(640, 480, spec));
        ASSERT_TRUE(rotate::TurnJpegFile(path, transform, std::nullopt).ok());
        const Bytes turned = ReadFile(path);
        int w = 0, h = 0, tw = 0, th = 0;
        const Bytes photo = DecodeRgb(turned, w, h);
        const Bytes thumb = DecodeRgb(EmbeddedThumbnail(turned), tw, th);
        ASSERT_FALSE(thumb.empty()) << int(transform);
        EXPECT_LE(std::abs(th * w - tw * h), std::max(w, h))
            << tw << "x" << th << " for " << w << "x" << h;
        // It shows the photo as turned: far closer to it than to the photo turned half a turn more.
        const QImage scaled =
            ToImage(photo, w, h).scaled(tw, th, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        const QImage halfTurnMore = scaled.transformed(QTransform().rotate(180));
        const QImage shown = ToImage(thumb, tw, th);
        EXPECT_LT(MeanDifference(shown, scaled) * 3, MeanDifference(shown, halfTurnMore))
            << "transform " << int(transform);
    }
}

TEST(TurnFidelity, TheQuickThumbnailUsesOnlyAnEmbeddedOneOfThePhotosProportions) {
    TempDir dir;
    const thumbs::ThumbnailOptions quick{150, 170, false, true};
    // A thumbnail of other proportions than its photo (as an older turn left it) is not shown.
    for (const auto& [thumbW, thumbH, used] :
         {std::tuple{160, 120, true}, std::tuple{120, 160, false}}) {
        ExifSpec spec;
        spec.thumbnail = SolidJpeg(thumbW, thumbH, Qt::blue);
        const Bytes photo = MakeJpegWithExif(640, 480, spec);
        const std::string path = dir.file("photo.jpg");
        WriteFile(path, photo);
        const thumbs::Thumbnail made =
            thumbs::MakeThumbnailImage(QString::fromStdString(path), quick);
        ASSERT_TRUE(made.made());
        // The embedded thumbnail is a picture of its own size, so the two candidates differ.
        int tw = 0, th = 0, w = 0, h = 0;
        const Bytes thumbRgb = DecodeRgb(spec.thumbnail, tw, th), photoRgb = DecodeRgb(photo, w, h);
        const QSize size = made.image.size();
        const QImage embedded =
            ToImage(thumbRgb, tw, th).scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        const QImage full =
            ToImage(photoRgb, w, h).scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        const QImage image = made.image.convertToFormat(QImage::Format_RGB888);
        const double toEmbedded = MeanDifference(image, embedded),
                     toPhoto = MeanDifference(image, full);
        if (used)
            EXPECT_LT(toEmbedded * 2, toPhoto) << thumbW << "x" << thumbH;
        else
            EXPECT_LT(toPhoto * 2, toEmbedded) << thumbW << "x" << thumbH;
    }
}

TEST(TurnFidelity, ExtraneousBytesAheadOfTheScanDoNotStopATurn) {
    TempDir dir;
    ExifSpec spec;
    spec.orientation = 6;
    const Bytes clean = MakeJpegWithExif(64, 48, spec);
    const std::string reference = dir.file("clean.jpg");
    WriteFile(reference, clean);
    const platform::Result result =
        rotate::TurnJpegFile(reference, rotate::QuarterTurns::One, std::uint16_t(1));
    ASSERT_TRUE(result.ok()) << English(result);
    int w = 0, h = 0;
    const Bytes expected = DecodeRgb(ReadFile(reference), w, h);
    // Stray bytes where a marker was due: right after SOI, after the EXIF segment, and twice.
    const std::size_t app1End = 4 + (std::size_t(clean[4]) << 8 | clean[5]);
    const std::vector<std::vector<std::size_t>> placements = {{2}, {app1End}, {app1End, 2}};
    for (const auto& places : placements) {
        Bytes stray = clean;
        for (std::size_t at : places)
            stray.insert(stray.begin() + std::ptrdiff_t(at), {0x00, 0x11, 0x22});
        const std::string path = dir.file("stray.jpg");
        WriteFile(path, stray);
        const platform::Result result =
            rotate::TurnJpegFile(path, rotate::QuarterTurns::One, std::uint16_t(1));
        ASSERT_TRUE(result.ok()) << English(result);
        int w2 = 0, h2 = 0;
        EXPECT_TRUE(DecodeRgb(ReadFile(path), w2, h2) == expected) << places.size();
        EXPECT_EQ(exif::OrientationOf(exif::ReadJpegExif(ReadFile(path))), 1);
    }
}

TEST(TurnFidelity, DamagedImageDataStopsATurnAndLeavesThePhoto) {
    TempDir dir;
    const Bytes photo = MakeJpeg(256, 192, Subsampling::S420, 90);
    const Bytes truncated(photo.begin(), photo.begin() + std::ptrdiff_t(photo.size() * 2 / 3));
    Bytes corrupt = photo;
    // A marker in the middle of the image data: the decoder meets it long before the end.
    corrupt[photo.size() / 2] = 0xFF;
    corrupt[photo.size() / 2 + 1] = 0xD9;
    for (const Bytes& damaged : {truncated, corrupt}) {
        const std::string path = dir.file("damaged.jpg");
        WriteFile(path, damaged);
        const platform::Result refused =
            rotate::TurnJpegFile(path, rotate::QuarterTurns::One, std::nullopt);
        EXPECT_EQ(refused.kind(), platform::Result::Kind::Damaged) << English(refused);
        EXPECT_EQ(ReadFile(path), damaged);
    }
}

namespace {

// A camera's thumbnail: texture and noise at quality 75, 4:2:0, as small as cameras make them.
Bytes CameraThumbnail(int w, int h) {
    QImage image(w, h, QImage::Format_RGB888);
    std::uint32_t state = 12345;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            state = state * 1664525u + 1013904223u;
            const int noise = int(state >> 28) - 8;
            const bool sky = y < h / 3;
            const int r = sky ? 90 + y : 60 + (x * 3 + y * 5) % 90;
            const int g = sky ? 140 + y : 90 + ((x / 6) ^ (y / 4)) % 80;
            const int b = sky ? 220 : 40 + (x * y / 20) % 60;
            image.setPixel(x, y,
                           qRgb(std::clamp(r + noise, 0, 255), std::clamp(g + noise, 0, 255),
                                std::clamp(b + noise, 0, 255)));
        }
    Bytes packed;
    for (int y = 0; y < h; ++y)
        packed.insert(packed.end(), image.constScanLine(y), image.constScanLine(y) + w * 3);
    jpeg::TjHandle handle(tjInitCompress());
    unsigned char* out = nullptr;
    unsigned long size = 0;
    if (tjCompress2(handle.get(), packed.data(), w, 0, h, TJPF_RGB, &out, &size, TJSAMP_420, 75,
                    0) != 0)
        return {};
    const jpeg::TjBuffer owned(out);
    return Bytes(out, out + size);
}

} // namespace

TEST(TurnFidelity, AReencodedThumbnailKeepsTheQualityAndSizeItHad) {
    TempDir dir;
    // 4:2:0 at 160x120: every turn would trim it out of the photo's proportions, so it is
    // decoded, turned and encoded again.
    const Bytes old = CameraThumbnail(160, 120);
    ASSERT_FALSE(old.empty());
    int ow = 0, oh = 0;
    const Bytes oldRgb = DecodeRgb(old, ow, oh);
    const QImage oldImage = ToImage(oldRgb, ow, oh);
    for (const rotate::QuarterTurns transform : rotate::kTransformValues) {
        ExifSpec spec;
        spec.thumbnail = old;
        const std::string path = dir.file("photo.jpg");
        WriteFile(path, MakeJpegWithExif(640, 480, spec));
        ASSERT_TRUE(rotate::TurnJpegFile(path, transform, std::nullopt).ok());
        const Bytes thumb = EmbeddedThumbnail(ReadFile(path));
        int tw = 0, th = 0;
        const Bytes rgb = DecodeRgb(thumb, tw, th);
        ASSERT_FALSE(rgb.empty()) << int(transform);
        EXPECT_LE(double(thumb.size()), 1.10 * double(old.size()))
            << "transform " << int(transform) << ": " << thumb.size() << " bytes, was "
            << old.size();
        // The old picture, turned: the same up to the encoding.
        const QImage expected = oldImage.transformed(QTransform().rotate(90 * int(transform)));
        ASSERT_EQ(QSize(tw, th), expected.size()) << int(transform);
        const QImage shown = ToImage(rgb, tw, th);
        EXPECT_LT(MeanDifference(shown, expected), 4.0) << "transform " << int(transform);
        EXPECT_LT(MeanDifference(shown, expected) * 3,
                  MeanDifference(shown, expected.transformed(QTransform().rotate(180))));
    }
}

// A decoder takes a quantisation value of 0 in a damaged thumbnail; the encoder that makes its
// turned copy must not divide by it.
TEST(TurnFidelity, AThumbnailWithAZeroQuantisationValueIsTurnedWithoutACrash) {
    TempDir dir;
    Bytes old = CameraThumbnail(160, 120);
    ASSERT_FALSE(old.empty());
    // The first value of the first table (FF DB, length, Pq/Tq, then 64 values).
    bool patched = false;
    for (std::size_t i = 0; i + 5 < old.size(); ++i)
        if (old[i] == 0xFF && old[i + 1] == 0xDB) {
            old[i + 6] = 0;
            patched = true;
            break;
        }
    ASSERT_TRUE(patched);
    ExifSpec spec;
    spec.thumbnail = old;
    const std::string path = dir.file("photo.jpg");
    WriteFile(path, MakeJpegWithExif(640, 480, spec));
    ASSERT_TRUE(rotate::TurnJpegFile(path, rotate::QuarterTurns::One, std::nullopt).ok());
    int tw = 0, th = 0;
    EXPECT_FALSE(DecodeRgb(EmbeddedThumbnail(ReadFile(path)), tw, th).empty());
    EXPECT_EQ(QSize(tw, th), QSize(120, 160));
}
