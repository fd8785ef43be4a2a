// SPDX-License-Identifier: GPL-3.0-or-later
#include "exif/thumbnail_proportions.h"
#include "support/jpeg_factory.h"
#include "support/temp_dir.h"
#include "support/test_images.h"
#include "thumbs/image_codec.h"
#include "thumbs/letterbox.h"

#include <QBuffer>
#include <QImage>
#include <QPainter>

#include <cstdlib>
#include <gtest/gtest.h>

using namespace testing_support;
using namespace thumbs;

namespace {

// A small scene with texture and noise everywhere and no dark pixel: a camera's downscaled view.
QImage BusyPicture(int w, int h, unsigned seed) {
    QImage image(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            seed = seed * 1103515245u + 12345u;
            const int noise = int(seed >> 16) % 41 - 20;
            const int r = 150 + (x * 7 + y * 3) % 80 + noise / 2;
            const int g = 110 + (y * 130) / h + noise;
            const int b = 120 + ((x / 9 + y / 7) % 2) * 60 + noise / 2;
            image.setPixel(x, y, qRgb(std::clamp(r, 0, 255), g, std::clamp(b, 0, 255)));
        }
    return image;
}

// `picture` drawn into a w x h frame at (x, y) over `background`.
QImage Framed(const QImage& picture, int w, int h, int x, int y, const QImage& background) {
    QImage frame = background.isNull() ? QImage(w, h, QImage::Format_RGB32) : background;
    if (background.isNull()) frame.fill(Qt::black);
    QPainter painter(&frame);
    painter.drawImage(x, y, picture);
    return frame;
}

Bytes EncodeJpeg(const QImage& image, int quality = 85) {
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPG", quality);
    return Bytes(data.begin(), data.end());
}

// As the low-quality path sees an embedded thumbnail: JPEG noise, fast decoding.
QImage AsStored(const QImage& image) {
    return DecodeJpeg(EncodeJpeg(image), {}, true);
}

// A dark grey bar that brightens across the thumbnail, with noise.
QImage GreyGradientBars(int w, int h) {
    QImage image(w, h, QImage::Format_RGB32);
    unsigned seed = 7;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            seed = seed * 1103515245u + 12345u;
            const int level = 6 + x * 24 / w + int(seed >> 16) % 9;
            image.setPixel(x, y, qRgb(level, level, level + 2));
        }
    return image;
}

} // namespace

TEST(Letterbox, WhereACameraPutsThePicture) {
    EXPECT_EQ(exif::FittedPicture(160, 120, 6000, 4000), (exif::PictureRect{0, 6, 160, 107}));
    EXPECT_EQ(exif::FittedPicture(160, 120, 3000, 4000), (exif::PictureRect{35, 0, 90, 120}));
    EXPECT_EQ(exif::FittedPicture(160, 120, 4000, 3000), (exif::PictureRect{0, 0, 160, 120}));
    EXPECT_EQ(exif::FittedPicture(160, 120, 20000, 1), (exif::PictureRect{0, 59, 160, 1}));
    EXPECT_EQ(exif::FittedPicture(0, 120, 4000, 3000), exif::PictureRect{});
}

TEST(Letterbox, BarsOfThePredictedSizeAreCutOff) {
    // 3:2 landscape in 4:3 (bars above and below), 3:4 portrait in 4:3 (bars at the sides).
    const QImage wide = BusyPicture(160, 107, 1), tall = BusyPicture(90, 120, 2);
    const QImage greyBars = GreyGradientBars(160, 120);
    struct Case {
        const char* name;
        QImage thumbnail;
        int photoW, photoH;
        QImage picture;
    } cases[] = {
        {"black bars above and below", Framed(wide, 160, 120, 0, 6, {}), 6000, 4000, wide},
        {"black bars at the sides", Framed(tall, 160, 120, 35, 0, {}), 3000, 4000, tall},
        {"noisy dark grey gradient bars", Framed(wide, 160, 120, 0, 6, greyBars), 6000, 4000, wide},
        {"bars a pixel off centre", Framed(wide, 160, 120, 0, 7, {}), 6000, 4000, wide},
    };
    for (const Case& c : cases) {
        const QImage picture =
            PictureOfEmbeddedThumbnail(AsStored(c.thumbnail), c.photoW, c.photoH);
        ASSERT_EQ(picture.size(), c.picture.size()) << c.name;
        EXPECT_LT(MeanDifference(picture, c.picture), 12) << c.name;
    }
    // A camera that rounds the picture down to 106 lines leaves 7 on either side: no line of
    // bar may stay with the picture.
    const QImage shorter = BusyPicture(160, 106, 11);
    const QImage cut =
        PictureOfEmbeddedThumbnail(AsStored(Framed(shorter, 160, 120, 0, 7, {})), 6000, 4000);
    ASSERT_FALSE(cut.isNull());
    for (const int y : {0, cut.height() - 1})
        EXPECT_GT(qGray(cut.pixel(cut.width() / 2, y)), 60) << "line " << y;
    // A thumbnail of the photo's own proportions is used as it is.
    const QImage plain = AsStored(BusyPicture(160, 120, 3));
    EXPECT_EQ(PictureOfEmbeddedThumbnail(plain, 4000, 3000), plain);
}

