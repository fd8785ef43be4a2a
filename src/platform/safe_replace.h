// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <sys/stat.h>
#include <sys/xattr.h>

#include "platform/file_io.h"
#include "platform/photo_lock.h"
#include "platform/result.h"

namespace platform {

// The system calls a safe replacement makes (those that make written data durable, reserve,
// cut, set times and attributes) and the moments it can be interrupted.
// Tests pass failing ones, or hooks, to reach the paths a real disk takes only rarely.
struct ReplaceCalls {
    std::function<int(int fd)> fsyncFile = [](int fd) { return ::fsync(fd); };
    std::function<int(int fd)> closeFile = [](int fd) { return ::close(fd); };
    std::function<int(int fd)> fsyncFolder = [](int fd) { return ::fsync(fd); };
    // Reserves the blocks of `length` bytes of an open file, without changing its size, before
    // it is rewritten in place; -1 with errno on failure.
    std::function<int(int fd, off_t length)> reserve = [](int fd, off_t length) {
        return ::fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, length);
    };
    // Cuts an open file back to `length` bytes; -1 with errno on failure.
    std::function<int(int fd, off_t length)> truncate = [](int fd, off_t length) {
        return ::ftruncate(fd, length);
    };
    // Gives the new contents the times asked for; -1 with errno on failure.
    std::function<int(int fd, const struct timespec times[2])> setTimes =
        [](int fd, const struct timespec times[2]) { return ::futimens(fd, times); };
    // Sets one extended attribute on the new contents; -1 with errno on failure.
    std::function<int(int fd, const char* name, const void* value, std::size_t size)> setXattr =
        [](int fd, const char* name, const void* value, std::size_t size) {
            return ::fsetxattr(fd, name, value, size, 0);
        };
    // Runs after the new contents are complete and just before they take the original's place.
    std::function<void()> beforeReplace = [] {};
    LockWait lockWait;
};

struct ReplaceResult {
    // A failure when the new contents did not take the file's place; DoneBut (NotFlushed, about
    // the file) when they did, but a later flush failed and they are not yet safely on disk.
    Result result;
    Result times; // they did, but the times asked for could not be given to them
    // The complete new contents, left beside a hard-linked file whose rewrite failed and which
    // could not be put back, or read back, holding exactly its old or its new contents.
    std::string keptCopy;
    bool replaced() const { return result.done(); }
};

struct LockedPhoto;

// Replaces the contents of the opened (and locked) `photo` with `bytes` so that a crash or a full
// disk leaves either the old or the new contents, complete:
//   - everything happens to the photo's entry in the folder it was opened in, through the
//     folder's descriptor: no path is resolved again, no link swapped in meanwhile followed;
//   - the new contents go to a temporary file in the same folder, which is flushed;
//   - permission bits, owner and group (where allowed) and every extended attribute are copied:
//     an attribute that cannot be copied refuses the replacement;
//   - `times`, when given, are set on the new contents before they take the photo's place (a
//     failure only fills `times` of the result);
//   - a file with one link is replaced by renaming over it, then the folder is flushed;
//   - a file with several hard links is rewritten in place, only once the complete new
//     contents are safe on disk beside it (under a "kept copy" name) and the space for them is
//     reserved; the copy stays until the rewrite has been flushed. A rewrite that fails all the
//     same puts the old contents back; the copy is removed only when the file then holds exactly
//     its old or its new contents, and otherwise stays (keptCopy);
//   - a file without any write permission bit is refused (EACCES), also for root.
// On any other error the original is untouched and no temporary is left.
ReplaceResult ReplaceFileContents(const LockedPhoto& photo, std::span<const std::uint8_t> bytes,
                                  const ReplaceCalls& calls = {},
                                  const PhotoAsRead* original = nullptr,
                                  const FileTimes* times = nullptr);

// The same for a caller that holds no lock: `path`'s links are resolved once (a symbolic link
// stays a link: its target is replaced) and its folder opened.
ReplaceResult ReplaceFileContents(const std::string& path, std::span<const std::uint8_t> bytes,
                                  const ReplaceCalls& calls = {},
                                  const PhotoAsRead* original = nullptr,
                                  const FileTimes* times = nullptr);

// Temporary files of ReplaceFileContents are named ".NAME.tulvex-tmp-XXXXXX"; complete copies
// kept for a hard-linked file ".NAME.tulvex-keep-XXXXXX", NAME cut (at a character) where the
// whole would not fit a file name. A kept copy holds the turned photo followed by a record of the
// file and the turn it completes; the name alone never decides where a copy goes.
inline constexpr const char* kTemporaryMarker = ".tulvex-tmp-";
inline constexpr const char* kKeptCopyMarker = ".tulvex-keep-";

} // namespace platform
