// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "session/photo_turn.h"

#include <QString>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/file_io.h"
#include "platform/result.h"

namespace thumbs {
class ThumbnailCache;
}

namespace session {

// A turn that went through but left something the user should hear about.
struct TurnWarning {
    enum class Kind {
        FlushFailed,      // the new contents are in place, but a flush after it failed
        TimesNotRestored, // turned, but the kept file times could not be set
        NotUndoable,      // turned, but its old contents could not be kept for undo
        UndoUnavailable,  // no turn of the command can be undone (no path)
    };
    Kind kind = Kind::FlushFailed;
    QString path;
    platform::Result result; // why
};

// What the turns of a command leave behind for whoever shows them: the file times to set again
// once a turned photo has been read for its new thumbnail, and the warnings, held while a
// command runs so that a loop over many photos is not stopped at each one.
class TurnReport {
public:
    // Takes what one photo's turn left. A turn or failure forgets the times an earlier turn of
    // the photo kept; a photo left alone keeps them.
    void Take(const PhotoTurnResult& outcome);

    // Times to set again after the next read of `path`, in place of any kept before.
    void KeepTimes(const QString& path, std::optional<platform::FileTimes> times);
    // A warning that belongs to no single turn.
    void Warn(TurnWarning warning);

    // The times a turn kept for `path`, handed out once.
    std::optional<platform::FileTimes> TakeKeptTimes(const QString& path);
    // The photo is not read again: the times its turn set stand.
    void ForgetKeptTimes(const QString& path);
    // Sets the kept times again after a read of the photo, which may have moved its access
    // time, and tells `cache` (if any) that the change was the program's own. Best effort: the
    // turn already set them once and reported a failure. False: no times were kept or set.
    bool RestoreKeptTimes(const QString& path, thumbs::ThumbnailCache* cache);

    // Holds the warnings until the outermost hold is released; holds nest.
    void Hold();
    // Ends one hold: the warnings gathered meanwhile when it was the outermost, else none.
    std::vector<TurnWarning> Release();
    // The warnings to show now: none while held.
    std::vector<TurnWarning> TakeDueWarnings();

private:
    std::map<QString, platform::FileTimes> m_keptTimes;
    std::vector<TurnWarning> m_warnings;
    int m_holds = 0;
};

} // namespace session
