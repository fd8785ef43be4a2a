// SPDX-License-Identifier: GPL-3.0-or-later
// Undo and redo of one stack of commands (the window's, the command line's). Undo keeps what
// each photo held before it was put back as a command of the stack's redo stack (STACK-redo,
// beside it in the same store, bounded with it), and redo puts those bytes back only where the
// photo still holds exactly what the undo wrote, keeping the undo's bytes for undo again. A new
// command of turns drops the redo stack: what it would redo no longer follows on.
#pragma once

#include "session/undo.h"

#include <QString>

#include <cstdint>
#include <memory>

namespace session {

class UndoRedo {
public:
    UndoRedo(const QString& root, const QString& stack, std::uint64_t bound = kUndoBound,
             platform::ReplaceCalls calls = {});

    // A new command of turns; the redo stack is dropped first.
    std::unique_ptr<UndoCommand> Begin(platform::Result* why = nullptr) const;
    bool CanUndo() const { return m_undo.CanUndo(); }
    bool CanRedo() const { return m_redo.CanUndo(); }
    // `each` is told of each photo as it is done.
    UndoResult Undo(std::function<void(const UndoPhoto&)> each = {}) const;
    UndoResult Redo(std::function<void(const UndoPhoto&)> each = {}) const;

    const UndoStore& undoStore() const { return m_undo; }
    const UndoStore& redoStore() const { return m_redo; }

private:
    // Takes back the newest command of `from`, its way back kept as a command of `to`.
    static UndoResult Move(const UndoStore& from, const UndoStore& to,
                           std::function<void(const UndoPhoto&)> each);

    UndoStore m_undo;
    UndoStore m_redo;
};

// The redo stack of the stack `stack`.
QString RedoStackOf(const QString& stack);

} // namespace session
