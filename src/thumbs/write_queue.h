// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "thumbs/cache_key.h"
#include "thumbs/master_image.h"

#include <QString>
#include <QThreadPool>

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <unordered_set>

namespace thumbs {

// The masters waiting to be written, and the photos whose masters wait to be made, worked off
// by threads that run only on idle cores. Every call is thread-safe.
class WriteQueue {
public:
    struct Handlers {
        std::function<void(const CacheKey&, const MasterImage&)> write;
        std::function<void(const CacheKey&)> make; // a deferred photo's master
    };
    // Not `background`: nothing is queued, every write is the caller's.
    WriteQueue(bool background, std::int64_t pendingBytes, std::size_t deferredPhotos,
               Handlers handlers);
    ~WriteQueue(); // Stop()
    WriteQueue(const WriteQueue&) = delete;
    WriteQueue& operator=(const WriteQueue&) = delete;

    enum class Queued {
        Yes,
        Full,    // over the bound of waiting bytes, or no writer: the caller writes it
        Stopped, // the cache is going away: the master is not written
    };
    Queued QueueWrite(const CacheKey& key, const MasterImage& master);
    // Queues the photo for its master, unless `alreadyMade` (asked under the queue's lock, so
    // that a master made meanwhile is seen), it already waits or too many wait.
    void Defer(const CacheKey& key, const std::function<bool()>& alreadyMade);
    // A deferred photo's master was made or given up: the photo may be deferred again.
    void DoneDeferred(const CacheKey& key);
    // The photo's status-change time moved by the program's own hand.
    void Rekey(const CacheKey& from, const CacheKey& to);

    void Flush();
    bool Idle() const;
    // Drops what waits and waits for the file being written.
    void Stop();
    int deferred() const;

private:
    // A master to write, or (none yet) a photo whose master is to be made first.
    struct Job {
        CacheKey key;
        std::optional<MasterImage> master;
    };
    void StartWritersLocked();
    void DrainWrites();
    // False when there is none; a writer thread (`asWriter`) then retires.
    bool RunNextJob(bool asWriter);

    const bool m_background;
    const std::int64_t m_pendingLimit;
    const std::size_t m_deferredLimit;
    const Handlers m_handlers;
    mutable std::mutex m_mutex;
    std::deque<Job> m_pending;
    std::int64_t m_pendingBytes = 0;
    std::unordered_set<QString> m_deferred; // paths of jobs without a master, queued or running
    int m_deferredCount = 0;
    int m_draining = 0; // writer threads at work
    bool m_stopping = false;
    std::condition_variable m_drained;
    QThreadPool m_writer;
};

} // namespace thumbs
