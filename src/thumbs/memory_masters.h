// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "thumbs/cache_key.h"
#include "thumbs/master_image.h"

#include <QString>

#include <cstddef>
#include <cstdint>
#include <list>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <utility>

namespace thumbs {

// The masters of the run in memory, least recently used out first, one per photo path. Every
// call is thread-safe.
class MemoryMasters {
public:
    explicit MemoryMasters(std::int64_t limitBytes) : m_limitBytes(limitBytes) {}

    struct Found {
        MasterImage master;
        // Of the photo's bytes, while the key alone may not tell: the caller checks them before
        // the master counts as a hit (Settle).
        std::optional<std::size_t> racyHash;
    };
    // The master kept for the photo as `key` describes it. One kept for an older state of the
    // photo is dropped. A hit counts unless the entry is racy.
    std::optional<Found> Find(const CacheKey& key);
    // A racy entry's bytes matched: counts the hit, and once `settled` the key alone tells.
    void Settle(const CacheKey& key, bool settled);
    bool Holds(const CacheKey& key) const;

    enum class Eviction { LeastRecentlyUsed, Never };
    // Keeps `master` for the photo in place of any older one; a null master only drops it.
    void Remember(const CacheKey& key, const MasterImage& master,
                  std::optional<std::size_t> racyHash,
                  Eviction eviction = Eviction::LeastRecentlyUsed);

    // Moves the entry of the photo at `path` to its key as it is now when only its status-change
    // time moved; returns the old and the new key then.
    std::optional<std::pair<CacheKey, CacheKey>> AdoptOwnTimesChange(const QString& path);

    std::int64_t bytes() const;
    std::int64_t peakBytes() const;
    int hits() const;

private:
    struct Entry {
        CacheKey key;
        MasterImage master;
        std::optional<std::size_t> racyHash;
    };
    void DropLocked(std::unordered_map<QString, std::list<Entry>::iterator>::iterator found);

    const std::int64_t m_limitBytes;
    mutable std::mutex m_mutex;
    std::list<Entry> m_lru; // most recently used first
    std::unordered_map<QString, std::list<Entry>::iterator> m_byPath;
    std::int64_t m_bytes = 0;
    std::int64_t m_peak = 0;
    int m_hits = 0;
};

} // namespace thumbs
