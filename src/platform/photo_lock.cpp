// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/photo_lock.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <sys/file.h>
#include <thread>

namespace platform {
namespace {

// A name replaced this often while it was waited for is being rewritten by someone else in a
// loop.
constexpr int kMaxReopens = 8;
// Status-change times come from a coarse clock; older than this they cannot hide a write.
constexpr time_t kCoarseClockMargin = 1;

bool SameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool SameTime(const struct timespec& a, const struct timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

Result Busy() {
    return Result::Failure(Result::Kind::Busy, Why::PhotoBusy, EWOULDBLOCK);
}

bool ChangedJustBeforeRead(const PhotoAsRead& read) {
    const struct timespec& changed = read.identity.st_ctim;
    return changed.tv_sec + kCoarseClockMargin >= read.readClock.tv_sec;
}

// Where the kernel's protected_symlinks is off, a link another user left in a shared sticky
// folder (a family share, /tmp) would let them aim our turn, root's included, at any photo we may
// write. It is not followed, as that setting would have it.
Result RefuseForeignLinkInSharedFolder(const std::string& path) {
    struct stat link {};
    if (::lstat(path.c_str(), &link) != 0 || !S_ISLNK(link.st_mode)) return {};
    const auto slash = path.rfind('/');
    const std::string folder =
        slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
    struct stat shared {};
    if (::stat(folder.c_str(), &shared) != 0) return {}; // resolving the path will say why
    const bool sticky = (shared.st_mode & S_ISVTX) != 0 && (shared.st_mode & S_IWOTH) != 0;
    if (!sticky || link.st_uid == ::geteuid() || link.st_uid == shared.st_uid) return {};
    return Result::Failure(Result::Kind::NoPermission, Why::ForeignLink, EACCES);
}

// The one resolution of the photo's links: its folder is opened and its name kept.
Result OpenFolderOf(const std::string& path, LockedPhoto& out) {
    if (Result foreign = RefuseForeignLinkInSharedFolder(path); !foreign.ok()) return foreign;
    std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr), &std::free);
    if (!real) return Result::FromErrno(errno);
    out.target = real.get();
    const auto slash = out.target.rfind('/');
    const std::string folder = slash == 0 ? "/" : out.target.substr(0, slash);
    out.name = out.target.substr(slash + 1);
    if (out.name.empty()) return NotARegularFile(); // the root folder
    out.folder = UniqueFd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return out.folder.valid() ? Result() : Result::FromErrno(errno);
}

// A link where the photo's entry was: someone swapped it in after the links were resolved.
Result OpenFailure(int error) {
    return error == ELOOP ? PhotoChanged() : Result::FromErrno(error);
}

Result OpenEntry(const std::string& path, int flags, const LockWait* wait, LockedPhoto& out) {
    if (Result opened = OpenFolderOf(path, out); !opened.ok()) return opened;
    for (int attempt = 0; attempt <= kMaxReopens; ++attempt) {
        // O_NONBLOCK keeps a FIFO posing as a photo from blocking the open.
        UniqueFd fd(::openat(out.folder.get(), out.name.c_str(),
                             flags | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW));
        struct stat held {};
        if (!fd.valid()) return OpenFailure(errno);
        if (::fstat(fd.get(), &held) != 0) return Result::FromErrno(errno);
        if (!S_ISREG(held.st_mode)) return NotARegularFile();
        if (wait) {
            if (Result locked = WaitForLock(fd.get(), *wait); !locked.ok()) return locked;
        }
        struct stat named {};
        if (::fstatat(out.folder.get(), out.name.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0)
            return Result::FromErrno(errno);
        if (!SameFile(held, named)) continue; // replaced while waited for: lock the new one
        if (::fstat(fd.get(), &out.identity) != 0) return Result::FromErrno(errno);
        out.fd = std::move(fd);
        return {};
    }
    return Busy();
}

} // namespace

// Polls rather than blocks, so that the wait has an end.
Result WaitForLock(int fd, const LockWait& wait) {
    const auto deadline = std::chrono::steady_clock::now() + wait.total;
    for (bool told = false;;) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return {};
        if (errno != EWOULDBLOCK && errno != EINTR) return Result::FromErrno(errno);
        if (!told) {
            told = true;
            wait.onBusy();
        }
        if (std::chrono::steady_clock::now() >= deadline) return Busy();
        std::this_thread::sleep_for(wait.step);
    }
}

Result LockPhoto(const std::string& path, int flags, const LockWait& wait, LockedPhoto& out) {
    return OpenEntry(path, flags, &wait, out);
}

Result OpenPhoto(const std::string& path, int flags, LockedPhoto& out) {
    return OpenEntry(path, flags, nullptr, out);
}

Result ReadLockedPhoto(const LockedPhoto& photo, std::vector<std::uint8_t>& bytes,
                       PhotoAsRead& read, std::uint64_t maxBytes) {
    bytes.clear();
    read = {};
    ::clock_gettime(CLOCK_REALTIME, &read.readClock);
    if (::fstat(photo.fd.get(), &read.identity) != 0) return Result::FromErrno(errno);
    if (std::uint64_t(read.identity.st_size) > maxBytes) return Result::FromErrno(EFBIG);
    bytes.resize(std::size_t(read.identity.st_size));
    if (!ReadFullyAt(photo.fd.get(), bytes.data(), bytes.size(), 0)) {
        const int error = errno;
        bytes.clear();
        return Result::FromErrno(error);
    }
    read.bytes = bytes;
    return {};
}

bool UnchangedSince(int folder, const std::string& name, const PhotoAsRead& read) {
    UniqueFd fd(
        ::openat(folder, name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW));
    struct stat now {};
    if (!fd.valid() || ::fstat(fd.get(), &now) != 0) return false;
    const struct stat& then = read.identity;
    if (!SameFile(now, then) || now.st_size != then.st_size ||
        std::uint64_t(now.st_size) != read.bytes.size() || !SameTime(now.st_mtim, then.st_mtim) ||
        !SameTime(now.st_ctim, then.st_ctim))
        return false;
    return !ChangedJustBeforeRead(read) || BeginsWith(fd.get(), read.bytes);
}

} // namespace platform
