// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "session/auto_list.h"
#include "session/thumb_list.h"
#include "thumbs/image_codec.h"

#include <QString>
#include <QStringList>

#include <set>
#include <string>
#include <sys/types.h>
#include <tuple>

#include "platform/file_io.h"
#include "platform/leftovers.h"
#include "platform/result.h"

namespace session {

// The folder a load filled, with its images and the ones stored turned.
struct LoadedFolder {
    QString folder;
    ThumbList thumbs;
    AutoList autoList;

    // Empties both lists for a load of `path`, kept without its trailing delimiter.
    void Begin(const QString& path);
    // Takes the thumbnail the load made of one photo: a made one is listed, and noted for the
    // automatic pass when the photo is stored turned; a missing or unreadable photo is not.
    // Returns why it was not made, ok when it was.
    platform::Result Add(const QString& path, thumbs::Thumbnail made);
    // Puts both lists in path order, whatever order the photos were added in.
    void SortLists();
};

// The photos of a folder to load, and the leftovers of killed turns found beside them.
struct FolderScan {
    QStringList photos;
    QStringList leftovers;
};
FolderScan ScanForLoad(const QString& folder, bool subfolders);

// What the user is to be told about one leftover of a killed turn.
struct LeftoverNews {
    enum class Kind {
        None,     // nothing to tell
        Finished, // the interrupted turn was finished from the complete copy
        Failed,   // the complete copy could not be put in place; `result` says why
        Foreign,  // named like a kept copy but belongs to no photo here
    };
    Kind kind = Kind::None;
    QString leftover;
    QString target;          // the photo the copy belongs to
    platform::Result result; // why it was not put in place
};

// Resolves leftovers, telling of one that cannot be resolved once per run however often its
// folder is loaded; a new file under the same name is told of again.
class LeftoverResolver {
public:
    LeftoverNews Resolve(const QString& leftover);
    // What to tell of a leftover resolved elsewhere (by an undo).
    LeftoverNews News(const platform::LeftoverResult& outcome);

private:
    std::set<std::tuple<std::string, dev_t, ino_t>> m_reported;
};

} // namespace session
