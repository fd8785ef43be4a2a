// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/undo_command.h"

#include "session/undo.h"
#include "session/undo_bound.h"
#include "session/undo_redo.h"

#include <cstdio>

#include "cli/leftovers_told.h"
#include "cli/printable.h"
#include "cli/usage.h"

namespace cli {

namespace {

// The command line's own stack of commands: a script's undo never takes back a turn made in the
// window meanwhile, nor the other way round.
session::UndoRedo CommandLineUndo() {
    return session::UndoRedo(session::DefaultUndoFolder(), QStringLiteral("cli"),
                             session::UndoBoundNow().bytes);
}

} // namespace

Recorded RecordedForUndo(const Options& o) {
    Recorded recorded{o, {}};
    platform::Result why;
    recorded.command = CommandLineUndo().Begin(&why);
    if (!recorded.command)
        std::fprintf(stderr, "warning: the turns cannot be undone: %s\n", Reason(why).c_str());
    recorded.options.undo = recorded.command.get();
    return recorded;
}

int CmdUndo(const Options& o) {
    if (!o.positional.isEmpty()) return Usage("undo takes no arguments");
    return TellTakenBack(CommandLineUndo().Undo(), "undo");
}

int CmdRedo(const Options& o) {
    if (!o.positional.isEmpty()) return Usage("redo takes no arguments");
    return TellTakenBack(CommandLineUndo().Redo(), "redo");
}

int TellTakenBack(const session::UndoResult& undone, const char* what) {
    if (!undone.error.ok()) {
        std::fprintf(stderr, "tulvex-cli: %s\n", Reason(undone.error).c_str());
        return kSomeFailed;
    }
    if (undone.nothing) {
        std::fprintf(stderr, "tulvex-cli: nothing to %s\n", what);
        return kSomeFailed;
    }
    for (const platform::LeftoverResult& leftover : undone.leftovers)
        TellLeftover(leftover);
    int failed = 0;
    using Status = session::UndoPhoto::Status;
    for (const session::UndoPhoto& photo : undone.photos) {
        const std::string name = Local(photo.path);
        if (photo.status == Status::Restored && photo.result.ok()) {
            std::printf("%s: restored\n", name.c_str());
            continue;
        }
        ++failed;
        if (photo.status == Status::Restored)
            std::fprintf(stderr, "%s: restored, but its times could not be set back: %s\n",
                         name.c_str(), Reason(photo.result).c_str());
        else if (photo.status == Status::ChangedSince)
            std::fprintf(stderr, "%s: changed since, left as it is\n", name.c_str());
        else if (photo.path.isEmpty())
            std::fprintf(stderr, "%s: undo record of an unknown photo, not restored: %s\n",
                         Local(photo.record).c_str(), Reason(photo.result).c_str());
        else if (!photo.record.isEmpty())
            std::fprintf(stderr, "%s: not restored: %s: %s\n", name.c_str(),
                         Local(photo.record).c_str(), Reason(photo.result).c_str());
        else
            std::fprintf(stderr, "%s: not restored: %s\n", name.c_str(),
                         Reason(photo.result).c_str());
    }
    return failed ? kSomeFailed : kOk;
}

} // namespace cli
