// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <memory>

#include "cli/options.h"

namespace session {
class UndoCommand;
struct UndoResult;
} // namespace session

namespace cli {

// The options with a new undo record for this command's turns.
struct Recorded {
    Options options;
    std::unique_ptr<session::UndoCommand> command;
};
Recorded RecordedForUndo(const Options& o);

// tulvex-cli undo: takes back the last command's turns.
int CmdUndo(const Options& o);
// tulvex-cli redo: turns again what the last undo took back.
int CmdRedo(const Options& o);
// Prints what an undo or a redo (`what`) did; the exit code.
int TellTakenBack(const session::UndoResult& undone, const char* what);

} // namespace cli
