// SPDX-License-Identifier: GPL-3.0-or-later
#include "jpeg/turbo.h"
#include "rotate/transform.h"
#include "session/messages.h"
#include "support/jpeg_factory.h"
#include "support/temp_dir.h"
#include "support/test_images.h"
#include "thumbs/master_image.h"
#include "thumbs/thumbnail_cache.h"
#include "thumbs/thumbnail_pipeline.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QThreadPool>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <functional>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/file_io.h"

using namespace testing_support;
using namespace thumbs;

namespace {

const ThumbnailOptions kDefaultCell{150, 170, true, true};

// The factory's gradients run from dark red at the left to bright at the right, and from dark
// green at the top to bright at the bottom; a half turn swaps both.
bool Upright(const QImage& thumbnail) {
    const QColor c = thumbnail.pixelColor(2, thumbnail.height() - 3);
    return c.red() < 100 && c.green() > 150;
}

double Psnr(const QImage& a, const QImage& b) {
    const QImage x = a.convertToFormat(QImage::Format_RGB888),
                 y = b.convertToFormat(QImage::Format_RGB888);
    double sum = 0;
    for (int row = 0; row < x.height(); ++row) {
        const uchar* p = x.constScanLine(row);
        const uchar* q = y.constScanLine(row);
        for (int i = 0; i < x.width() * 3; ++i)
            sum += double(p[i] - q[i]) * (p[i] - q[i]);
    }
    const double mse = sum / (double(x.width()) * x.height() * 3);
    return mse == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / mse);
}

// Something like a photo: soft gradients, a few sharp edges, sensor noise; quality 92.
Bytes MakePhotoLike(int w, int h) {
    QImage image(w, h, QImage::Format_RGB888);
    QPainter painter(&image);
    QLinearGradient sky(0, 0, 0, h);
    sky.setColorAt(0, QColor(110, 160, 230));
    sky.setColorAt(1, QColor(60, 110, 40));
    painter.fillRect(image.rect(), sky);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(240, 220, 170));
    painter.drawEllipse(QPointF(w * 0.7, h * 0.25), w * 0.08, w * 0.08);
    painter.setBrush(QColor(120, 70, 50));
    painter.drawRect(QRectF(w * 0.1, h * 0.55, w * 0.25, h * 0.4));
    painter.end();
    return WithSensorNoiseAsJpeg(image, 1);
}

Bytes Turned180(const Bytes& jpeg) {
    Bytes out;
    EXPECT_TRUE(
        rotate::TurnJpegBytes(jpeg, rotate::QuarterTurns::Two, std::nullopt, true, out).ok());
    return out;
}

// `jpeg` made exactly `size` bytes long with a comment segment, the picture unchanged.
Bytes PaddedTo(const Bytes& jpeg, std::size_t size) {
    const std::size_t pad = size - jpeg.size() - 4;
    Bytes segment{0xFF, 0xFE, std::uint8_t((pad + 2) >> 8), std::uint8_t((pad + 2) & 0xFF)};
    segment.resize(segment.size() + pad, 'x');
    return InsertAfterSoi(jpeg, segment);
}

struct timespec ModificationTime(const std::string& path) {
    struct stat st {};
    ::stat(path.c_str(), &st);
    return st.st_mtim;
}

struct timespec ChangeTime(const std::string& path) {
    struct stat st {};
    ::stat(path.c_str(), &st);
    return st.st_ctim;
}

struct timespec Plus(struct timespec at, std::int64_t nanoseconds) {
    const std::int64_t total = std::int64_t(at.tv_sec) * 1'000'000'000 + at.tv_nsec + nanoseconds;
    return {time_t(total / 1'000'000'000), long(total % 1'000'000'000)};
}

void SetModificationTime(const std::string& path, struct timespec mtime) {
    const struct timespec times[2] = {mtime, mtime};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

class ThumbnailCacheTest : public ::testing::Test {
protected:
    // Photos written by a test are seconds old at most: unless a test is about that, their
    // masters are taken as settled at once.
    static CacheLimits Settled() {
        CacheLimits limits;
        limits.racyNanoseconds = 0;
        return limits;
    }
    std::unique_ptr<ThumbnailCache> NewCache(CacheLimits limits = Settled()) {
        return std::make_unique<ThumbnailCache>(cacheDir.qfile("thumbnails"),
                                                ThumbnailCache::Writes::Inline, limits);
    }
    QStringList CacheFiles() const {
        return QDir(cacheDir.qfile("thumbnails")).entryList({"*.jpg"}, QDir::Files, QDir::Name);
    }

    TempDir cacheDir;
    TempDir photos;
};

} // namespace

