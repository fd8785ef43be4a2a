// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "session/busy.h"
#include "session/loaded_folder.h"
#include "thumbs/image_codec.h"

#include <QFuture>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

namespace thumbs {
class ThumbnailCache;
}

namespace session {

struct LoadOptions {
    bool subfolders = false;
    thumbs::ThumbnailOptions thumbnails;
};

// What became of one photo the scan found.
struct LoadedPhoto {
    QString path;
    // Why no thumbnail was made (NotFound: the photo is gone), ok when it was.
    platform::Result thumbnail = platform::Result::FromErrno(ENOENT);
};

struct LoadCalls {
    // The lists were emptied for the new folder (LoadedFolder::folder names it now).
    std::function<void()> begun;
    // One leftover of a killed turn was dealt with; the caller tells the user when there is news.
    std::function<void(const LeftoverNews&)> leftover;
    // The scan found this many photos; their thumbnails come next.
    std::function<void(qsizetype photos)> scanned;
    // Before each photo: lets the caller handle its events; true stops the load (the photos
    // taken so far stay listed).
    std::function<bool()> cancelled;
    // Waits for the thumbnail the load needs next; none: blocks. The caller may handle its
    // events meanwhile.
    std::function<void(const QFuture<thumbs::Thumbnail>&)> wait;
    // After each photo the load took.
    std::function<void(const LoadedPhoto&)> taken;
};

struct LoadResult {
    enum class End {
        Complete,
        Cancelled,  // the lists hold the photos taken before the cancel, sorted
        Superseded, // a newer load owns the lists; they were left alone from then on
    };
    End end = End::Complete;
    std::vector<LoadedPhoto> photos; // one per photo taken, in scan order
};

// Loads `folder` into `into`: empties the lists, resolves the leftovers of killed turns, makes
// the thumbnails of the photos on the thread pool (through `cache`, if any) and lists them in
// path order. Every call
// may handle events, so after each one the load checks `stamp` before it touches the lists.
LoadResult LoadFolder(LoadedFolder& into, const QString& folder, const LoadOptions& options,
                      LeftoverResolver& leftovers, const LoadGeneration::Stamp& stamp,
                      const LoadCalls& calls = {},
                      std::shared_ptr<thumbs::ThumbnailCache> cache = nullptr);

} // namespace session
