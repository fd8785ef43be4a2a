// SPDX-License-Identifier: GPL-3.0-or-later
// The undo store's folders (see undo.h), each reached through its parent's descriptor: the
// commands of every stack, the photos a command lost, the store's lock, and the temporaries
// that records are written through.
#pragma once

#include "session/undo_types.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <memory>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <vector>

#include "platform/file_io.h"
#include "platform/result.h"

namespace session {

struct RecordTemporary {
    platform::UniqueFd fd;
    int folder = -1;
    std::string name;   // of the temporary
    std::string record; // the name it takes once complete
};

namespace undo_detail {

constexpr const char* kStoreLockName = ".lock";
// The photos of a command whose records were dropped: a reason byte, the path, a NUL, each.
constexpr const char* kLostName = "lost";
constexpr char kDroppedReason = 'd';
constexpr char kDidNotFitReason = 'f';
// Ends a list that grew to kMaxLostBytes: further photos were lost but are not named.
constexpr char kMoreReason = '+';
constexpr std::uint64_t kMaxLostBytes = 4u << 20;
// Stacks looked at below the root: each is held open while the store is walked.
constexpr int kMaxStacks = 64;

platform::Result NotAFolder(const std::string& shown, const struct stat& st);

// The folder `name` of `parent`, never through a link, made when `make` says so; mode 0700
// either way, since it holds copies of the user's photos. `shown` names it in a failure.
platform::UniqueFd OpenPrivateFolder(int parent, const std::string& name, bool make,
                                     const std::string& shown, platform::Result& failed);

std::string NewCommandName();

// A lock on `fd` taken without waiting; false while another holds it.
bool TryLock(int fd);

struct CommandFolder {
    std::shared_ptr<const platform::UniqueFd> stack;
    std::string stackName;
    std::string name;
    bool folder = true;               // false: a link or a file where a command's folder should be
    std::uint64_t bytes = 0;          // of its records and of the temporaries being written
    std::vector<std::string> records; // names, in the order they were kept
    std::vector<std::string> strays;  // named like records, but no regular file
    bool lost = false;                // names photos whose records were dropped
    bool counts() const { return !folder || bytes > 0 || !strays.empty() || lost; }
};

// Every command below `root` (all stacks, or only `onlyStack`), oldest first. A stack that is
// not a folder holds nothing of ours and is passed over.
std::vector<CommandFolder> CommandsIn(int root, const std::string& onlyStack = {});

platform::UniqueFd OpenCommand(const CommandFolder& command);

// Adds `paths` to the folder's list of lost photos and flushes it; past kMaxLostBytes the list
// only says that more were lost. The store's lock held, so that appends never interleave.
bool NoteLost(int folder, char reason, const std::vector<std::string>& paths);

struct LostPhoto {
    char reason = kDroppedReason;
    std::string path; // empty after kMoreReason
};

std::vector<LostPhoto> ReadLost(int folder);

// `list` names the list of lost photos, for the entry that stands for those it could not name.
UndoPhoto LostUndoPhoto(const LostPhoto& lost, const std::string& list);

// A temporary beside the record `record` of `folder`, locked while it is written: a sweep
// removes only temporaries that nobody holds. No fd when it cannot be made (errno says why).
RecordTemporary OpenRecordTemporary(int folder, const std::string& record);

// The store's lock, across processes, taken relative to the root's descriptor.
class StoreLock {
public:
    explicit StoreLock(int root)
        : m_fd(::openat(root, kStoreLockName, O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600)) {
        struct stat st {};
        if (!m_fd.valid() || ::fstat(m_fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
            m_result = m_fd.valid()
                           ? platform::Result::Failure(platform::Result::Kind::Unsupported,
                                                       platform::Why::UndoLockUnavailable, EINVAL)
                           : platform::Result::FromErrno(errno, platform::Why::UndoLockUnavailable);
            return;
        }
        int got = 0;
        while ((got = ::flock(m_fd.get(), LOCK_EX)) != 0 && errno == EINTR) {
        }
        if (got != 0) m_result = platform::Result::FromErrno(errno);
    }
    const platform::Result& result() const { return m_result; }
    // Counts the changes to the store's space made under the lock: a command reads the others'
    // sizes again only when another one changed them.
    std::uint64_t generation() const {
        std::uint8_t bytes[8] = {};
        if (::pread(m_fd.get(), bytes, sizeof bytes, 0) != ssize_t(sizeof bytes)) return 0;
        std::uint64_t value = 0;
        for (int i = 7; i >= 0; --i)
            value = value << 8 | bytes[i];
        return value;
    }
    // The next generation; when it cannot be written, none that anyone could have kept.
    std::uint64_t advance(std::uint64_t seen) const {
        std::uint8_t bytes[8];
        for (int i = 0; i < 8; ++i)
            bytes[i] = std::uint8_t((seen + 1) >> (8 * i));
        return ::pwrite(m_fd.get(), bytes, sizeof bytes, 0) == ssize_t(sizeof bytes) ? seen + 1
                                                                                     : ~0ull;
    }

private:
    platform::UniqueFd m_fd; // closing it lets go
    platform::Result m_result;
};

// The root and the stack, made when `make` says so, never through a link; the folders above the
// state folder may be made along links as any folder of the user's.
struct StoreFolders {
    platform::UniqueFd root, stack;
    platform::Result why;
};

StoreFolders OpenStore(const std::string& root, const std::string& stack, bool make);

// Drops the records of a command that no process is writing; the photos they were kept for are
// named in its folder first. False when it is being written or its photos cannot be named.
bool DropCommand(const CommandFolder& command);

// Removes a command that no process is writing or undoing, its list of lost photos with it.
void ClearCommand(const CommandFolder& command);

} // namespace undo_detail
} // namespace session
