// SPDX-License-Identifier: GPL-3.0-or-later
#include "session/delete_photos.h"

#include <QFileInfo>

#include "platform/trash.h"

namespace session {
namespace {

QStringList ExistingOf(const QStringList& paths) {
    QStringList existing;
    for (const QString& path : paths)
        if (QFileInfo::exists(path)) existing << path;
    return existing;
}

DeleteResult TrashOne(const QString& path, const TrashCall& trash) {
    DeleteResult outcome{path, DeleteResult::Kind::Trashed, {}, false};
    // Never deleted outright: a file the trash does not take stays where it is.
    outcome.result = trash ? trash(path) : platform::MoveToTrash(path);
    if (!outcome.result.ok()) outcome.kind = DeleteResult::Kind::Failed;
    return outcome;
}

void DelistGone(DeleteResult& outcome, DeleteLists lists) {
    if (QFileInfo::exists(outcome.path)) return;
    outcome.delisted = true;
    if (lists.thumbs) {
        if (const int i = IndexOfThumb(*lists.thumbs, outcome.path); i >= 0)
            lists.thumbs->erase(lists.thumbs->begin() + i);
    }
    if (lists.autoList) {
        if (const int i = lists.autoList->IndexOf(outcome.path); i >= 0)
            lists.autoList->erase(lists.autoList->begin() + i);
    }
}

} // namespace

std::vector<DeleteResult> DeletePhotos(const QStringList& paths, const DeleteConfirmation& confirm,
                                       DeleteLists lists, const TrashCall& trash) {
    const QStringList doomed = ExistingOf(paths);
    std::vector<DeleteResult> outcomes;
    if (doomed.isEmpty()) return outcomes;
    const bool go = !confirm || confirm(int(doomed.size()));
    for (const QString& path : doomed) {
        outcomes.push_back(go ? TrashOne(path, trash)
                              : DeleteResult{path, DeleteResult::Kind::Declined, {}, false});
    }
    for (DeleteResult& outcome : outcomes)
        DelistGone(outcome, lists);
    return outcomes;
}

} // namespace session
