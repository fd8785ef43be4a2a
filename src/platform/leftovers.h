// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

#include "platform/result.h"
#include "platform/safe_replace.h"

namespace platform {

// Whether a name is one ReplaceFileContents gives its temporaries or its kept copies.
bool IsTemporaryName(const std::string& fileName);
bool IsKeptCopyName(const std::string& fileName);
// Removes a temporary left behind by a turn that was killed (one that no process holds).
bool RemoveIfStale(const std::string& path);

// What a load does with a leftover file of ours that no process holds: a temporary is removed;
// a kept copy is written over the photo its record names only when that photo is the same file
// (device and inode), in the same folder, and holds nothing but the old and new contents of that
// turn; a copy the photo already equals is removed. Either only when its maker could have written
// the photo anyway: the copy is a regular file, not a link, owned by the photo's owner, by root or
// by the user running this, and writable by its owner alone; the photo, reached without following
// a link, is a JPEG with more than one link and some write permission bit. Anything else named
// like ours is left as it is (Foreign, the rule it fails in `result`), never written over a photo
// and never deleted.
struct LeftoverResult {
    enum class Status { NotOurs, InUse, Removed, Finished, Failed, Foreign };
    Status status = Status::NotOurs;
    std::string leftover; // the file looked at
    dev_t device = 0;     // and its identity, for telling the same leftover apart from a new one
    ino_t inode = 0;
    std::string target; // the photo a kept copy belongs to, when its record names one
    Result result;      // why a kept copy was not put in place
};
LeftoverResult ResolveLeftover(const std::string& path, const ReplaceCalls& calls = {});

// The leftovers of ours directly in `folder`, for ResolveLeftover.
std::vector<std::string> LeftoversIn(const std::string& folder);

} // namespace platform