TEST_F(ThumbnailCacheTest, ChangesToThePhotoMissAndUnchangedPhotosHit) {
    const Bytes original = MakeJpeg(640, 480);
    const std::string path = photos.file("a.jpg");
    const QString qpath = photos.qfile("a.jpg");
    WriteFile(path, original);
    // The clock stands still at the photo's first change: every change after it is one of just
    // now, however slow the machine.
    CacheLimits stopped;
    stopped.clock = [at = ChangeTime(path)] { return at; };
    auto cache = NewCache(stopped);
    ASSERT_TRUE(cache->diskEnabled());
    EXPECT_TRUE(Upright(cache->MakeThumbnail(qpath, kDefaultCell).image));
    EXPECT_TRUE(Upright(cache->MakeThumbnail(qpath, kDefaultCell).image));
    EXPECT_EQ(cache->counts().misses, 1);
    EXPECT_EQ(cache->counts().memoryHits, 1);

    // A touch alone.
    SetModificationTime(path, {1'600'000'000, 1});
    cache->MakeThumbnail(qpath, kDefaultCell);
    EXPECT_EQ(cache->counts().misses, 2);

    // Rewritten in place to another picture of the same size, the modification time put back:
    // only the status-change time tells.
    const struct timespec mtime = ModificationTime(path);
    const Bytes turned = Turned180(original);
    const std::size_t size = std::max(original.size(), turned.size()) + 8;
    WriteFile(path, PaddedTo(original, size));
    SetModificationTime(path, mtime);
    cache->MakeThumbnail(qpath, kDefaultCell);
    const int missesBefore = cache->counts().misses;
    {
        const Bytes rewritten = PaddedTo(turned, size);
        FILE* f = std::fopen(path.c_str(), "r+b");
        ASSERT_NE(f, nullptr);
        std::fwrite(rewritten.data(), 1, rewritten.size(), f);
        std::fclose(f);
    }
    SetModificationTime(path, mtime);
    EXPECT_FALSE(Upright(cache->MakeThumbnail(qpath, kDefaultCell).image))
        << "never the old picture";
    EXPECT_EQ(cache->counts().misses, missesBefore + 1);

    // Replaced by another photo of the same size and time (a copy over it).
    const std::string other = photos.file("other.jpg");
    WriteFile(other, PaddedTo(original, size));
    SetModificationTime(other, mtime);
    ASSERT_EQ(::rename(other.c_str(), path.c_str()), 0);
    EXPECT_TRUE(Upright(cache->MakeThumbnail(qpath, kDefaultCell).image));

    // Masters of photos changed this recently never reach the disk; once the photo has been
    // still for long enough and its bytes are checked again, they do.
    EXPECT_TRUE(CacheFiles().empty());
    SetModificationTime(path, mtime); // changed just now
    CacheLimits stillFor;
    const auto age = std::make_shared<std::atomic<std::int64_t>>(0);
    stillFor.clock = [age, changed = ChangeTime(path)] { return Plus(changed, *age); };
    auto settling = NewCache(stillFor);
    settling->MakeThumbnail(qpath, kDefaultCell);
    EXPECT_TRUE(CacheFiles().empty());
    *age = stillFor.racyNanoseconds - 1;
    EXPECT_TRUE(Upright(settling->MakeThumbnail(qpath, kDefaultCell).image));
    EXPECT_TRUE(CacheFiles().empty()) << "still within the tick of its last change";
    *age = stillFor.racyNanoseconds;
    EXPECT_TRUE(Upright(settling->MakeThumbnail(qpath, kDefaultCell).image));
    EXPECT_EQ(settling->counts().memoryHits, 2);
    EXPECT_EQ(CacheFiles().size(), 1);

    // The next run finds the last state on disk, and only that.
    auto nextRun = NewCache();
    EXPECT_TRUE(Upright(nextRun->MakeThumbnail(qpath, kDefaultCell).image));
    EXPECT_EQ(nextRun->counts().diskHits, 1);
    EXPECT_EQ(nextRun->counts().misses, 0);
    WriteFile(path, Turned180(original));
    EXPECT_FALSE(Upright(nextRun->MakeThumbnail(qpath, kDefaultCell).image));
    EXPECT_EQ(CacheFiles().size(), 1) << "one file per photo, rewritten when the photo changes";
}

TEST_F(ThumbnailCacheTest, EachKeyFieldChangedAloneIsRefusedOnDisk) {
    const auto master = DecodeMaster(MakeJpeg(1200, 900));
    ASSERT_TRUE(master);
    EXPECT_EQ(master->image.size(), QSize(600, 450))
        << "the smallest scale with a side of 512 or more";
    CacheKey key;
    key.path = "/photos/a.jpg";
    key.device = 2049, key.inode = 77, key.size = 4000;
    key.mtimeSec = 1700000000, key.mtimeNsec = 5, key.ctimeSec = 1700000001, key.ctimeNsec = 6;
    const Bytes file = EncodeMasterFile(*master, key.Text());
    ASSERT_TRUE(DecodeMasterFile(file, key.Text()));

    const std::vector<std::function<void(CacheKey&)>> changes = {
        [](CacheKey& k) { k.path = "/photos/b.jpg"; },
        [](CacheKey& k) { k.path = "/photos/a.jpg/"; },
        [](CacheKey& k) { ++k.device; },
        [](CacheKey& k) { ++k.inode; },
        [](CacheKey& k) { ++k.size; },
        [](CacheKey& k) { ++k.mtimeSec; },
        [](CacheKey& k) { ++k.mtimeNsec; },
        [](CacheKey& k) { ++k.ctimeSec; },
        [](CacheKey& k) { ++k.ctimeNsec; },
        [](CacheKey& k) { k.highQuality = false; },
    };
    for (std::size_t i = 0; i < changes.size(); ++i) {
        CacheKey other = key;
        changes[i](other);
        EXPECT_FALSE(DecodeMasterFile(file, other.Text())) << "change " << i;
    }
}

TEST_F(ThumbnailCacheTest, SamePhotoInTwoFoldersAndRenamedFolders) {
    const Bytes landscape = MakeJpeg(640, 480);
    const QString a = photos.mkdir("A"), b = photos.mkdir("B");
    WriteFile((a + "/p.jpg").toStdString(), landscape);
    WriteFile((b + "/p.jpg").toStdString(), landscape);
    auto cache = NewCache();
    cache->MakeThumbnail(a + "/p.jpg", kDefaultCell);
    cache->MakeThumbnail(b + "/p.jpg", kDefaultCell);
    EXPECT_EQ(cache->counts().misses, 2) << "each folder's photo has its own entry";
    EXPECT_EQ(CacheFiles().size(), 2);

    // B's copy turned; then the folders swap names, so that A/p.jpg is now the turned one.
    WriteFile((b + "/p.jpg").toStdString(), Turned180(landscape));
    ASSERT_TRUE(QDir().rename(a, photos.qfile("old")));
    ASSERT_TRUE(QDir().rename(b, a));
    EXPECT_FALSE(Upright(cache->MakeThumbnail(a + "/p.jpg", kDefaultCell).image));
    EXPECT_TRUE(Upright(cache->MakeThumbnail(photos.qfile("old/p.jpg"), kDefaultCell).image));
    auto nextRun = NewCache();
    EXPECT_FALSE(Upright(nextRun->MakeThumbnail(a + "/p.jpg", kDefaultCell).image));
    EXPECT_TRUE(Upright(nextRun->MakeThumbnail(photos.qfile("old/p.jpg"), kDefaultCell).image));
}

TEST_F(ThumbnailCacheTest, DamagedOrForeignFilesAreIgnoredAndRewritten) {
    const QString photo = photos.qfile("a.jpg");
    WriteFile(photo.toStdString(), MakeJpeg(800, 600));
    NewCache()->MakeThumbnail(photo, kDefaultCell);
    ASSERT_EQ(CacheFiles().size(), 1);
    const QString name = CacheFiles()[0];
    const std::string file = cacheDir.file("thumbnails/" + name.toStdString());
    const Bytes good = ReadFile(file);

    WriteFile(photos.file("b.jpg"), MakeJpeg(800, 600));
    NewCache()->MakeThumbnail(photos.qfile("b.jpg"), kDefaultCell);
    QStringList others = CacheFiles();
    others.removeAll(name);
    ASSERT_EQ(others.size(), 1);
    const Bytes otherPhotosFile = ReadFile(cacheDir.file("thumbnails/" + others[0].toStdString()));

    Bytes flipped = good;
    flipped[flipped.size() / 2] ^= 0x40;
    Bytes garbage(good.size());
    for (std::size_t i = 0; i < garbage.size(); ++i)
        garbage[i] = std::uint8_t(i * 131 + 7);
    const std::vector<std::pair<const char*, Bytes>> damages = {
        {"truncated", Bytes(good.begin(), good.begin() + std::ptrdiff_t(good.size() * 2 / 3))},
        {"cut before its end marker", Bytes(good.begin(), good.end() - 2)},
        {"one bit flipped", flipped},
        {"garbage", garbage},
        {"empty", {}},
        {"a JPEG of no key", MakeJpeg(600, 450)},
        {"another photo's master", otherPhotosFile},
    };
    for (const auto& [what, bytes] : damages) {
        WriteFile(file, bytes);
        auto cache = NewCache();
        const Thumbnail thumb = cache->MakeThumbnail(photo, kDefaultCell);
        EXPECT_TRUE(thumb.made()) << what;
        EXPECT_TRUE(Upright(thumb.image)) << what;
        EXPECT_EQ(cache->counts().diskHits, 0) << what;
        EXPECT_EQ(cache->counts().misses, 1) << what;
        auto nextRun = NewCache();
        nextRun->MakeThumbnail(photo, kDefaultCell);
        EXPECT_EQ(nextRun->counts().diskHits, 1) << what << ": rewritten";
    }
}

TEST_F(ThumbnailCacheTest, PrivateFolderAndFilesAndAnUnwritableFolderIsNotUsed) {
    WriteFile(photos.file("a.jpg"), MakeJpeg(800, 600));
    NewCache()->MakeThumbnail(photos.qfile("a.jpg"), kDefaultCell);
    struct stat st {};
    ASSERT_EQ(::stat(cacheDir.file("thumbnails").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    ASSERT_EQ(CacheFiles().size(), 1);
    ASSERT_EQ(::stat(cacheDir.file("thumbnails/" + CacheFiles()[0].toStdString()).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(QDir(cacheDir.qfile("thumbnails")).entryList(QDir::Hidden | QDir::Files).size(), 1)
        << "no temporary left";

    // A folder that cannot be made (a file stands in its way): thumbnails as ever, memory only.
    WriteFile(cacheDir.file("blocked"), Bytes{1});
    ThumbnailCache blocked(cacheDir.qfile("blocked/thumbnails"),
                           ThumbnailCache::Writes::Background);
    EXPECT_FALSE(blocked.diskEnabled());
    // Said once, for the window to tell: which folder, and why.
    EXPECT_EQ(blocked.diskResult().context(), platform::Why::CacheOff);
    EXPECT_EQ(blocked.diskResult().kind(), platform::Result::Kind::NotFound) << "ENOTDIR";
    EXPECT_EQ(session::RenderEnglish(session::ReasonOf(blocked.diskResult()),
                                     [](const std::string& s) { return s; }),
              "Thumbnails are not kept on disk this time: the folder " +
                  cacheDir.file("blocked/thumbnails") +
                  " cannot be used (a file stands where a folder is needed).");
    EXPECT_TRUE(blocked.MakeThumbnail(photos.qfile("a.jpg"), kDefaultCell).made());
    EXPECT_TRUE(blocked.MakeThumbnail(photos.qfile("a.jpg"), kDefaultCell).made());
    EXPECT_EQ(blocked.counts().memoryHits, 1);
    blocked.Flush();

    // A folder of another kind: a link to elsewhere is not followed.
    ASSERT_EQ(::symlink(photos.path().c_str(), cacheDir.file("link").c_str()), 0);
    const ThumbnailCache linked(cacheDir.qfile("link"), ThumbnailCache::Writes::Inline);
    EXPECT_FALSE(linked.diskEnabled());
    EXPECT_EQ(linked.diskResult().context(), platform::Why::CacheOff);
    EXPECT_TRUE(NewCache()->diskResult().ok());
}

TEST_F(ThumbnailCacheTest, DiskAndMemoryStayWithinTheirBoundsLeastRecentlyUsedOut) {
    QStringList paths;
    for (int i = 0; i < 8; ++i) {
        paths << photos.qfile(QStringLiteral("p%1.jpg").arg(i));
        WriteFile(paths.back().toStdString(), MakeJpeg(640 + 16 * i, 480));
    }
    CacheLimits limits = Settled();
    limits.memoryBytes = 3 * 700 * 480 * 3; // three or four masters
    auto probe = NewCache();
    probe->MakeThumbnail(paths[0], kDefaultCell);
    const std::int64_t fileBytes =
        QFileInfo(cacheDir.qfile("thumbnails/" + CacheFiles()[0])).size();
    limits.diskBytes = 4 * fileBytes + fileBytes / 2;

    auto cache = NewCache(limits);
    for (const QString& path : paths) {
        cache->MakeThumbnail(path, kDefaultCell);
        cache->MakeThumbnail(paths[0], kDefaultCell); // kept in use
        EXPECT_LE(cache->memoryBytes(), limits.memoryBytes);
    }
    EXPECT_LE(cache->memoryPeakBytes(), limits.memoryBytes);
    std::int64_t total = 0;
    for (const QString& name : CacheFiles())
        total += QFileInfo(cacheDir.qfile("thumbnails/" + name)).size();
    EXPECT_LE(total, limits.diskBytes);
    EXPECT_LT(CacheFiles().size(), 8);

    auto nextRun = NewCache(limits);
    nextRun->MakeThumbnail(paths[0], kDefaultCell);
    nextRun->MakeThumbnail(paths[7], kDefaultCell);
    EXPECT_EQ(nextRun->counts().diskHits, 2) << "the most recently used stay";
    nextRun->MakeThumbnail(paths[1], kDefaultCell);
    EXPECT_EQ(nextRun->counts().misses, 1) << "the least recently used went first";
}

TEST_F(ThumbnailCacheTest, ThumbnailsFromTheCacheLookLikeThoseFromThePhoto) {
    for (const auto& [w, h] : {std::pair{4000, 3000}, std::pair{1001, 751}, std::pair{2400, 3200},
                               std::pair{300, 200}}) {
        const QString path = photos.qfile(QStringLiteral("%1x%2.jpg").arg(w).arg(h));
        WriteFile(path.toStdString(), MakePhotoLike(w, h));
        const Thumbnail direct = MakeThumbnailImage(path, kDefaultCell);
        auto cache = NewCache();
        const Thumbnail first = cache->MakeThumbnail(path, kDefaultCell);
        const Thumbnail fromMemory = cache->MakeThumbnail(path, kDefaultCell);
        const Thumbnail fromDisk = NewCache()->MakeThumbnail(path, kDefaultCell);
        for (const Thumbnail* t : {&first, &fromMemory, &fromDisk}) {
            ASSERT_EQ(t->image.size(), direct.image.size()) << w << "x" << h;
            EXPECT_GE(Psnr(t->image, direct.image), 40.0) << w << "x" << h;
            EXPECT_EQ(t->image.format(), QImage::Format_RGB888);
        }
        EXPECT_GE(Psnr(fromDisk.image, first.image), 40.0) << "a hit looks like the miss before it";
    }
    // Small images keep their size, large cells and low quality are not served from masters.
    WriteFile(photos.file("small.jpg"), MakeJpeg(100, 80));
    auto cache = NewCache();
    EXPECT_EQ(cache->MakeThumbnail(photos.qfile("small.jpg"), {150, 170, true, false}).image.size(),
              QSize(100, 80));
    WriteFile(photos.file("big.jpg"), MakeJpeg(2000, 1500));
    const int misses = cache->counts().misses;
    EXPECT_EQ(cache->MakeThumbnail(photos.qfile("big.jpg"), {600, 620, true, true}).image.size(),
              QSize(590, 438));
    EXPECT_EQ(cache->MakeThumbnail(photos.qfile("big.jpg"), {150, 170, false, true}).image.size(),
              QSize(140, 100));
    EXPECT_EQ(cache->counts().misses, misses);
    EXPECT_TRUE(cache->MakeThumbnail(photos.qfile("missing.jpg"), kDefaultCell).missing());
    WriteFile(photos.file("text.jpg"), Bytes{'h', 'i'});
    EXPECT_TRUE(cache->MakeThumbnail(photos.qfile("text.jpg"), kDefaultCell).unreadable());
}

TEST_F(ThumbnailCacheTest, BackgroundWritesLandAfterFlush) {
    for (int i = 0; i < 5; ++i)
        WriteFile(photos.file("p" + std::to_string(i) + ".jpg"), MakeJpeg(800, 600));
    {
        ThumbnailCache cache(cacheDir.qfile("thumbnails"), ThumbnailCache::Writes::Background,
                             Settled());
        for (int i = 0; i < 5; ++i)
            cache.MakeThumbnail(photos.qfile(QStringLiteral("p%1.jpg").arg(i)), kDefaultCell);
        cache.Flush();
        EXPECT_EQ(cache.counts().written, 5);
    }
    EXPECT_EQ(CacheFiles().size(), 5);
}

TEST_F(ThumbnailCacheTest, ADeferredMissShowsTheOrdinaryThumbnailAndItsMasterFollows) {
    QStringList paths;
    for (int i = 0; i < 6; ++i) {
        paths << photos.qfile(QStringLiteral("p%1.jpg").arg(i));
        WriteFile(paths.back().toStdString(), MakeJpeg(1200 + 16 * i, 900));
    }
    const auto deferred = ThumbnailCache::Mastering::Deferred;
    {
        ThumbnailCache cache(cacheDir.qfile("thumbnails"), ThumbnailCache::Writes::Background,
                             Settled());
        for (const QString& path : paths) {
            const Thumbnail made = cache.MakeThumbnail(path, kDefaultCell, deferred);
            EXPECT_EQ(made.image, MakeThumbnailImage(path, kDefaultCell).image)
                << "a first load shows what it showed without a cache";
        }
        // Seen again before its master is made: never queued twice.
        cache.MakeThumbnail(paths[0], kDefaultCell, deferred);
        cache.Flush();
        EXPECT_EQ(cache.counts().deferred, 6);
        EXPECT_EQ(cache.counts().written, 6);
        const int hits = cache.counts().memoryHits;
        for (const QString& path : paths)
            EXPECT_TRUE(Upright(cache.MakeThumbnail(path, kDefaultCell, deferred).image));
        EXPECT_EQ(cache.counts().memoryHits, hits + 6);
    }
    EXPECT_EQ(CacheFiles().size(), 6);

    // Turned between the load and its master: the master is never filed under the key the load
    // saw, whichever comes first.
    ThumbnailCache cache(cacheDir.qfile("thumbnails"), ThumbnailCache::Writes::Background,
                         Settled());
    const QString turned = photos.qfile("turned.jpg");
    const Bytes original = MakeJpeg(1000, 750);
    WriteFile(turned.toStdString(), original);
    EXPECT_TRUE(Upright(cache.MakeThumbnail(turned, kDefaultCell, deferred).image));
    WriteFile(turned.toStdString(), Turned180(original));
    cache.Flush();
    EXPECT_FALSE(Upright(cache.MakeThumbnail(turned, kDefaultCell, deferred).image));
    cache.Flush();
    EXPECT_FALSE(Upright(
        ThumbnailCache(cacheDir.qfile("thumbnails"), ThumbnailCache::Writes::Inline, Settled())
            .MakeThumbnail(turned, kDefaultCell)
            .image));
}

TEST_F(ThumbnailCacheTest, ClosingWithMastersStillToMakeLeavesNoHalfWrittenFile) {
    QStringList paths;
    for (int i = 0; i < 12; ++i) {
        paths << photos.qfile(QStringLiteral("p%1.jpg").arg(i));
        WriteFile(paths.back().toStdString(), MakeJpeg(1600, 1200));
    }
    {
        ThumbnailCache cache(cacheDir.qfile("thumbnails"), ThumbnailCache::Writes::Background,
                             Settled());
        for (const QString& path : paths)
            cache.MakeThumbnail(path, kDefaultCell, ThumbnailCache::Mastering::Deferred);
    } // closed at once: the waiting masters are dropped, the one being made is finished
    EXPECT_LE(CacheFiles().size(), 12);
    EXPECT_EQ(QDir(cacheDir.qfile("thumbnails")).entryList(QDir::Hidden | QDir::Files).size(),
              CacheFiles().size())
        << "no temporary left";
    auto nextRun = NewCache();
    for (const QString& path : paths)
        EXPECT_TRUE(Upright(nextRun->MakeThumbnail(path, kDefaultCell).image));
}

TEST_F(ThumbnailCacheTest, DiskHitsFillOnlyFreeMemoryAndDecodeAtAHalvingScale) {
    QStringList paths;
    for (int i = 0; i < 5; ++i) {
        paths << photos.qfile(QStringLiteral("p%1.jpg").arg(i));
        WriteFile(paths.back().toStdString(), MakeJpeg(2048, 1536)); // masters of 512 x 384
    }
    const QString large12mp = photos.qfile("large.jpg");
    WriteFile(large12mp.toStdString(), MakeJpeg(4000, 3000)); // a master of 1000 x 750
    paths << large12mp;
    {
        auto filler = NewCache();
        for (const QString& path : paths)
            filler->MakeThumbnail(path, kDefaultCell);
    }
    CacheLimits limits = Settled();
    limits.memoryBytes = 3 * 512 * 384 * 3 + 1000; // three masters
    auto cache = NewCache(limits);
    const ThumbnailOptions large{512, 532, true, true}; // needs the whole master
    for (const QString& path :
         {paths[0], paths[1], paths[2], paths[3], paths[0], paths[1], paths[2], paths[3]})
        cache->MakeThumbnail(path, large);
    EXPECT_EQ(cache->counts().memoryHits, 3) << "the first three stayed, the fourth found no room";
    EXPECT_EQ(cache->counts().diskHits, 5);
    EXPECT_EQ(cache->counts().misses, 0);

    // The default cell (a 140 x 105 thumbnail) of a 1000 x 750 master: 1/2, not 3/8, which
    // would be large enough too but decodes more slowly.
    for (const QString& name : CacheFiles()) {
        const Bytes bytes = ReadFile(cacheDir.file("thumbnails/" + name.toStdString()));
        const QByteArray comment(reinterpret_cast<const char*>(bytes.data()) + 6,
                                 int(std::size_t(bytes[4]) << 8 | bytes[5]) - 2);
        if (!comment.contains("/large.jpg\n")) continue;
        const auto master = DecodeMasterFile(bytes, comment.split('\n')[1], &kDefaultCell);
        ASSERT_TRUE(master);
        EXPECT_EQ(master->image.size(), QSize(500, 375));
        return;
    }
    ADD_FAILURE() << "no cache file for large.jpg";
}

TEST_F(ThumbnailCacheTest, LoadsOnManyThreadsAndTheIdleCoresShareOneCache) {
    QStringList paths;
    for (int i = 0; i < 16; ++i) {
        paths << photos.qfile(QStringLiteral("p%1.jpg").arg(i, 2, 10, QChar('0')));
        WriteFile(paths.back().toStdString(), MakeJpeg(1024 + 8 * i, 768));
    }
    QThreadPool pool;
    pool.setMaxThreadCount(4);
    auto cache = std::make_shared<ThumbnailCache>(cacheDir.qfile("thumbnails"),
                                                  ThumbnailCache::Writes::Background, Settled());
    // A load, and a second one at another cell while the masters of the first are being made.
    for (const int cell : {150, 180}) {
        ThumbnailPipeline pipeline(paths, {cell, cell + 20, true, true}, cache, &pool);
        for (qsizetype i = 0; i < paths.size(); ++i)
            EXPECT_TRUE(Upright(pipeline.take(i).image)) << cell << " " << i;
    }
    cache->Flush();
    EXPECT_EQ(cache->counts().deferred, 16) << "each photo queued once";
    EXPECT_EQ(cache->counts().written, 16) << "each photo's master made and written once";
    EXPECT_EQ(CacheFiles().size(), 16);
    const int hits = cache->counts().memoryHits;
    ThumbnailPipeline pipeline(paths, {200, 220, true, true}, cache, &pool);
    for (qsizetype i = 0; i < paths.size(); ++i)
        EXPECT_EQ(pipeline.take(i).image.width(), 190);
    EXPECT_EQ(cache->counts().memoryHits, hits + 16);
}
