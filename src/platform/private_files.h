// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The folders and small files the program keeps for the user alone: the trash's folders, the
// undo store, the thumbnail cache and the settings. Folders are opened through descriptors and
// never through a link; small files take their place whole, through a temporary and a rename.

#include <functional>
#include <span>
#include <string>
#include <sys/types.h>

#include "platform/file_io.h"
#include "platform/result.h"

namespace platform {

struct PrivateFolderRules {
    bool make = true;    // made with mode 0700 when missing
    bool ownOnly = true; // one of another user is refused
    enum class Mode {
        Tighten, // one of another mode is made 0700
        Require, // one of another mode than 0700 is refused
        Any,     // the mode is left as it is
    };
    Mode mode = Mode::Tighten;
};

// The folder `name` of the folder `parent` (a descriptor, or AT_FDCWD with a path), opened never
// through a link, made and checked as `rules` say. Invalid otherwise, with `why`: the errno of
// the step that failed; ELOOP or ENOTDIR for a link or another kind of file, EPERM for a folder
// of another user or mode.
UniqueFd MakePrivateFolder(int parent, const std::string& name, const PrivateFolderRules& rules,
                           Result& why);

// Makes each missing folder above `path` (not `path` itself) with `mode`; folders already there,
// links to folders included, are left as they are.
Result MakeFoldersAbove(const std::string& path, mode_t mode);

// How a small file is made durable. Every step may be left out: a cache that can be made again
// goes without flushes.
struct SmallFileWrite {
    std::function<int(int fd)> fsyncFile; // the temporary, before the rename; 0 or fails
    std::function<void(int fd)> beforeRename;
    std::function<int(int fd)> fsyncFolder; // after the rename; a failure is not the write's
};

// Writes `parts` into the temporary `temp` of `folder`, open as `fd` (CreateLockedTemporary),
// and renames it to `name`, so that a reader sees the old file or the new one. On failure the
// temporary is removed and the old file stays as it was.
Result CommitTemporary(int folder, UniqueFd fd, const std::string& temp, const std::string& name,
                       std::span<const std::span<const std::uint8_t>> parts,
                       const SmallFileWrite& how);

// The same through a new temporary `tempStem` + a random suffix (mode 0600) in `folder`.
Result WriteSmallFile(int folder, const std::string& name, const std::string& tempStem,
                      std::span<const std::uint8_t> bytes, const SmallFileWrite& how);

} // namespace platform
