// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "thumbs/cache_key.h"
#include "thumbs/image_codec.h"
#include "thumbs/master_image.h"

#include <QString>

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

namespace thumbs {

// The masters kept across runs: one small JPEG file per photo in a private folder, the least
// recently used pruned once the folder outgrows its bound. Every call is thread-safe.
class DiskMasters {
public:
    // `folder` empty: no disk level. A folder that cannot be made or written is not used.
    DiskMasters(const QString& folder, std::int64_t limitBytes);

    bool enabled() const { return !m_folder.empty(); }
    const std::string& folder() const { return m_folder; }

    // The master stored for `key`, marked as used; nullopt when there is none or it is not
    // the photo's as `key` describes it.
    std::optional<MasterImage> Read(const CacheKey& key, const ThumbnailOptions& options);
    // Stores the master for `key` in place of any older one, pruning when over the bound.
    void Write(const CacheKey& key, const MasterImage& master);
    // A master served from memory: its file is pruned last too.
    void MarkUsed(const CacheKey& key);

    std::int64_t bytes() const; // -1 until the folder was first looked at
    int hits() const;
    int written() const;

private:
    void Prune();
    std::string FileOf(const CacheKey& key) const;

    const std::string m_folder; // empty when the disk level is off
    const std::int64_t m_limitBytes;
    mutable std::mutex m_mutex;
    std::int64_t m_bytes = -1; // unknown until the writer first looks
    int m_hits = 0, m_written = 0;
};

} // namespace thumbs
