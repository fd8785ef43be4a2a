// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "session/auto_list.h"
#include "session/thumb_list.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

#include "platform/result.h"

namespace session {

struct DeleteResult {
    enum class Kind {
        Trashed,  // in the trash now
        Declined, // the confirmation was answered no; the file is as it was
        Failed,   // the trash did not take it; `result` says why and the file stays where it is
    };
    QString path;
    Kind kind = Kind::Declined;
    platform::Result result;
    bool delisted = false; // gone from disk afterwards, so dropped from the lists
};

// Asked once before anything is moved, with the number of photos to go; empty: no question.
using DeleteConfirmation = std::function<bool(int count)>;
// Moves one file into the trash, or says why not.
using TrashCall = std::function<platform::Result(const QString& path)>;

struct DeleteLists {
    ThumbList* thumbs = nullptr;
    AutoList* autoList = nullptr;
};

// Moves the photos of `paths` that exist, in that order, to the trash after one confirmation,
// then drops every one of them no longer on disk from `lists`, whatever the trash said: a file
// the trash did not take stays listed, one gone meanwhile does not. One outcome per existing
// photo; none when no photo exists (and then nothing is asked).
std::vector<DeleteResult> DeletePhotos(const QStringList& paths, const DeleteConfirmation& confirm,
                                       DeleteLists lists, const TrashCall& trash = {});

} // namespace session
