// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/turn_commands.h"

#include "collection/scan.h"
#include "rotate/orientation_table.h"
#include "rotate/turn_memory.h"
#include "session/messages.h"
#include "session/photo_turn.h"
#include "session/turn_report.h"
#include "session/undo_bound.h"

#include <QFile>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/leftovers_told.h"
#include "cli/path_text.h"
#include "cli/printable.h"
#include "cli/undo_command.h"
#include "cli/usage.h"
#include "platform/allocator.h"

namespace cli {

namespace {

enum class TurnResult { Turned, Skipped, Failed };

struct TurnLines {
    TurnResult result = TurnResult::Failed;
    std::string message; // to standard output when skipped, to standard error when failed
    std::string warning; // to standard error, whatever the result
    // Turned, but not yet safely on disk: the exit status says so, as for a failure.
    bool notFlushed = false;
};

TurnLines LinesOf(const session::PhotoTurnResult& outcome) {
    const auto name = Local(outcome.path);
    using Kind = session::PhotoTurnResult::Kind;
    switch (outcome.kind) {
    case Kind::NotAPhoto:
        return {TurnResult::Failed, name + ": " + Reason(outcome.result), {}};
    case Kind::BadCode:
    case Kind::NoTurn:
        return {TurnResult::Failed, name + ": bad turn", {}};
    case Kind::SkippedByCrop:
        return {TurnResult::Skipped,
                name + ": skipped, " +
                    (outcome.crop ? English(session::CropCauseMessage(*outcome.crop)) : "") +
                    " (use --crop to turn it anyway)",
                {}};
    case Kind::Failed:
        return {TurnResult::Failed,
                English(session::TurnFailed(QFile::encodeName(outcome.path).toStdString(),
                                            outcome.result)),
                {}};
    case Kind::Turned:
        break;
    }
    // The photo is turned: what follows are only warnings.
    session::TurnReport told;
    told.Take(outcome);
    std::string warning;
    for (const session::TurnWarning& each : told.TakeDueWarnings())
        warning += (warning.empty() ? "" : "\nwarning: ") +
                   English(session::TurnWarningMessage(
                       QFile::encodeName(outcome.path).toStdString(), each));
    return {TurnResult::Turned, {}, warning, !outcome.result.ok()};
}

// Turns photos on all cores, each written safely on its own; one outcome per entry, in order.
std::vector<session::PhotoTurnResult> RunTurns(const std::vector<session::ListEntry>& entries,
                                               const Options& o) {
    session::ListOptions options;
    // --crop answers the crop question before it is asked; without it every such photo is
    // left as it is.
    options.turn = {o.keepTime, !o.crop, o.crop, session::TurnKind::Manual};
    options.turn.undo = o.undo;
    options.parallel = true;
    session::ListCalls calls;
    calls.notAPhoto = NotAPhotoFile;
    return session::TurnList(
               entries, options, [](const rotate::TurnPlan&) { return session::CropAnswer{}; },
               calls, nullptr)
        .outcomes;
}

void PrintLines(const TurnLines& report) {
    if (!report.warning.empty()) std::fprintf(stderr, "warning: %s\n", report.warning.c_str());
    if (report.message.empty()) return;
    std::fprintf(report.result == TurnResult::Failed ? stderr : stdout, "%s\n",
                 report.message.c_str());
}

// A memory cap or an undo bound that is no amount is refused before anything is turned or
// recorded: turning under a limit other than the one meant would be a silent surprise.
bool Unreadable(const rotate::AmountSetting& setting, std::string (*describe)(std::string_view)) {
    if (!setting.unreadable) return false;
    std::fprintf(stderr, "tulvex-cli: %s\n", Printable(describe(*setting.unreadable)).c_str());
    return true;
}

bool SettingsUnreadable() {
    return Unreadable(rotate::TurnMemoryCapNow(), rotate::DescribeUnreadableCap) ||
           Unreadable(session::UndoBoundNow(), session::DescribeUnreadableUndoBound);
}

} // namespace

int CmdRotate(const Options& given) {
    if (SettingsUnreadable()) return kUsage;
    const Recorded recorded = RecordedForUndo(given);
    const Options& o = recorded.options;
    if (o.positional.size() < 2) return Usage("rotate needs a direction and files");
    const QString dir = o.positional[0];
    using rotate::RotationCode;
    const std::optional<RotationCode> code = dir == "left"    ? std::optional(RotationCode::Left)
                                             : dir == "right" ? std::optional(RotationCode::Right)
                                             : dir == "180"   ? std::optional(RotationCode::Half)
                                                              : std::nullopt;
    if (!code) return Usage("the direction is left, right or 180");
    FinishInterruptedTurns(LeftoversBeside(o.positional.mid(1)));
    // One photo is faster with its large buffers mapped apart; several reuse them.
    if (o.positional.size() > 2) platform::KeepTurnBuffersMapped();
    std::vector<session::ListEntry> entries;
    for (qsizetype i = 1; i < o.positional.size(); ++i)
        entries.push_back({o.positional[i], code});
    int failed = 0;
    for (const session::PhotoTurnResult& outcome : RunTurns(entries, o)) {
        const TurnLines report = LinesOf(outcome);
        PrintLines(report);
        if (report.result == TurnResult::Turned)
            std::printf("%s: turned %s\n", Local(outcome.path).c_str(), Local(dir).c_str());
        failed += report.result == TurnResult::Failed || report.notFlushed;
    }
    return failed ? kSomeFailed : kOk;
}

int CmdAuto(const Options& given) {
    if (SettingsUnreadable()) return kUsage;
    const Recorded recorded = RecordedForUndo(given);
    const Options& o = recorded.options;
    if (o.positional.size() != 1) return Usage("auto needs one folder");
    const QString folder = collection::WithoutTrailingDelimiter(o.positional[0]);
    if (const platform::Result what = NotAFolder(folder); !what.ok()) {
        std::fprintf(stderr, "%s: %s\n", Local(folder).c_str(), Reason(what).c_str());
        return kSomeFailed;
    }
    QStringList paths, stale;
    collection::ScanFolder(folder, o.recursive, paths, &stale);
    std::vector<std::string> leftovers;
    for (const QString& leftover : stale)
        leftovers.push_back(QFile::encodeName(leftover).toStdString());
    FinishInterruptedTurns(leftovers);
    std::sort(paths.begin(), paths.end(), collection::PathLess);
    std::vector<session::ListEntry> entries;
    for (const QString& path : paths)
        entries.push_back({path, std::nullopt});
    int turned = 0, skipped = 0, failed = 0, notFlushed = 0;
    for (const session::PhotoTurnResult& outcome : RunTurns(entries, o)) {
        // Photos that need no turn, and names that are no photo file, are passed over.
        if (outcome.kind == session::PhotoTurnResult::Kind::NoTurn) continue;
        const TurnLines report = LinesOf(outcome);
        PrintLines(report);
        switch (report.result) {
        case TurnResult::Turned:
            ++turned;
            notFlushed += report.notFlushed;
            std::printf("%s: orientation %u, turned upright\n", Local(outcome.path).c_str(),
                        outcome.storedOrientation);
            break;
        case TurnResult::Skipped:
            ++skipped;
            break;
        case TurnResult::Failed:
            ++failed;
            break;
        }
    }
    std::printf("%d turned, %d skipped, %d failed\n", turned, skipped, failed);
    return failed || notFlushed ? kSomeFailed : kOk;
}

} // namespace cli
