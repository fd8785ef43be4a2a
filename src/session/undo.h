// SPDX-License-Identifier: GPL-3.0-or-later
// Taking back the last command that changed photos. Before a turn replaces a photo, its exact old
// bytes and times are kept on disk with what the turn wrote (size, modification time, a hash of
// the new bytes); undo puts the old bytes back only where the photo still holds exactly that.
//
// On disk: ROOT/STACK/STAMP-PID/NNNNNN.undo, one file per photo, one folder per command; ROOT is
// $XDG_STATE_HOME/tulvex/undo. Each file is written to a temporary, flushed and renamed, so a
// killed write leaves a temporary that nobody holds (removed later) and never a record that reads
// as complete. From ROOT down no link is followed: every folder is opened relative to its parent's
// descriptor. ROOT/.lock serialises making room across processes; a command's process holds a
// lock on its folder while it writes, and a command whose records were dropped keeps the photos'
// names in its file `lost`, so that its undo can name them.
#pragma once

#include "session/auto_list.h"
#include "session/undo_bound.h"
#include "session/undo_types.h"

#include <QString>

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/file_io.h"
#include "platform/leftovers.h"
#include "platform/result.h"

namespace session {

// $XDG_STATE_HOME/tulvex/undo, by default ~/.local/state/tulvex/undo.
QString DefaultUndoFolder();

// What a turn saw and wrote, taken under the photo's lock just before the replacement.
struct UndoCapture {
    std::vector<std::uint8_t> oldBytes;
    platform::FileTimes oldTimes;
    std::uint64_t newSize = 0;
    UndoHash newHash{};
};
UndoCapture CaptureTurn(const platform::PhotoAsRead& read, std::span<const std::uint8_t> turned);

struct UndoResult {
    bool nothing = false;   // no command to take back
    platform::Result error; // the store could not be read (a link where a folder should be)
    std::vector<UndoPhoto> photos;
    // Interrupted turns and undos found beside its photos, finished or told of (the others, a
    // temporary removed, are left out).
    std::vector<platform::LeftoverResult> leftovers;
    std::vector<QString> changedSince() const;
};

class UndoCommand;

struct RecordTemporary;

// What an undo does besides putting photos back.
struct UndoFollow {
    // Keeps what each photo held before it was put back, for the way back (redo, or undo of a
    // redo); a photo it cannot keep is put back all the same.
    UndoCommand* counter = nullptr;
    // Told of each photo as it is done, in the order they are undone.
    std::function<void(const UndoPhoto&)> each;
};

// One stack of commands (the window's, the command line's) below a shared root.
class UndoStore {
public:
    UndoStore(QString root, QString stack, std::uint64_t bound = kUndoBound,
              platform::ReplaceCalls calls = {});

    // A new command; an error when the folder cannot be made.
    std::unique_ptr<UndoCommand> Begin(platform::Result* why = nullptr) const;
    bool CanUndo() const;
    // Takes back the newest command of this stack, first finishing the interrupted turns and
    // undos beside its photos. Photos that could not be restored for a passing reason (busy, a
    // failed write, a torn photo whose complete copy could not be put in place) keep their
    // record for another try.
    UndoResult UndoLast(const UndoFollow& follow = {}) const;
    // Drops every command of this stack that no process is writing or undoing.
    void Clear() const;
    // The photos the newest command of this stack kept, for a progress bar.
    std::size_t PhotosInLast() const;

    const std::string& root() const { return m_root; }

private:
    friend class UndoCommand;
    // Writes a record through `temp`, a locked temporary beside it, and renames it in place.
    platform::Result WriteRecord(RecordTemporary& temp,
                                 std::span<const std::span<const std::uint8_t>> parts) const;

    std::string m_root;
    std::string m_stack;
    std::uint64_t m_bound;
    platform::ReplaceCalls m_calls;
};

// The record of one command; photos may be kept from several threads at once. A command that
// kept nothing leaves no folder behind.
class UndoCommand {
public:
    ~UndoCommand();
    UndoCommand(const UndoCommand&) = delete;
    UndoCommand& operator=(const UndoCommand&) = delete;

    // Once the turn is in place and its times are set: keeps the old photo with the identity of
    // what the turn left. An error when it could not be kept (the turn stands all the same).
    platform::Result Keep(const QString& path, const UndoCapture& capture);
    std::size_t keptCount() const { return m_kept; }

private:
    friend class UndoStore;
    UndoCommand(const UndoStore& store, platform::UniqueFd root, platform::UniqueFd stack,
                std::string name);

    // Drops the oldest other commands of every stack that no process is writing until `more`
    // bytes fit beside this one's; the store's lock, at `generation`, and `m_mutex` held.
    bool MakeRoom(std::uint64_t more, std::uint64_t generation);
    // This command's folder, made and locked at its first record; the store's lock held.
    platform::Result OpenFolder();

    const UndoStore m_store; // a copy: a command may outlive the store that began it
    const platform::UniqueFd m_root;
    const platform::UniqueFd m_stack;
    const std::string m_name;
    platform::UniqueFd m_folder; // locked for as long as this command lives
    std::mutex m_mutex;          // the numbering, the space used and the folder
    int m_next = 0;
    std::atomic<std::size_t> m_kept{0};
    bool m_lost = false; // photos that did not fit are named in the folder
    // The other commands and their bytes, counted again when another command changed them.
    struct Others;
    std::unique_ptr<Others> m_others;
    std::uint64_t m_bytes = 0; // of this command's records, written or being written
};

// The automatic pass offers a photo again whose orientation came back with an undo.
void FollowUndo(AutoList& list, const QString& folder, const UndoResult& undone);

} // namespace session
