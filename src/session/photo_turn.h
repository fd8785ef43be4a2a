// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "rotate/orientation_table.h"
#include "rotate/turn.h"
#include "session/auto_list.h"
#include "session/busy.h"
#include "session/undo.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/file_io.h"

namespace session {

struct TurnOptions {
    bool keepTimes = false;
    bool askCrop = true; // false: a turn that may trim edge pixels goes on without asking
    // Trimming allowed beforehand, also where the plan saw no need for it: the photo may have
    // changed by the time it is turned.
    bool trimAllowed = false;
    TurnKind kind = TurnKind::Manual;
    UndoCommand* undo = nullptr; // keeps what the turn replaces, when given
};

struct CropAnswer {
    bool turn = false;    // false: the photo is left as it is
    bool askAgain = true; // read only when the photo is turned
};

// Asked before a turn that may trim edge pixels off `plan.path`.
using CropQuestion = std::function<CropAnswer(const rotate::TurnPlan& plan)>;

struct PhotoTurnResult {
    enum class Kind {
        Turned,
        SkippedByCrop, // the crop question was answered no
        Failed,        // `result` says why; the file is as it was
        BadCode,       // a code that names no turn; nothing touched
        NoTurn,        // nothing asked for one (the automatic pass on a handled entry)
        NotAPhoto,     // no photo file stands at the path; `result` says what does
    };
    QString path;
    Kind kind = Kind::NoTurn;
    // Failed, NotAPhoto: why. Turned: ok, or DoneBut when a flush after the replacement failed.
    platform::Result result;
    platform::Result times;                  // turned, but the kept times could not be set
    platform::Result undo;                   // turned, but it cannot be taken back: why
    std::optional<platform::FileTimes> kept; // times given back, for whoever reads it next
    std::optional<rotate::CropCause> crop;   // why the crop question was asked
    bool askCrop = true;                     // whether to ask about cropping after this photo
    std::uint16_t storedOrientation = 0;     // read by a list turn that took the stored turn

    bool turned() const { return kind == Kind::Turned; }
};

// Plans the turn, asks the crop question when it must, brings `autoList` (if any) in step and
// turns. Never throws: every way out is an outcome.
PhotoTurnResult TurnOne(const QString& path, rotate::RotationCode code, const TurnOptions& options,
                        const CropQuestion& ask, AutoList* autoList,
                        const rotate::TurnCalls& calls = {});

// What the automatic turn of one photo is, read from its stored orientation.
struct StoredTurn {
    std::uint16_t orientation = 0;
    std::optional<rotate::RotationCode> code; // none: the photo needs no turn
};
StoredTurn StoredTurnOf(const QString& path);

// What the caller of the automatic pass says before each photo's turn.
enum class PassStep { Go, Cancel, Abandon };

struct PassCalls {
    // Before each existing photo: lets the caller handle its events and say whether to go on.
    // Cancel still drops the handled entries; Abandon leaves the list as it is (it is no longer
    // the one the pass began with).
    std::function<PassStep()> beforeTurn = [] { return PassStep::Go; };
    // After each photo that did not fail; false abandons the pass.
    std::function<bool(const PhotoTurnResult&)> afterTurn = [](const PhotoTurnResult&) {
        return true;
    };
    // Whether to keep the file times, asked before each turn (the user may change it during the
    // pass); none: as the options say.
    std::function<bool()> keepTimes;
    // None: nothing supersedes the pass; else the pass ends once a load begins.
    const LoadGeneration::Stamp* stamp = nullptr;
};

struct PassResult {
    enum class End { Complete, Cancelled, Abandoned, Failed };
    End end = End::Complete;
    std::vector<PhotoTurnResult> outcomes; // one per photo turned, skipped or failed, in list order
    bool askCrop = true;
};

// Turns every listed photo upright. A missing file is passed over and stays listed; a failure
// ends the pass with the entries as they are (the handled ones keep their mark for the next
// pass); otherwise the handled entries are dropped at the end.
PassResult RunAutomaticPass(AutoList& list, const TurnOptions& options, const CropQuestion& ask,
                            const PassCalls& passCalls, const rotate::TurnCalls& calls = {});

// One photo of a list turn, and its turn; none: the turn its stored orientation asks for.
struct ListEntry {
    QString path;
    std::optional<rotate::RotationCode> code;
};

struct ListOptions {
    TurnOptions turn;
    // The first failure ends the list (the window shows it and stops the command); in order
    // only.
    bool stopAtFailure = false;
    // The photos are turned on all cores, the entries of one file (however it is named) in list
    // order on one of them. The calls and the crop question are then made from the workers, and
    // the crop answer of one photo is not carried to the next.
    bool parallel = false;
};

struct ListCalls {
    // Ok when a photo file stands at `path`, else what stands there instead. None: a path that
    // does not exist is no photo file.
    std::function<platform::Result(const QString& path)> notAPhoto;
    // Before each entry; Cancel ends the list, the photos turned so far stay turned.
    std::function<PassStep(const ListEntry&)> beforeTurn;
    // After each entry that did not fail.
    std::function<void(const PhotoTurnResult&)> afterTurn;
};

// Turns the listed photos with one set of options, bringing `autoList` (if any; never with
// `parallel`) in step. Results: one per entry, in list order, up to where the list ended; in
// parallel every entry has one (NoTurn for those a cancel left out). A Failed end's failure is
// the last outcome.
PassResult TurnList(const std::vector<ListEntry>& entries, const ListOptions& options,
                    const CropQuestion& ask, const ListCalls& calls, AutoList* autoList,
                    const rotate::TurnCalls& turnCalls = {});

} // namespace session
