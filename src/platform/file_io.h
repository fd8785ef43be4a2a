// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <vector>

#include "platform/result.h"

namespace platform {

// A file descriptor that is closed when it goes out of scope.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : m_fd(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(UniqueFd&& other) noexcept : m_fd(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    int release() {
        const int fd = m_fd;
        m_fd = -1;
        return fd;
    }
    void reset(int fd = -1);

private:
    int m_fd = -1;
};

// Reads or writes exactly n bytes at `offset`, retrying after signals; false (errno set) on an
// error or an early end of file.
bool ReadFullyAt(int fd, void* dst, std::size_t n, std::uint64_t offset);
bool WriteFullyAt(int fd, const void* src, std::size_t n, std::uint64_t offset);
// Whether the file `fd` reads begins with `expected`, read from the start in pieces.
bool BeginsWith(int fd, std::span<const std::uint8_t> expected);

// Reads a whole regular file of at most maxBytes; an error (and `out` empty) otherwise, a read
// error or a file that ends early included.
Result ReadFileBytes(const std::string& path, std::vector<std::uint8_t>& out,
                     std::uint64_t maxBytes = 1ull << 30);

struct FileTimes {
    struct timespec access {};
    struct timespec modification {};
};

// How long a photo that another process holds is waited for before the work on it is given up;
// `onBusy` runs once when the wait begins (a seam for tests).
struct LockWait {
    std::chrono::milliseconds total{3000};
    std::chrono::milliseconds step{15};
    std::function<void()> onBusy = [] {};
};

// The calls that make written data durable, and the moments a replacement can be interrupted.
// Tests pass failing ones, or hooks, to reach the paths a real disk takes only rarely.
struct FlushCalls {
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

// The photo as it was read for the turn: what the replacement must still find in its place, and
// what a failed in-place rewrite can put back.
struct ReadPhoto {
    std::span<const std::uint8_t> bytes;
    struct stat identity {};      // the file's status when it was read
    struct timespec readClock {}; // CLOCK_REALTIME just before the read
};

struct ReplaceResult {
    Result result;       // an error when the new contents did not take the file's place
    std::string warning; // they did, but a later flush failed: a text that names the file and
                         // says it is not yet safely on disk
    Result times;        // they did, but the times asked for could not be given to them
    // The complete new contents, left beside a hard-linked file whose rewrite failed and which
    // could not be put back, or read back, holding exactly its old or its new contents.
    std::string keptCopy;
    bool replaced() const { return result.ok(); }
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
                                  const FlushCalls& calls = {}, const ReadPhoto* original = nullptr,
                                  const FileTimes* times = nullptr);

// The same for a caller that holds no lock: `path`'s links are resolved once (a symbolic link
// stays a link: its target is replaced) and its folder opened.
ReplaceResult ReplaceFileContents(const std::string& path, std::span<const std::uint8_t> bytes,
                                  const FlushCalls& calls = {}, const ReadPhoto* original = nullptr,
                                  const FileTimes* times = nullptr);

// Temporary files of ReplaceFileContents are named ".NAME.tulvex-tmp-XXXXXX"; complete copies
// kept for a hard-linked file ".NAME.tulvex-keep-XXXXXX", NAME cut (at a character) where the
// whole would not fit a file name. A kept copy holds the turned photo followed by a record of the
// file and the turn it completes; the name alone never decides where a copy goes.
inline constexpr const char* kTemporaryMarker = ".tulvex-tmp-";
inline constexpr const char* kKeptCopyMarker = ".tulvex-keep-";
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
struct LeftoverOutcome {
    enum class Status { NotOurs, InUse, Removed, Finished, Failed, Foreign };
    Status status = Status::NotOurs;
    std::string leftover; // the file looked at
    dev_t device = 0;     // and its identity, for telling the same leftover apart from a new one
    ino_t inode = 0;
    std::string target; // the photo a kept copy belongs to, when its record names one
    Result result;      // why a kept copy was not put in place
};
LeftoverOutcome ResolveLeftover(const std::string& path, const FlushCalls& calls = {});

// The leftovers of ours directly in `folder`, for ResolveLeftover.
std::vector<std::string> LeftoversIn(const std::string& folder);

// Like the original's handle-based calls: the file must open for reading and writing.
Result GetFileTimes(const std::string& path, FileTimes& times);
Result SetFileTimes(const std::string& path, const FileTimes& times);

std::string SystemErrorText(int error);

} // namespace platform
