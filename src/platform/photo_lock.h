// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <functional>
#include <span>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "platform/file_io.h"
#include "platform/result.h"

namespace platform {

// How long a photo that another process holds is waited for before the work on it is given up;
// `onBusy` runs once when the wait begins (a seam for tests).
struct LockWait {
    std::chrono::milliseconds total{3000};
    std::chrono::milliseconds step{15};
    std::function<void()> onBusy = [] {};
};

// The photo as it was read for the turn: what the replacement must still find in its place, and
// what a failed in-place rewrite can put back.
struct PhotoAsRead {
    std::span<const std::uint8_t> bytes;
    struct stat identity {};      // the file's status when it was read
    struct timespec readClock {}; // CLOCK_REALTIME just before the read
};

// Every Tulvex process that changes a photo holds an exclusive flock on it from the read to the
// replacement, so that two processes never both turn what one of them read.
// Links are resolved once, when the photo is opened: from then on the photo is its entry in its
// folder, reached through the folder's descriptor, so that a link swapped in meanwhile is never
// followed.
struct LockedPhoto {
    std::string target; // the path with symbolic links resolved, for messages
    UniqueFd folder;    // the folder the photo's entry is in
    std::string name;   // that entry
    UniqueFd fd;        // holds the lock
    struct stat identity {};
};

// Opens the file `path` names with `flags` (O_RDONLY or O_RDWR) and takes the lock, waiting as
// `wait` says. A name that moved to another file meanwhile (another process's turn renamed its
// result into place) is opened again. Not a regular file: EINVAL (Unsupported); held past the wait:
// EWOULDBLOCK (Busy, Why::PhotoBusy).
Result LockPhoto(const std::string& path, int flags, const LockWait& wait, LockedPhoto& out);

// The same without the lock, for a caller that replaces a file no other turn works on.
Result OpenPhoto(const std::string& path, int flags, LockedPhoto& out);

// Takes the exclusive lock on an open photo, waiting as `wait` says; held past the wait: Busy.
Result WaitForLock(int fd, const LockWait& wait);

// Reads the whole locked photo (at most maxBytes) through its descriptor into `bytes`, and
// records in `read` what UnchangedSince compares later; `read.bytes` views `bytes`.
Result ReadLockedPhoto(const LockedPhoto& photo, std::vector<std::uint8_t>& bytes,
                       PhotoAsRead& read, std::uint64_t maxBytes = 1ull << 30);

// Whether the entry `name` of `folder` (not followed when it is a link) is still the file that was
// read: same device, inode, size,
// modification and status-change times, and, when its status changed less than a second before
// the read (within the tick of a coarse clock a same-size write could leave every time as it
// was), the same bytes. A program that ignores the lock and writes between this check and the
// rename that follows it (a few microseconds) still goes unnoticed.
bool UnchangedSince(int folder, const std::string& name, const PhotoAsRead& read);

// ESTALE stays for callers that look at the system's error number.
inline Result PhotoChanged() {
    return Result::Failure(Result::Kind::ChangedMeanwhile, Why::PhotoChanged, ESTALE);
}

} // namespace platform
