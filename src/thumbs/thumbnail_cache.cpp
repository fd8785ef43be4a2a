// SPDX-License-Identifier: GPL-3.0-or-later
#include "thumbs/thumbnail_cache.h"

#include <vector>

#include "platform/file_io.h"
#include "platform/xdg_dirs.h"

namespace thumbs {
namespace {

std::vector<std::uint8_t> ReadPhoto(const QString& path) {
    std::vector<std::uint8_t> bytes;
    if (!platform::ReadFileBytes(NativePath(path), bytes, std::uint64_t(kMaxFileBytes)).ok())
        bytes.clear();
    return bytes;
}

std::size_t HashBytes(std::span<const std::uint8_t> bytes) {
    return std::hash<std::string_view>()(
        std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

} // namespace

ThumbnailCache::ThumbnailCache(const QString& folder, Writes writes, CacheLimits limits)
    : m_writes(writes), m_limits(limits), m_memory(limits.memoryBytes),
      m_disk(folder, limits.diskBytes),
      m_queue(
          writes == Writes::Background, limits.pendingBytes, limits.deferredPhotos,
          {[this](const CacheKey& key, const MasterImage& master) { m_disk.Write(key, master); },
           [this](const CacheKey& key) { MakeDeferredMaster(key); }}) {}

ThumbnailCache::~ThumbnailCache() {
    m_queue.Stop();
}

QString ThumbnailCache::DefaultFolder() {
    return platform::XdgBaseDir("XDG_CACHE_HOME", QStringLiteral(".cache")) +
           QStringLiteral("/tulvex/thumbnails");
}

Thumbnail ThumbnailCache::MakeThumbnail(const QString& path, const ThumbnailOptions& options,
                                        Mastering mastering) {
    if (!MasterServes(options)) return MakeThumbnailImage(path, options);
    const struct timespec seen = m_limits.clock();
    const std::optional<CacheKey> key =
        ReadCacheKey(path, options.highQuality, MasterSideFor(options));
    if (!key) return MakeThumbnailImage(path, options); // gone, or a folder: the ordinary answer
    if (const std::optional<MasterImage> master = FromMemory(*key)) {
        m_disk.MarkUsed(*key); // pruned last on disk too
        return ThumbnailFromMaster(*master, options);
    }
    if (const std::optional<MasterImage> master = FromDisk(*key, options))
        return ThumbnailFromMaster(*master, options);

    if (mastering == Mastering::Deferred && m_writes == Writes::Background) {
        Thumbnail made = MakeThumbnailImage(path, options);
        if (made.made()) {
            ++m_misses;
            m_queue.Defer(*key, [&] { return m_memory.Holds(*key); });
        }
        return made;
    }
    if (const std::optional<MasterImage> master = MasterFromPhoto(*key, seen, true)) {
        ++m_misses;
        return ThumbnailFromMaster(*master, options);
    }
    return MakeThumbnailImage(path, options); // another format, or unreadable
}

std::optional<MasterImage>
ThumbnailCache::MasterFromPhoto(const CacheKey& key, const struct timespec& seen, bool queueWrite) {
    // Read after the key was taken: a change in between gives the photo a key never seen here.
    const std::vector<std::uint8_t> bytes = ReadPhoto(key.path);
    std::optional<MasterImage> master =
        bytes.empty() ? std::nullopt : DecodeMaster(bytes, key.masterSide);
    if (!master) return std::nullopt;
    if (IsRacy(key, seen)) {
        m_memory.Remember(key, *master, HashBytes(bytes));
    } else {
        m_memory.Remember(key, *master, std::nullopt);
        if (queueWrite)
            QueueWrite(key, *master);
        else
            m_disk.Write(key, *master);
    }
    return master;
}

void ThumbnailCache::MakeDeferredMaster(const CacheKey& key) {
    const struct timespec seen = m_limits.clock();
    // Made only for the photo the load saw: one changed since is left for the next load.
    const std::optional<CacheKey> now = ReadCacheKey(key.path, key.highQuality, key.masterSide);
    const bool cached = m_memory.Holds(key); // made or read back since by another load
    if (now && *now == key && !cached) MasterFromPhoto(key, seen, false);
    m_queue.DoneDeferred(key);
}

bool ThumbnailCache::IsRacy(const CacheKey& key, const struct timespec& seen) const {
    const std::int64_t age =
        (std::int64_t(seen.tv_sec) - key.ctimeSec) * 1'000'000'000 + (seen.tv_nsec - key.ctimeNsec);
    return age < m_limits.racyNanoseconds;
}

std::optional<MasterImage> ThumbnailCache::FromMemory(const CacheKey& key) {
    const std::optional<MemoryMasters::Found> found = m_memory.Find(key);
    if (!found) return std::nullopt;
    if (!found->racyHash) return found->master;
    const struct timespec seen = m_limits.clock();
    if (HashBytes(ReadPhoto(key.path)) != *found->racyHash) {
        m_memory.Remember(key, {}, std::nullopt); // drops the entry
        return std::nullopt;
    }
    const bool settled = !IsRacy(key, seen);
    m_memory.Settle(key, settled);
    // Read once the tick of its last change had passed: the bytes checked are the photo's for good.
    if (settled) QueueWrite(key, found->master);
    return found->master;
}

std::optional<MasterImage> ThumbnailCache::FromDisk(const CacheKey& key,
                                                    const ThumbnailOptions& options) {
    std::optional<MasterImage> master = m_disk.Read(key, options);
    if (!master) return std::nullopt;
    // Kept only where there is room: a load that reads a large folder from the disk would
    // otherwise push out, one by one, the masters it is about to need.
    if (master->image.size() == MasterSize(master->photoWidth, master->photoHeight, key.masterSide))
        m_memory.Remember(key, *master, std::nullopt, MemoryMasters::Eviction::Never);
    return master;
}

void ThumbnailCache::AdoptOwnTimesChange(const QString& path) {
    if (const auto moved = m_memory.AdoptOwnTimesChange(path))
        m_queue.Rekey(moved->first, moved->second);
}

void ThumbnailCache::QueueWrite(const CacheKey& key, const MasterImage& master) {
    if (!diskEnabled()) return;
    // The writer is behind (or there is none): this thread writes, which bounds what waits.
    if (m_queue.QueueWrite(key, master) == WriteQueue::Queued::Full) m_disk.Write(key, master);
}

void ThumbnailCache::Flush() {
    m_queue.Flush();
}

bool ThumbnailCache::Idle() const {
    return m_queue.Idle();
}

std::int64_t ThumbnailCache::memoryBytes() const {
    return m_memory.bytes();
}

std::int64_t ThumbnailCache::memoryPeakBytes() const {
    return m_memory.peakBytes();
}

std::int64_t ThumbnailCache::diskBytes() const {
    return m_disk.bytes();
}

ThumbnailCache::Counts ThumbnailCache::counts() const {
    Counts counts;
    counts.memoryHits = m_memory.hits();
    counts.diskHits = m_disk.hits();
    counts.misses = m_misses;
    counts.written = m_disk.written();
    counts.deferred = m_queue.deferred();
    return counts;
}

std::shared_ptr<ThumbnailCache> OpenDefaultCache(ThumbnailCache::Writes writes) {
    if (qEnvironmentVariable("TULVEX_THUMBNAIL_CACHE") == QStringLiteral("off")) return nullptr;
    return std::make_shared<ThumbnailCache>(ThumbnailCache::DefaultFolder(), writes);
}

} // namespace thumbs
