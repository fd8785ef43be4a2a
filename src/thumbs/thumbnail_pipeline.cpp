// SPDX-License-Identifier: GPL-3.0-or-later
#include "thumbs/thumbnail_pipeline.h"

#include "thumbs/thumbnail_cache.h"

#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>

namespace thumbs {

ThumbnailPipeline::ThumbnailPipeline(QStringList paths, ThumbnailOptions options,
                                     std::shared_ptr<ThumbnailCache> cache, QThreadPool* pool)
    : m_paths(std::move(paths)), m_options(options), m_cache(std::move(cache)),
      m_pool(pool ? pool : QThreadPool::globalInstance()),
      // Enough to keep every worker busy; few enough that a cancelled load wastes little.
      m_ahead(2 * std::max(1, m_pool->maxThreadCount())) {
    m_futures.reserve(std::size_t(m_paths.size()));
}

ThumbnailPipeline::~ThumbnailPipeline() {
    // Work not yet started is withdrawn; running work finishes and its result is dropped.
    for (QFuture<Thumbnail>& f : m_futures)
        f.cancel();
}

QFuture<Thumbnail> ThumbnailPipeline::request(qsizetype i) {
    const qsizetype until = std::min(m_paths.size(), i + 1 + m_ahead);
    while (qsizetype(m_futures.size()) < until) {
        const QString path = m_paths[qsizetype(m_futures.size())];
        m_futures.push_back(QtConcurrent::run(m_pool, [path, options = m_options, cache = m_cache] {
            return cache ? cache->MakeThumbnail(path, options, ThumbnailCache::Mastering::Deferred)
                         : MakeThumbnailImage(path, options);
        }));
    }
    return m_futures[std::size_t(i)];
}

Thumbnail ThumbnailPipeline::take(qsizetype i) {
    QFuture<Thumbnail> f = request(i);
    Thumbnail result = f.result();
    m_futures[std::size_t(i)] = QFuture<Thumbnail>(); // the image now belongs to the caller
    return result;
}

} // namespace thumbs
