// SPDX-License-Identifier: GPL-3.0-or-later
#include "session/folder_load.h"

#include "thumbs/thumbnail_pipeline.h"

namespace session {

namespace {

using End = LoadResult::End;

// The loop over the photos, with the one check that every step after a call makes.
class Load {
public:
    Load(LoadedFolder& into, const LoadGeneration::Stamp& stamp, const LoadCalls& calls)
        : m_into(into), m_stamp(stamp), m_calls(calls) {}

    bool Superseded() {
        if (m_stamp.Superseded()) m_result.end = End::Superseded;
        return m_result.end == End::Superseded;
    }

    bool Cancelled() {
        if (m_calls.cancelled && m_calls.cancelled()) m_result.end = End::Cancelled;
        return m_result.end == End::Cancelled;
    }

    // False when the load is to stop here.
    bool TakePhoto(thumbs::ThumbnailPipeline& pipeline, const QString& path, qsizetype i) {
        if (Cancelled() || Superseded()) return false;
        if (m_calls.wait) m_calls.wait(pipeline.request(i));
        if (Superseded()) return false;
        const LoadedPhoto photo{path, m_into.Add(path, pipeline.take(i))};
        m_result.photos.push_back(photo);
        if (m_calls.taken) m_calls.taken(photo);
        return true;
    }

    LoadResult Finish() {
        if (!Superseded()) m_into.SortLists();
        return std::move(m_result);
    }

private:
    LoadedFolder& m_into;
    const LoadGeneration::Stamp& m_stamp;
    const LoadCalls& m_calls;
    LoadResult m_result;
};

} // namespace

LoadResult LoadFolder(LoadedFolder& into, const QString& folder, const LoadOptions& options,
                      LeftoverResolver& leftovers, const LoadGeneration::Stamp& stamp,
                      const LoadCalls& calls, std::shared_ptr<thumbs::ThumbnailCache> cache) {
    Load load(into, stamp, calls);
    into.Begin(folder);
    if (calls.begun) calls.begun();
    const FolderScan scan = ScanForLoad(into.folder, options.subfolders);
    for (const QString& leftover : scan.leftovers) {
        const LeftoverNews news = leftovers.Resolve(leftover);
        if (calls.leftover) calls.leftover(news);
    }
    if (calls.scanned) calls.scanned(scan.photos.size());
    // Workers decode ahead; the results are taken here in scan order.
    thumbs::ThumbnailPipeline pipeline(scan.photos, options.thumbnails, std::move(cache));
    for (qsizetype i = 0; i < scan.photos.size(); ++i)
        if (!load.TakePhoto(pipeline, scan.photos[i], i)) break;
    return load.Finish();
}

} // namespace session
