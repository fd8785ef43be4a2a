// SPDX-License-Identifier: GPL-3.0-or-later
// Thumbnails for screens of more than one device pixel to a logical one.
#include "jpeg/turbo.h"
#include "support/jpeg_factory.h"
#include "support/temp_dir.h"
#include "support/test_images.h"
#include "thumbs/image_codec.h"
#include "thumbs/thumbnail_cache.h"

#include <QImage>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>

using namespace testing_support;
using namespace thumbs;

namespace {

ThumbnailOptions Cell(double density) {
    ThumbnailOptions options{150, 170, true, true};
    options.devicePixelRatio = density;
    return options;
}

// Detail a soft thumbnail loses: hard edges and sensor noise; quality 92.
Bytes MakeDetailedPhoto(int w, int h) {
    QImage image(w, h, QImage::Format_RGB888);
    image.fill(QColor(90, 140, 200));
    QPainter painter(&image);
    for (int x = 0; x < w; x += 53)
        painter.fillRect(QRect(x, h / 3, 17, h / 3), QColor(240, 230, 200));
    painter.setBrush(QColor(150, 60, 40));
    painter.setPen(Qt::NoPen);
    painter.drawEllipse(QPointF(w * 0.7, h * 0.2), w * 0.1, w * 0.1);
    painter.end();
    return WithSensorNoiseAsJpeg(image, 7);
}

// The photo decoded whole, every thumbnail pixel the exact mean of the photo area it covers.
QImage AreaAveraged(const Bytes& photo, QSize size) {
    const QImage whole = DecodeJpeg(photo, {}, false).convertToFormat(QImage::Format_RGB888);
    const auto overlap = [](int i, int j, double step) {
        return std::max(0.0, std::min(i + 1.0, (j + 1) * step) - std::max(double(i), j * step));
    };
    const double sx = double(whole.width()) / size.width();
    const double sy = double(whole.height()) / size.height();
    QImage out(size, QImage::Format_RGB888);
    for (int y = 0; y < size.height(); ++y) {
        for (int x = 0; x < size.width(); ++x) {
            double sum[3] = {}, weight = 0;
            for (int v = int(y * sy); v < std::min(whole.height(), int(std::ceil((y + 1) * sy)));
                 ++v) {
                const uchar* row = whole.constScanLine(v);
                for (int u = int(x * sx); u < std::min(whole.width(), int(std::ceil((x + 1) * sx)));
                     ++u) {
                    const double w = overlap(v, y, sy) * overlap(u, x, sx);
                    for (int c = 0; c < 3; ++c)
                        sum[c] += w * row[3 * u + c];
                    weight += w;
                }
            }
            for (int c = 0; c < 3; ++c)
                out.scanLine(y)[3 * x + c] = uchar(std::lround(sum[c] / weight));
        }
    }
    return out;
}

double Psnr(const QImage& a, const QImage& b) {
    const QImage x = a.convertToFormat(QImage::Format_RGB888);
    const QImage y = b.convertToFormat(QImage::Format_RGB888);
    double sum = 0;
    for (int row = 0; row < x.height(); ++row)
        for (int i = 0; i < x.width() * 3; ++i) {
            const double d = double(x.constScanLine(row)[i]) - y.constScanLine(row)[i];
            sum += d * d;
        }
    const double mse = sum / (double(x.width()) * x.height() * 3);
    return mse == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / mse);
}

double PsnrAgainstWhole(const Bytes& photo, const QImage& thumbnail) {
    return Psnr(thumbnail, AreaAveraged(photo, thumbnail.size()));
}

} // namespace

TEST(Density, AScaledThumbnailHasThePixelsOfTheScreenAndTheSizeOfTheCell) {
    TempDir dir;
    WriteFile(dir.file("big.jpg"), MakeJpeg(2000, 1500));
    WriteFile(dir.file("small.jpg"), MakeJpeg(100, 80));
    const Thumbnail big = MakeThumbnailImage(dir.qfile("big.jpg"), Cell(2));
    EXPECT_EQ(big.image.size(), QSize(280, 200));
    EXPECT_EQ(big.image.deviceIndependentSize(), QSizeF(140, 100)) << "the cell is logical";
    EXPECT_EQ(MakeThumbnailImage(dir.qfile("big.jpg"), Cell(1.5)).image.size(), QSize(210, 150));

    // A small photo is not enlarged: it keeps its pixels and shows at its own size.
    ThumbnailOptions keepSmall = Cell(2);
    keepSmall.enlargeSmall = false;
    const Thumbnail small = MakeThumbnailImage(dir.qfile("small.jpg"), keepSmall);
    EXPECT_EQ(small.image.size(), QSize(100, 80));
    EXPECT_EQ(small.image.devicePixelRatio(), 1.0);

    ThumbnailCache cache(QString(), ThumbnailCache::Writes::Inline);
    EXPECT_EQ(cache.MakeThumbnail(dir.qfile("big.jpg"), Cell(2)).image.size(), QSize(280, 200));
    EXPECT_EQ(cache.MakeThumbnail(dir.qfile("big.jpg"), Cell(1)).image.size(), QSize(140, 100));
}

TEST(Density, TwiceThePixelsAreAtLeastAsTrueToThePhotoAsOnce) {
    TempDir dir;
    for (const QSize size : {QSize(2320, 1744), QSize(1001, 751)}) {
        const Bytes photo = MakeDetailedPhoto(size.width(), size.height());
        const QString path = dir.qfile("p.jpg");
        WriteFile(path.toStdString(), photo);
        ThumbnailCache cache(QString(), ThumbnailCache::Writes::Inline);
        for (const bool cached : {false, true}) {
            const auto make = [&](double density) {
                return cached ? cache.MakeThumbnail(path, Cell(density)).image
                              : MakeThumbnailImage(path, Cell(density)).image;
            };
            const double once = PsnrAgainstWhole(photo, make(1));
            const double twice = PsnrAgainstWhole(photo, make(2));
            EXPECT_GE(twice, once) << size.width() << "x" << size.height()
                                   << (cached ? " from a master" : " from the photo");
        }
    }
}

TEST(Density, MastersOfEachDensityKeepApartInMemoryAndOnDisk) {
    TempDir dir, cacheDir;
    const Bytes photo = MakeDetailedPhoto(2320, 1744);
    const QString path = dir.qfile("p.jpg");
    WriteFile(path.toStdString(), photo);
    CacheLimits settled;
    settled.racyNanoseconds = 0;
    const QString folder = cacheDir.qfile("thumbnails");
    {
        ThumbnailCache cache(folder, ThumbnailCache::Writes::Inline, settled);
        cache.MakeThumbnail(path, Cell(1));
        const Thumbnail dense = cache.MakeThumbnail(path, Cell(2));
        EXPECT_EQ(cache.counts().misses, 2) << "the coarse master does not serve the dense one";
        EXPECT_EQ(dense.image.size(), QSize(280, 200));
    }
    ThumbnailCache nextRun(folder, ThumbnailCache::Writes::Inline, settled);
    const Thumbnail dense = nextRun.MakeThumbnail(path, Cell(2));
    const Thumbnail coarse = nextRun.MakeThumbnail(path, Cell(1));
    EXPECT_EQ(nextRun.counts().diskHits, 2) << "each density finds its own file";
    EXPECT_EQ(dense.image.size(), QSize(280, 200));
    EXPECT_EQ(coarse.image.size(), QSize(140, 100));
    EXPECT_GE(PsnrAgainstWhole(photo, dense.image), PsnrAgainstWhole(photo, coarse.image));
}
