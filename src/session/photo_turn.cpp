// SPDX-License-Identifier: GPL-3.0-or-later
#include "session/photo_turn.h"

#include "thumbs/image_codec.h"

#include <QFile>
#include <QFileInfo>
#include <QtConcurrent/QtConcurrentMap>

#include <atomic>
#include <cerrno>
#include <map>
#include <sys/stat.h>
#include <utility>

#include "platform/desktop_thumbnails.h"
#include "platform/photo_lock.h"

namespace session {

namespace {

using Kind = PhotoTurnResult::Kind;

void TakeTurnResult(const rotate::TurnPlan& plan, rotate::TurnResult turned,
                    PhotoTurnResult& outcome) {
    outcome.kind = turned.turned() ? Kind::Turned : Kind::Failed;
    outcome.result = std::move(turned.result);
    if (!outcome.turned()) return;
    // The photo is turned either way; what went wrong after that is only worth a warning.
    if (!turned.times.ok()) {
        outcome.times = std::move(turned.times);
    } else if (plan.timesKept) {
        outcome.kept = plan.times;
    }
}

bool IsFailure(const PhotoTurnResult& outcome) {
    return outcome.kind == Kind::Failed || outcome.kind == Kind::BadCode;
}

bool Superseded(const PassCalls& calls) {
    return calls.stamp && calls.stamp->Superseded();
}

platform::Result NotAPhoto(const ListCalls& calls, const QString& path) {
    if (calls.notAPhoto) return calls.notAPhoto(path);
    if (QFileInfo::exists(path)) return {};
    return platform::Result::FromErrno(ENOENT).about(QFile::encodeName(path).toStdString());
}

PhotoTurnResult TurnEntry(const ListEntry& entry, const TurnOptions& options,
                          const CropQuestion& ask, const ListCalls& calls, AutoList* autoList,
                          const rotate::TurnCalls& turnCalls) {
    PhotoTurnResult outcome;
    outcome.path = entry.path;
    outcome.askCrop = options.askCrop;
    if (platform::Result what = NotAPhoto(calls, entry.path); !what.ok()) {
        // Named like a photo but no photo file (a folder, a FIFO): never read. A stored turn
        // passes it over like any photo that needs none; a turn asked for names it.
        if (!entry.code) return outcome;
        outcome.kind = Kind::NotAPhoto;
        outcome.result = std::move(what);
        return outcome;
    }
    std::optional<rotate::RotationCode> code = entry.code;
    if (!code) {
        const StoredTurn stored = StoredTurnOf(entry.path);
        outcome.storedOrientation = stored.orientation;
        if (!stored.code) return outcome;
        code = stored.code;
    }
    const std::uint16_t stored = outcome.storedOrientation;
    outcome = TurnOne(entry.path, *code, options, ask, autoList, turnCalls);
    outcome.storedOrientation = stored;
    return outcome;
}

// The entries of one file (the same device and inode, however it was named) in list order: one
// writer per photo, each turn reading what the one before it wrote.
std::vector<std::vector<std::size_t>> GroupBySameFile(const std::vector<ListEntry>& entries) {
    std::vector<std::vector<std::size_t>> groups;
    std::map<std::pair<dev_t, ino_t>, std::size_t> groupOf;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        struct stat st {};
        if (::stat(QFile::encodeName(entries[i].path).constData(), &st) != 0) {
            groups.push_back({i});
            continue;
        }
        const auto [at, added] = groupOf.try_emplace({st.st_dev, st.st_ino}, groups.size());
        if (added) groups.emplace_back();
        groups[at->second].push_back(i);
    }
    return groups;
}

PassResult TurnInParallel(const std::vector<ListEntry>& entries, const ListOptions& options,
                          const CropQuestion& ask, const ListCalls& calls,
                          const rotate::TurnCalls& turnCalls) {
    PassResult result;
    result.askCrop = options.turn.askCrop;
    result.outcomes.resize(entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i) {
        result.outcomes[i].path = entries[i].path;
        result.outcomes[i].askCrop = options.turn.askCrop;
    }
    std::atomic<bool> cancelled = false;
    const std::vector<std::vector<std::size_t>> groups = GroupBySameFile(entries);
    QtConcurrent::blockingMap(groups, [&](const std::vector<std::size_t>& group) {
        for (const std::size_t i : group) {
            if (cancelled) return;
            if (calls.beforeTurn && calls.beforeTurn(entries[i]) != PassStep::Go) {
                cancelled = true;
                return;
            }
            PhotoTurnResult& outcome = result.outcomes[i];
            outcome = TurnEntry(entries[i], options.turn, ask, calls, nullptr, turnCalls);
            if (!IsFailure(outcome) && calls.afterTurn) calls.afterTurn(outcome);
        }
    });
    if (cancelled) result.end = PassResult::End::Cancelled;
    return result;
}

std::optional<platform::FileTimes> TimesOf(const QString& path) {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0) return std::nullopt;
    return platform::FileTimes{st.st_atim, st.st_mtim};
}

bool SameModification(const platform::FileTimes& times, const struct stat& st) {
    return times.modification.tv_sec == st.st_mtim.tv_sec &&
           times.modification.tv_nsec == st.st_mtim.tv_nsec;
}

} // namespace