TEST(Letterbox, AnythingButBarsOfThePredictedSizeIsRefused) {
    const QImage scene = BusyPicture(160, 120, 4);
    const QImage wide = BusyPicture(160, 107, 5);
    // Content whose edge rows are black on their left half only, as a dark object at the edge.
    QImage partlyBlack = scene;
    {
        QPainter painter(&partlyBlack);
        painter.fillRect(0, 0, 80, 6, Qt::black);
        painter.fillRect(0, 113, 80, 7, Qt::black);
    }
    QImage greyBars = Framed(wide, 160, 120, 0, 6, {});
    {
        QPainter painter(&greyBars);
        painter.fillRect(0, 0, 160, 6, QColor(100, 100, 100));
        painter.fillRect(0, 113, 160, 7, QColor(100, 100, 100));
    }
    QImage spotted = Framed(wide, 160, 120, 0, 6, {});
    spotted.setPixel(80, 2, qRgb(230, 230, 230));
    spotted.setPixel(81, 2, qRgb(230, 230, 230));
    spotted.setPixel(80, 3, qRgb(230, 230, 230));
    spotted.setPixel(81, 3, qRgb(230, 230, 230));
    struct Case {
        const char* name;
        QImage thumbnail;
    } cases[] = {
        {"stretched into 4:3", scene},
        {"cropped to 4:3", BusyPicture(240, 160, 6).copy(40, 20, 160, 120)},
        {"bars too tall", Framed(BusyPicture(160, 90, 7), 160, 120, 0, 15, {})},
        {"bars too short", Framed(BusyPicture(160, 116, 8), 160, 120, 0, 2, {})},
        {"one bar only", Framed(wide, 160, 120, 0, 13, {})},
        {"bars at the wrong sides", Framed(BusyPicture(142, 120, 9), 160, 120, 9, 0, {})},
        {"edge rows black only in part", partlyBlack},
        {"grey bars", greyBars},
        {"a bright spot in a bar", spotted},
        {"all black", Framed(QImage(), 160, 120, 0, 0, {})},
    };
    for (const Case& c : cases) {
        const QImage stored = AsStored(c.thumbnail);
        EXPECT_TRUE(PictureOfEmbeddedThumbnail(stored, 6000, 4000).isNull()) << c.name;
    }
    // Bars of a pixel or two are predicted here, yet none is there: stretched, if only a little.
    EXPECT_TRUE(PictureOfEmbeddedThumbnail(AsStored(scene), 1600, 1170).isNull());
    EXPECT_TRUE(PictureOfEmbeddedThumbnail(AsStored(scene), 0, 4000).isNull());
    EXPECT_TRUE(PictureOfEmbeddedThumbnail(QImage(), 6000, 4000).isNull());
}

TEST(Letterbox, TheQuickThumbnailOfALetterboxedPhotoIsItsEmbeddedPicture) {
    TempDir dir;
    const QImage wide = BusyPicture(160, 107, 10);
    const thumbs::ThumbnailOptions quick{150, 170, false, true};
    for (const bool letterboxed : {true, false}) {
        ExifSpec spec;
        spec.thumbnail = EncodeJpeg(letterboxed ? Framed(wide, 160, 120, 0, 6, {})
                                                : wide.scaled(160, 120, Qt::IgnoreAspectRatio));
        const Bytes photo = MakeJpegWithExif(1200, 800, spec);
        WriteFile(dir.file("photo.jpg"), photo);
        const Thumbnail made = MakeThumbnailImage(dir.qfile("photo.jpg"), quick);
        ASSERT_TRUE(made.made());
        ASSERT_EQ(made.image.size(), QSize(140, 89));
        const QImage shown = made.image.convertToFormat(QImage::Format_RGB32);
        const QImage fromEmbedded =
            wide.scaled(140, 89, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        const QImage fromPhoto =
            DecodeJpeg(photo, {}, false)
                .scaled(140, 89, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        if (letterboxed)
            EXPECT_LT(MeanDifference(shown, fromEmbedded) * 3, MeanDifference(shown, fromPhoto));
        else // stretched: the photo itself is decoded
            EXPECT_LT(MeanDifference(shown, fromPhoto) * 3, MeanDifference(shown, fromEmbedded));
    }
}
