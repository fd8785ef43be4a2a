// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "thumbs/image_codec.h"

#include <QFuture>
#include <QStringList>

#include <memory>
#include <vector>

class QThreadPool;

namespace thumbs {

class ThumbnailCache;

// Makes the thumbnails of a list of photos on a thread pool, a bounded number ahead of the
// consumer, who takes them in list order. Workers only produce QImages. Results that are never
// taken (a cancelled or superseded load) are dropped with the pipeline. With a cache, the
// workers take unchanged photos from it, and leave the masters of the others for idle cores.
class ThumbnailPipeline {
public:
    ThumbnailPipeline(QStringList paths, ThumbnailOptions options,
                      std::shared_ptr<ThumbnailCache> cache = nullptr, QThreadPool* pool = nullptr);
    ~ThumbnailPipeline();
    ThumbnailPipeline(const ThumbnailPipeline&) = delete;
    ThumbnailPipeline& operator=(const ThumbnailPipeline&) = delete;

    // Starts the work for photo i and the next few; the future of photo i.
    QFuture<Thumbnail> request(qsizetype i);
    // Blocks until photo i is made (for callers without an event loop).
    Thumbnail take(qsizetype i);

private:
    QStringList m_paths;
    ThumbnailOptions m_options;
    std::shared_ptr<ThumbnailCache> m_cache; // shared with workers that outlive the pipeline
    QThreadPool* m_pool;
    qsizetype m_ahead;
    std::vector<QFuture<Thumbnail>> m_futures;
};

} // namespace thumbs