PhotoTurnResult TurnOne(const QString& path, rotate::RotationCode code, const TurnOptions& options,
                        const CropQuestion& ask, AutoList* autoList,
                        const rotate::TurnCalls& calls) {
    PhotoTurnResult outcome;
    outcome.path = path;
    outcome.askCrop = options.askCrop;
    // Taken before the plan's reads move the access time.
    const std::optional<platform::FileTimes> timesBefore =
        options.undo ? TimesOf(path) : std::nullopt;
    const std::optional<rotate::TurnPlan> plan = rotate::PlanTurn(path, code, options.keepTimes);
    if (!plan) {
        outcome.kind = Kind::BadCode;
        return outcome;
    }
    if (plan->mayCrop()) {
        outcome.crop = plan->cropCause();
        if (options.askCrop) {
            const CropAnswer answer = ask ? ask(*plan) : CropAnswer{};
            if (!answer.turn) {
                outcome.kind = Kind::SkippedByCrop;
                return outcome;
            }
            outcome.askCrop = answer.askAgain;
        }
    }
    // The list follows the turn before the file is touched, so it stands even when the turn
    // fails.
    if (autoList) autoList->NoteTurn(path, plan->newOrientation, options.kind);
    // Asked above, or allowed beforehand.
    const bool trim = plan->mayCrop() || options.trimAllowed;
    std::optional<UndoCapture> capture;
    rotate::TurnCalls watched = calls;
    if (options.undo) {
        watched.seen = [&capture, &calls, &timesBefore](const platform::PhotoAsRead& read,
                                                        std::span<const std::uint8_t> turned) {
            capture = CaptureTurn(read, turned);
            if (timesBefore && SameModification(*timesBefore, read.identity))
                capture->oldTimes.access = timesBefore->access;
            if (calls.seen) calls.seen(read, turned);
        };
    }
    TakeTurnResult(*plan, rotate::ApplyTurn(*plan, trim, watched), outcome);
    if (!outcome.turned()) return outcome;
    // Kept once the times are back, so that undo recognises the photo as the turn left it.
    if (capture) {
        outcome.undo = options.undo->Keep(path, *capture);
    }
    // File managers key their thumbnails by modification time, which a kept time leaves as it was.
    platform::RemoveDesktopThumbnails(path);
    return outcome;
}

StoredTurn StoredTurnOf(const QString& path) {
    StoredTurn stored;
    stored.orientation = thumbs::ReadImageHeader(path).orientation;
    stored.code = rotate::UprightCode(stored.orientation);
    return stored;
}

PassResult RunAutomaticPass(AutoList& list, const TurnOptions& options, const CropQuestion& ask,
                            const PassCalls& passCalls, const rotate::TurnCalls& calls) {
    PassResult pass;
    pass.askCrop = options.askCrop;
    TurnOptions each = options;
    each.kind = TurnKind::Automatic;
    // Entries are only marked inside the loop, so the indices hold; whoever clears the list
    // meanwhile (the window closing) ends the pass.
    const std::size_t count = list.size();
    for (std::size_t i = 0; i < count; ++i) {
        if (i >= list.size()) {
            pass.end = PassResult::End::Abandoned;
            return pass;
        }
        const QString path = list[i].path;
        if (!QFileInfo::exists(path)) continue;
        const PassStep step = passCalls.beforeTurn ? passCalls.beforeTurn() : PassStep::Go;
        if (step == PassStep::Abandon || Superseded(passCalls) || i >= list.size()) {
            pass.end = PassResult::End::Abandoned;
            return pass;
        }
        if (step == PassStep::Cancel) {
            pass.end = PassResult::End::Cancelled;
            break;
        }
        PhotoTurnResult outcome;
        outcome.path = path;
        outcome.askCrop = each.askCrop;
        if (const auto code = rotate::UprightCode(std::uint16_t(list[i].value))) {
            if (passCalls.keepTimes) each.keepTimes = passCalls.keepTimes();
            outcome = TurnOne(path, *code, each, ask, &list, calls);
        }
        each.askCrop = pass.askCrop = outcome.askCrop;
        const bool failed = IsFailure(outcome);
        pass.outcomes.push_back(outcome);
        if (failed) {
            pass.end = PassResult::End::Failed;
            return pass;
        }
        if ((passCalls.afterTurn && !passCalls.afterTurn(pass.outcomes.back())) ||
            Superseded(passCalls)) {
            pass.end = PassResult::End::Abandoned;
            return pass;
        }
    }
    list.PurgeHandled();
    return pass;
}

PassResult TurnList(const std::vector<ListEntry>& entries, const ListOptions& options,
                    const CropQuestion& ask, const ListCalls& calls, AutoList* autoList,
                    const rotate::TurnCalls& turnCalls) {
    if (options.parallel && !autoList)
        return TurnInParallel(entries, options, ask, calls, turnCalls);
    PassResult result;
    result.askCrop = options.turn.askCrop;
    TurnOptions each = options.turn;
    for (const ListEntry& entry : entries) {
        const PassStep step = calls.beforeTurn ? calls.beforeTurn(entry) : PassStep::Go;
        if (step != PassStep::Go) {
            result.end =
                step == PassStep::Cancel ? PassResult::End::Cancelled : PassResult::End::Abandoned;
            return result;
        }
        result.outcomes.push_back(TurnEntry(entry, each, ask, calls, autoList, turnCalls));
        const PhotoTurnResult& outcome = result.outcomes.back();
        each.askCrop = result.askCrop = outcome.askCrop;
        if (IsFailure(outcome)) {
            if (!options.stopAtFailure) continue;
            result.end = PassResult::End::Failed;
            return result;
        }
        if (calls.afterTurn) calls.afterTurn(outcome);
    }
    return result;
}

} // namespace session
