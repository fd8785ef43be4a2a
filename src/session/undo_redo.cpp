// SPDX-License-Identifier: GPL-3.0-or-later
#include "session/undo_redo.h"

namespace session {

QString RedoStackOf(const QString& stack) {
    return stack + QStringLiteral("-redo");
}

UndoRedo::UndoRedo(const QString& root, const QString& stack, std::uint64_t bound,
                   platform::ReplaceCalls calls)
    : m_undo(root, stack, bound, calls), m_redo(root, RedoStackOf(stack), bound, calls) {}

std::unique_ptr<UndoCommand> UndoRedo::Begin(platform::Result* why) const {
    m_redo.Clear();
    return m_undo.Begin(why);
}

UndoResult UndoRedo::Undo(std::function<void(const UndoPhoto&)> each) const {
    return Move(m_undo, m_redo, std::move(each));
}

UndoResult UndoRedo::Redo(std::function<void(const UndoPhoto&)> each) const {
    return Move(m_redo, m_undo, std::move(each));
}

UndoResult UndoRedo::Move(const UndoStore& from, const UndoStore& to,
                          std::function<void(const UndoPhoto&)> each) {
    // Without a way back the photos are put back all the same: the undo is what was asked for.
    const std::unique_ptr<UndoCommand> counter = to.Begin();
    return from.UndoLast({counter.get(), std::move(each)});
}

} // namespace session
