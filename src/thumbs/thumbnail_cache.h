// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "thumbs/cache_key.h"
#include "thumbs/disk_masters.h"
#include "thumbs/image_codec.h"
#include "thumbs/master_image.h"
#include "thumbs/memory_masters.h"
#include "thumbs/write_queue.h"

#include <QString>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace thumbs {

struct CacheLimits {
    std::int64_t memoryBytes = 128ll << 20;
    std::int64_t diskBytes = 256ll << 20;
    // Master pixels waiting for the disk writer; past this the thread that decoded a photo
    // writes its file itself.
    std::int64_t pendingBytes = 64ll << 20;
    // Photos waiting for their master to be made in the background; more wait for a later load.
    std::size_t deferredPhotos = 20'000;
    // A photo changed this shortly before it was read may change again within the same tick of
    // the file system's clock, unseen by its key: its master is checked against the photo's
    // bytes before it is used again, and reaches the disk only once that check has passed.
    std::int64_t racyNanoseconds = 2'000'000'000;
    // The clock a photo's age is told by: the one the file system stamps its changes with.
    std::function<struct timespec()> clock = ClockNow;
};

// Master images of photos, in memory for the run and as small JPEG files across runs. Every
// call is thread-safe: the makers of a load run on a thread pool.
class ThumbnailCache {
public:
    enum class Writes {
        Background, // threads that run only on idle cores write the files
        Inline,     // the thread that decoded a photo writes its file (a batch run)
    };
    // What a miss does about the photo's master.
    enum class Mastering {
        Now,      // decodes the photo at the master's scale and makes the thumbnail from it
        Deferred, // makes the thumbnail as without a cache; the master is made later on an idle
                  // core (with Writes::Background), so a first load takes no longer than before
    };
    // `folder` empty: memory only. A folder that cannot be made or written is not used.
    explicit ThumbnailCache(const QString& folder, Writes writes = Writes::Background,
                            CacheLimits limits = {});
    ~ThumbnailCache(); // stops the writer after the file it is writing
    ThumbnailCache(const ThumbnailCache&) = delete;
    ThumbnailCache& operator=(const ThumbnailCache&) = delete;

    // $XDG_CACHE_HOME/tulvex/thumbnails, by default ~/.cache/tulvex/thumbnails.
    static QString DefaultFolder();

    // The thumbnail of the photo, from its master when one is cached for the photo as it is now,
    // else made from the photo (whose master is then cached). Options a master cannot serve
    // (low quality, large cells) go straight to the ordinary maker.
    Thumbnail MakeThumbnail(const QString& path, const ThumbnailOptions& options,
                            Mastering mastering = Mastering::Now);

    // The program has just set the photo's times itself (which moves only its status-change
    // time): the master cached for it still shows it. A master kept while the photo was racy
    // is still checked against the photo's bytes before it is used.
    void AdoptOwnTimesChange(const QString& path);

    // Blocks until every deferred master is made and every waiting file is written.
    void Flush();
    // No master waits to be made or written.
    bool Idle() const;

    bool diskEnabled() const { return m_disk.enabled(); }
    // Why the disk level is off although a folder was given; ok otherwise.
    const platform::Result& diskResult() const { return m_disk.folderResult(); }
    const std::string& folder() const { return m_disk.folder(); }
    std::int64_t memoryBytes() const;
    std::int64_t memoryPeakBytes() const;
    std::int64_t diskBytes() const;
    struct Counts {
        // A miss is a thumbnail made from the photo; `deferred` counts photos queued for the
        // idle cores.
        int memoryHits = 0, diskHits = 0, misses = 0, written = 0, deferred = 0;
    };
    Counts counts() const;

private:
    std::optional<MasterImage> FromMemory(const CacheKey& key);
    std::optional<MasterImage> FromDisk(const CacheKey& key, const ThumbnailOptions& options);
    // `queueWrite` false: this thread writes the file (it is a background one already).
    std::optional<MasterImage> MasterFromPhoto(const CacheKey& key, const struct timespec& seen,
                                               bool queueWrite);
    void MakeDeferredMaster(const CacheKey& key);
    bool IsRacy(const CacheKey& key, const struct timespec& seen) const;
    void QueueWrite(const CacheKey& key, const MasterImage& master);

    Writes m_writes;
    CacheLimits m_limits;
    std::atomic<int> m_misses = 0;
    MemoryMasters m_memory;
    DiskMasters m_disk;
    WriteQueue m_queue; // last: its writers use the others until it stops
};

// The cache of the user's cache folder, or none when TULVEX_THUMBNAIL_CACHE is "off" (for
// measuring loads without it).
std::shared_ptr<ThumbnailCache> OpenDefaultCache(ThumbnailCache::Writes writes);

} // namespace thumbs
