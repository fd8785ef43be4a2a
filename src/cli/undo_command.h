// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <memory>

#include "cli/options.h"

namespace session {
class UndoCommand;
}

namespace cli {

// The options with a new undo record for this command's turns.
struct Recorded {
    Options options;
    std::unique_ptr<session::UndoCommand> command;
};
Recorded RecordedForUndo(const Options& o);

// tulvex-cli undo: takes back the last command's turns.
int CmdUndo(const Options& o);

} // namespace cli
