// SPDX-License-Identifier: GPL-3.0-or-later
// Drives the real window offscreen through a first load and the reload after a resize, and
// compares thumbnails from the cache with those made from the photos. One run per process:
//   tulvex_cache_bench window FOLDER   (the cache folder from XDG_CACHE_HOME as in the program)
//   tulvex_cache_bench psnr FOLDER [DENSITY]  (every photo at the default cell, cache in a
//                                              temporary; DENSITY device pixels a logical one)
// Prints key=value lines for bench/cache.sh.
#include "collection/scan.h"
#include "thumbs/image_codec.h"
#include "thumbs/thumbnail_cache.h"
#include "ui/draw_grid.h"
#include "ui/main_window.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <memory>

#include "platform/allocator.h"

namespace {

long StatusKb(const char* field) {
    QFile status("/proc/self/status");
    if (!status.open(QIODevice::ReadOnly)) return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(int(std::strlen(field))).trimmed().split(' ')[0].toLong();
    return -1;
}

double Seconds(const QElapsedTimer& timer) {
    return double(timer.nsecsElapsed()) / 1e9;
}

int RunWindow(const QString& folder) {
    auto window = std::make_unique<TFormTulvex>();
    const auto* grid = window->findChild<TDrawGrid*>(QStringLiteral("DrawGrid"));
    if (!grid) return 1;
    window->show();
    // The start-up load (of an empty folder, from the settings the script wrote) first.
    for (int i = 0; i < 500 && window->loadsFinished() < 1; ++i) {
        QApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(10);
    }
    QElapsedTimer timer;
    timer.start();
    window->LoadFolder(folder);
    const double first = Seconds(timer);
    const std::size_t count = window->thumbList().size();
    qint64 thumbBytes = 0;
    for (const ThumbEntry& e : window->thumbList())
        thumbBytes += e.thumbnail.sizeInBytes();
    const int firstCell = grid->DefaultColWidth();

    // The masters the load left for idle cores, made before the resize as they would be while
    // the user looks at the grid (unless the resize is to come at once).
    double background = 0;
    const bool resizeAtOnce = qEnvironmentVariableIsSet("TULVEX_BENCH_RESIZE_AT_ONCE");
    if (const auto& cache = window->thumbnailCache(); cache && !resizeAtOnce) {
        timer.restart();
        while (!cache->Idle()) // as the user would: without lending the idle cores a hand
            QThread::msleep(1);
        background = Seconds(timer);
    }

    // A resize: the window reloads once the size has been still for a moment (FormResize with
    // a sender, from its settle timer). Timed from that reload's start to its end.
    window->resize(1024, 720);
    const int finished = window->loadsFinished();
    double reload = -1;
    timer.restart();
    while (reload < 0 && timer.elapsed() < 600'000) {
        QElapsedTimer step;
        step.start();
        QApplication::processEvents(QEventLoop::AllEvents, 5);
        if (window->loadsFinished() != finished)
            reload = Seconds(step);
        else
            QThread::msleep(1);
    }
    const int secondCell = grid->DefaultColWidth();

    std::printf("photos=%zu\nfirst_load_s=%.4f\nbackground_s=%.4f\nreload_s=%.4f\ncells=%d,%d\n",
                count, first, background, reload, firstCell, secondCell);
    std::printf("thumb_bytes_avg=%lld\n", count ? (long long)(thumbBytes / qint64(count)) : 0ll);
    if (const auto& cache = window->thumbnailCache()) {
        const auto counts = cache->counts();
        std::printf("cache_disk=%d\ncache_memory_bytes=%lld\ncache_memory_peak_bytes=%lld\n",
                    int(cache->diskEnabled()), (long long)cache->memoryBytes(),
                    (long long)cache->memoryPeakBytes());
        std::printf("memory_hits=%d\ndisk_hits=%d\nmisses=%d\n", counts.memoryHits, counts.diskHits,
                    counts.misses);
        timer.restart();
        cache->Flush();
        std::printf("flush_s=%.4f\nwritten=%d\ncache_disk_bytes=%lld\n", Seconds(timer),
                    cache->counts().written, (long long)cache->diskBytes());
    }
    std::printf("rss_peak_kb=%ld\n", StatusKb("VmHWM:"));
    return count ? 0 : 1;
}

double Psnr(const QImage& a, const QImage& b) {
    if (a.size() != b.size()) return 0;
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

struct MinMean {
    double min = std::numeric_limits<double>::max(), sum = 0;
    int count = 0;
    void Add(double v) {
        min = std::min(min, v);
        sum += v;
        ++count;
    }
    double mean() const { return count ? sum / count : 0; }
};

// The weight of source pixel i (0 .. from - 1) in target pixel j of `to`, each target pixel
// covering from / to source pixels.
double Overlap(int i, int j, int from, int to) {
    const double step = double(from) / to;
    return std::max(0.0, std::min(i + 1.0, (j + 1) * step) - std::max(double(i), j * step));
}

// Exact area averaging: every target pixel is the mean of the source area it covers.
QImage AreaAverage(const QImage& source, QSize size) {
    const QImage in = source.convertToFormat(QImage::Format_RGB888);
    QImage out(size, QImage::Format_RGB888);
    const double sx = double(in.width()) / size.width(), sy = double(in.height()) / size.height();
    for (int y = 0; y < size.height(); ++y) {
        const int y0 = int(y * sy), y1 = std::min(in.height(), int(std::ceil((y + 1) * sy)));
        uchar* line = out.scanLine(y);
        for (int x = 0; x < size.width(); ++x) {
            const int x0 = int(x * sx), x1 = std::min(in.width(), int(std::ceil((x + 1) * sx)));
            double sum[3] = {}, weight = 0;
            for (int v = y0; v < y1; ++v) {
                const double wy = Overlap(v, y, in.height(), size.height());
                const uchar* row = in.constScanLine(v);
                for (int u = x0; u < x1; ++u) {
                    const double w = wy * Overlap(u, x, in.width(), size.width());
                    for (int c = 0; c < 3; ++c)
                        sum[c] += w * row[3 * u + c];
                    weight += w;
                }
            }
            for (int c = 0; c < 3; ++c)
                line[3 * x + c] = uchar(std::lround(sum[c] / weight));
        }
    }
    return out;
}

QImage TruthOf(const QString& path, QSize size) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    const QByteArray bytes = file.readAll();
    const QImage whole =
        thumbs::DecodeJpeg(std::span(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                                     std::size_t(bytes.size())),
                           {}, false);
    return whole.isNull() ? whole : AreaAverage(whole, size);
}

int RunPsnr(const QString& folder, double density) {
    QStringList paths;
    collection::ScanFolder(folder, false, paths);
    QTemporaryDir cacheDir;
    const thumbs::ThumbnailOptions cell{150, 170, true, true, density}; // the default cell
    std::printf("psnr_density=%.2f\n", density);
    double minMemory = std::numeric_limits<double>::max(), minDisk = minMemory, minHit = minMemory;
    double sumMemory = 0, sumDisk = 0, sumHit = 0;
    MinMean truthOrdinary, truthMemory, truthDisk;
    {
        thumbs::ThumbnailCache made(cacheDir.path(), thumbs::ThumbnailCache::Writes::Inline);
        thumbs::ThumbnailCache nextRun(cacheDir.path(), thumbs::ThumbnailCache::Writes::Inline);
        for (const QString& path : paths) {
            const QImage direct = thumbs::MakeThumbnailImage(path, cell).image;
            const QImage firstLoad = made.MakeThumbnail(path, cell).image;
            const QImage diskHit = nextRun.MakeThumbnail(path, cell).image;
            const double fromMaster = Psnr(firstLoad, direct);
            const double fromDisk = Psnr(diskHit, direct);
            const double hitVsMiss = Psnr(diskHit, firstLoad);
            // The photo decoded whole and averaged down: what every thumbnail tries to be.
            const QImage truth = TruthOf(path, direct.size());
            if (&path == &paths.front())
                std::printf("psnr_first_thumbnail=%dx%d\n", direct.width(), direct.height());
            truthOrdinary.Add(Psnr(direct, truth));
            truthMemory.Add(Psnr(firstLoad, truth));
            truthDisk.Add(Psnr(diskHit, truth));
            minHit = std::min(minHit, hitVsMiss);
            sumHit += hitVsMiss;
            minMemory = std::min(minMemory, fromMaster);
            minDisk = std::min(minDisk, fromDisk);
            sumMemory += fromMaster;
            sumDisk += fromDisk;
        }
        if (nextRun.counts().diskHits != int(paths.size()))
            std::fprintf(stderr, "psnr: not every photo came from disk\n");
    }
    const double n = std::max<double>(1, double(paths.size()));
    std::printf("psnr_photos=%lld\npsnr_master_min_db=%.2f\npsnr_master_mean_db=%.2f\n",
                (long long)paths.size(), minMemory, sumMemory / n);
    std::printf("psnr_disk_min_db=%.2f\npsnr_disk_mean_db=%.2f\n", minDisk, sumDisk / n);
    std::printf("psnr_hit_vs_miss_min_db=%.2f\npsnr_hit_vs_miss_mean_db=%.2f\n", minHit,
                sumHit / n);
    std::printf("truth_ordinary_min_db=%.2f\ntruth_ordinary_mean_db=%.2f\n", truthOrdinary.min,
                truthOrdinary.mean());
    std::printf("truth_memory_min_db=%.2f\ntruth_memory_mean_db=%.2f\n", truthMemory.min,
                truthMemory.mean());
    std::printf("truth_disk_min_db=%.2f\ntruth_disk_mean_db=%.2f\n", truthDisk.min,
                truthDisk.mean());
    return 0;
}

} // namespace

int main(int argc, char* argv[]) {
    platform::KeepImageBuffersMapped();
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    app.setApplicationName("Tulvex");
    const QStringList args = app.arguments();
    if (args.size() != 3 && !(args.size() == 4 && args[1] == "psnr")) {
        std::fprintf(stderr, "usage: tulvex_cache_bench window FOLDER | psnr FOLDER [DENSITY]\n");
        return 2;
    }
    if (args[1] == "window") return RunWindow(args[2]);
    if (args[1] == "psnr") return RunPsnr(args[2], args.size() == 4 ? args[3].toDouble() : 1.0);
    return 2;
}
