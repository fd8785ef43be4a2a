// SPDX-License-Identifier: GPL-3.0-or-later
#include "thumbs/write_queue.h"

#include <QThread>

#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <sys/resource.h>

namespace thumbs {
namespace {

// Cache work takes only what a load leaves over: under SCHED_IDLE it runs when a core would
// otherwise idle. Where that policy is refused, the lowest nice value comes close.
void RunOnlyOnIdleCores() {
    const sched_param param{};
    if (::sched_setscheduler(0, SCHED_IDLE, &param) != 0)
        ::setpriority(PRIO_PROCESS, ::gettid(), 19);
}

} // namespace

WriteQueue::WriteQueue(bool background, std::int64_t pendingBytes, std::size_t deferredPhotos,
                       Handlers handlers)
    : m_background(background), m_pendingLimit(pendingBytes), m_deferredLimit(deferredPhotos),
      m_handlers(std::move(handlers)) {
    m_writer.setMaxThreadCount(background ? QThread::idealThreadCount() : 1);
}

WriteQueue::~WriteQueue() {
    Stop();
}

void WriteQueue::Stop() {
    {
        const std::lock_guard lock(m_mutex);
        m_stopping = true;
        m_pending.clear();
        m_pendingBytes = 0;
        m_deferred.clear();
    }
    m_writer.waitForDone();
}

WriteQueue::Queued WriteQueue::QueueWrite(const CacheKey& key, const MasterImage& master) {
    const std::int64_t bytes = master.image.sizeInBytes();
    const std::lock_guard lock(m_mutex);
    if (m_stopping) return Queued::Stopped;
    if (!m_background || m_pendingBytes + bytes > m_pendingLimit) return Queued::Full;
    m_pendingBytes += bytes;
    m_pending.push_back({key, master});
    StartWritersLocked();
    return Queued::Yes;
}

void WriteQueue::Defer(const CacheKey& key, const std::function<bool()>& alreadyMade) {
    const std::lock_guard lock(m_mutex);
    // Made while this thread decoded the photo: a master is kept before its job is let go.
    if (alreadyMade()) return;
    if (m_stopping || m_deferred.size() >= m_deferredLimit || !m_deferred.insert(key.path).second)
        return; // already waiting, or left for a later load
    ++m_deferredCount;
    m_pending.push_back({key, std::nullopt});
    StartWritersLocked();
}

void WriteQueue::DoneDeferred(const CacheKey& key) {
    const std::lock_guard lock(m_mutex);
    m_deferred.erase(key.path);
}

void WriteQueue::Rekey(const CacheKey& from, const CacheKey& to) {
    const std::lock_guard lock(m_mutex);
    for (Job& job : m_pending)
        if (job.key == from) job.key = to;
}

void WriteQueue::StartWritersLocked() {
    const int wanted = std::min(m_writer.maxThreadCount(), int(m_pending.size()));
    for (; m_draining < wanted; ++m_draining)
        m_writer.start([this] { DrainWrites(); });
}

void WriteQueue::DrainWrites() {
    RunOnlyOnIdleCores();
    while (RunNextJob(true)) {
    }
}

bool WriteQueue::RunNextJob(bool asWriter) {
    Job job;
    {
        const std::lock_guard lock(m_mutex);
        if (m_pending.empty() || m_stopping) {
            // Under the same lock as the look at the queue: a job queued after it starts a writer.
            if (asWriter && --m_draining == 0) m_drained.notify_all();
            return false;
        }
        job = std::move(m_pending.front());
        m_pending.pop_front();
        if (job.master) m_pendingBytes -= job.master->image.sizeInBytes();
    }
    if (job.master)
        m_handlers.write(job.key, *job.master);
    else
        m_handlers.make(job.key);
    return true;
}

void WriteQueue::Flush() {
    // Whoever waits works too, at its own priority: on a busy machine the idle-core threads
    // might not get to run for a long time.
    while (RunNextJob(false)) {
    }
    {
        std::unique_lock lock(m_mutex);
        m_drained.wait(lock, [this] { return m_draining == 0; });
    }
    m_writer.waitForDone();
}

bool WriteQueue::Idle() const {
    const std::lock_guard lock(m_mutex);
    return m_pending.empty() && m_draining == 0;
}

int WriteQueue::deferred() const {
    const std::lock_guard lock(m_mutex);
    return m_deferredCount;
}

} // namespace thumbs
