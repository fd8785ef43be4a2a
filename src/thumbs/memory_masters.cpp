// SPDX-License-Identifier: GPL-3.0-or-later
#include "thumbs/memory_masters.h"

#include <QFileInfo>

#include <algorithm>

namespace thumbs {

void MemoryMasters::DropLocked(
    std::unordered_map<QString, std::list<Entry>::iterator>::iterator found) {
    m_bytes -= found->second->master.image.sizeInBytes();
    m_lru.erase(found->second);
    m_byPath.erase(found);
}

std::optional<MemoryMasters::Found> MemoryMasters::Find(const CacheKey& key) {
    const std::lock_guard lock(m_mutex);
    const auto found = m_byPath.find(key.path);
    if (found == m_byPath.end()) return std::nullopt;
    const auto entry = found->second;
    if (!(entry->key == key)) { // the photo changed: its old master is of no use any more
        DropLocked(found);
        return std::nullopt;
    }
    m_lru.splice(m_lru.begin(), m_lru, entry);
    if (!entry->racyHash) ++m_hits;
    return Found{entry->master, entry->racyHash};
}

void MemoryMasters::Settle(const CacheKey& key, bool settled) {
    const std::lock_guard lock(m_mutex);
    ++m_hits;
    const auto found = m_byPath.find(key.path);
    if (settled && found != m_byPath.end() && found->second->key == key)
        found->second->racyHash.reset();
}

bool MemoryMasters::Holds(const CacheKey& key) const {
    const std::lock_guard lock(m_mutex);
    const auto found = m_byPath.find(key.path);
    return found != m_byPath.end() && found->second->key == key;
}

void MemoryMasters::Remember(const CacheKey& key, const MasterImage& master,
                             std::optional<std::size_t> racyHash, Eviction eviction) {
    const std::int64_t bytes = master.image.sizeInBytes();
    const std::lock_guard lock(m_mutex);
    if (const auto found = m_byPath.find(key.path); found != m_byPath.end()) DropLocked(found);
    if (master.image.isNull() || bytes > m_limitBytes) return;
    if (eviction == Eviction::Never && m_bytes + bytes > m_limitBytes) return;
    while (!m_lru.empty() && m_bytes + bytes > m_limitBytes) {
        m_bytes -= m_lru.back().master.image.sizeInBytes();
        m_byPath.erase(m_lru.back().key.path);
        m_lru.pop_back();
    }
    m_lru.push_front({key, master, racyHash});
    m_byPath[key.path] = m_lru.begin();
    m_bytes += bytes;
    m_peak = std::max(m_peak, m_bytes);
}

std::optional<std::pair<CacheKey, CacheKey>>
MemoryMasters::AdoptOwnTimesChange(const QString& path) {
    const std::lock_guard lock(m_mutex);
    const auto found = m_byPath.find(QFileInfo(path).absoluteFilePath());
    if (found == m_byPath.end()) return std::nullopt;
    CacheKey& cached = found->second->key;
    const std::optional<CacheKey> now =
        ReadCacheKey(cached.path, cached.highQuality, cached.masterSide);
    if (!now) return std::nullopt;
    CacheKey ctimeAside = *now;
    ctimeAside.ctimeSec = cached.ctimeSec;
    ctimeAside.ctimeNsec = cached.ctimeNsec;
    if (ctimeAside != cached)
        return std::nullopt; // more than the status-change time moved: a real change
    std::pair<CacheKey, CacheKey> moved{cached, *now};
    cached = *now;
    return moved;
}

std::int64_t MemoryMasters::bytes() const {
    const std::lock_guard lock(m_mutex);
    return m_bytes;
}

std::int64_t MemoryMasters::peakBytes() const {
    const std::lock_guard lock(m_mutex);
    return m_peak;
}

int MemoryMasters::hits() const {
    const std::lock_guard lock(m_mutex);
    return m_hits;
}

} // namespace thumbs
