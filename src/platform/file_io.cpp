// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/file_io.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>

#include "platform/photo_lock.h"

namespace platform {
namespace {

std::string ResolveLinks(const std::string& path) {
    std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr), &std::free);
    return real ? std::string(real.get()) : path;
}

std::string FolderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Extended attributes are copied where the file system has them; a failure is not fatal
// (many file systems have none).
void CopyExtendedAttributes(int from, int to) {
    const ssize_t listSize = ::flistxattr(from, nullptr, 0);
    if (listSize <= 0 || listSize > 1 << 20) return;
    std::string names(std::size_t(listSize), '\0');
    const ssize_t got = ::flistxattr(from, names.data(), names.size());
    if (got <= 0) return;
    for (std::size_t pos = 0; pos < std::size_t(got);) {
        const char* name = names.c_str() + pos;
        pos += std::strlen(name) + 1;
        const ssize_t valueSize = ::fgetxattr(from, name, nullptr, 0);
        if (valueSize < 0 || valueSize > 1 << 20) continue;
        std::string value(std::size_t(valueSize), '\0');
        if (::fgetxattr(from, name, value.data(), value.size()) == valueSize)
            ::fsetxattr(to, name, value.data(), value.size(), 0);
    }
}

std::string BaseNameOf(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

int FlushFolder(const std::string& folder, const FlushCalls& calls) {
    UniqueFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir.valid()) return errno;
    if (calls.fsyncFolder(dir.get()) == 0) return 0;
    // Some file systems cannot flush a folder at all; nothing is lost by going on.
    return errno == EINVAL || errno == ENOTSUP ? 0 : errno;
}

// Names fit in NAME_MAX with the marker; longer ones are cut, which only a kept copy minds (its
// leftover then names no file and is kept).
constexpr std::size_t kMaxBaseInName = 200;

class TemporaryFile {
public:
    explicit TemporaryFile(const std::string& target) {
        m_path = FolderOf(target) + "/." + BaseNameOf(target).substr(0, kMaxBaseInName) +
                 kTemporaryMarker + "XXXXXX";
        m_fd = UniqueFd(::mkostemp(m_path.data(), O_CLOEXEC));
        // Locked while in use: a later start removes only temporaries nobody holds.
        if (m_fd.valid() && ::flock(m_fd.get(), LOCK_EX | LOCK_NB) != 0) m_fd.reset();
        if (!m_fd.valid()) m_path.clear();
    }
    ~TemporaryFile() {
        if (!m_path.empty()) ::unlink(m_path.c_str());
    }
    int fd() const { return m_fd.get(); }
    const std::string& path() const { return m_path; }
    bool valid() const { return m_fd.valid(); }
    int close(const FlushCalls& calls) { return calls.closeFile(m_fd.release()) == 0 ? 0 : errno; }
    void keep() { m_path.clear(); } // renamed into place, or left for the user
    // Renames the complete, flushed file to its kept-copy name; still removed on destruction.
    int markComplete() {
        const auto at = m_path.rfind(kTemporaryMarker);
        const std::string kept = m_path.substr(0, at) + kKeptCopyMarker +
                                 m_path.substr(at + std::strlen(kTemporaryMarker));
        if (::rename(m_path.c_str(), kept.c_str()) != 0) return errno;
        m_path = kept;
        return 0;
    }

private:
    std::string m_path;
    UniqueFd m_fd;
};

int OverwriteInPlace(const std::string& target, std::span<const std::uint8_t> bytes,
                     const FlushCalls& calls) {
    UniqueFd fd(::open(target.c_str(), O_WRONLY | O_CLOEXEC));
    if (!fd.valid()) return errno;
    if (!WriteFullyAt(fd.get(), bytes.data(), bytes.size(), 0)) return errno;
    if (::ftruncate(fd.get(), off_t(bytes.size())) != 0) return errno;
    if (calls.fsyncFile(fd.get()) != 0) return errno;
    return calls.closeFile(fd.release()) == 0 ? 0 : errno;
}

std::string FlushWarning(const std::string& target, int error) {
    return target + ": turned, but it could not be flushed to disk: " + std::strerror(error);
}

// Renaming would cut the other links off, so the file is rewritten in place, and only while a
// complete, flushed copy stands beside it under a name a later load recognises.
ReplaceResult RewriteLinkedFile(const std::string& target, std::span<const std::uint8_t> bytes,
                                TemporaryFile& temp, const FlushCalls& calls) {
    ReplaceResult result;
    if (const int error = temp.markComplete()) {
        result.result = Result::FromErrno(error);
        return result;
    }
    if (const int error = FlushFolder(FolderOf(target), calls)) {
        result.result = Result::FromErrno(error);
        return result;
    }
    if (const int error = OverwriteInPlace(target, bytes, calls)) {
        result.result = Result::FromErrno(error);
        result.keptCopy = temp.path();
        temp.keep();
    }
    return result;
}

// Another program's change that the turned photo would wipe out wins: the turn is given up.
Result CheckUnchanged(const std::string& target, const ReadPhoto* original) {
    if (!original || UnchangedSince(target, *original)) return {};
    return Result::FromErrno(ESTALE, kPhotoChangedText);
}

} // namespace

bool ReadFullyAt(int fd, void* dst, std::size_t n, std::uint64_t offset) {
    auto* p = static_cast<std::uint8_t*>(dst);
    while (n > 0) {
        const ssize_t got = ::pread(fd, p, n, off_t(offset));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            if (got == 0) errno = EIO; // the file ended early
            return false;
        }
        p += got;
        offset += std::uint64_t(got);
        n -= std::size_t(got);
    }
    return true;
}

bool WriteFullyAt(int fd, const void* src, std::size_t n, std::uint64_t offset) {
    const auto* p = static_cast<const std::uint8_t*>(src);
    while (n > 0) {
        const ssize_t put = ::pwrite(fd, p, n, off_t(offset));
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) {
            if (put == 0) errno = EIO;
            return false;
        }
        p += put;
        offset += std::uint64_t(put);
        n -= std::size_t(put);
    }
    return true;
}

void UniqueFd::reset(int fd) {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = fd;
}

Result ReadFileBytes(const std::string& path, std::vector<std::uint8_t>& out,
                     std::uint64_t maxBytes) {
    out.clear();
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    struct stat st {};
    if (!fd.valid() || ::fstat(fd.get(), &st) != 0) return Result::FromErrno(errno);
    if (!S_ISREG(st.st_mode)) return Result::FromErrno(EINVAL);
    if (std::uint64_t(st.st_size) > maxBytes) return Result::FromErrno(EFBIG);
    out.resize(std::size_t(st.st_size));
    if (!ReadFullyAt(fd.get(), out.data(), out.size(), 0)) {
        const int error = errno;
        out.clear();
        return Result::FromErrno(error);
    }
    return {};
}

ReplaceResult ReplaceFileContents(const std::string& path, std::span<const std::uint8_t> bytes,
                                  const FlushCalls& calls, const ReadPhoto* original) {
    ReplaceResult result;
    const auto failed = [&result](int error) {
        result.result = Result::FromErrno(error);
        return result;
    };
    const std::string target = ResolveLinks(path);
    struct stat st {};
    if (::stat(target.c_str(), &st) != 0) return failed(errno);
    if (!S_ISREG(st.st_mode)) return failed(EINVAL);
    if (::access(target.c_str(), W_OK) != 0) return failed(errno);

    TemporaryFile temp(target);
    if (!temp.valid()) return failed(errno);
    if (!WriteFullyAt(temp.fd(), bytes.data(), bytes.size(), 0)) return failed(errno);
    if (::fchmod(temp.fd(), st.st_mode & 07777) != 0) return failed(errno);
    // Owner and group can only be kept where the process may give them away.
    if (::fchown(temp.fd(), st.st_uid, st.st_gid) != 0 && errno != EPERM) return failed(errno);
    {
        UniqueFd original(::open(target.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
        if (original.valid()) CopyExtendedAttributes(original.get(), temp.fd());
    }
    if (calls.fsyncFile(temp.fd()) != 0) return failed(errno);

    if (st.st_nlink > 1) return RewriteLinkedFile(target, bytes, temp, calls);
    calls.beforeReplace();
    if (Result changed = CheckUnchanged(target, original); !changed.ok()) {
        result.result = std::move(changed);
        return result;
    }
    if (::rename(temp.path().c_str(), target.c_str()) != 0) return failed(errno);
    temp.keep();
    // The new contents are in place: a flush that fails from here on does not undo the turn,
    // and calling it failed would have the user turn the photo a second time.
    if (const int error = temp.close(calls)) {
        result.warning = FlushWarning(target, error);
    } else if (const int error = FlushFolder(FolderOf(target), calls)) {
        result.warning = FlushWarning(target, error);
    }
    return result;
}

Result GetFileTimes(const std::string& path, FileTimes& times) {
    UniqueFd fd(::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    struct stat st {};
    if (!fd.valid() || ::fstat(fd.get(), &st) != 0) return Result::FromErrno(errno);
    times.access = st.st_atim;
    times.modification = st.st_mtim;
    return {};
}

Result SetFileTimes(const std::string& path, const FileTimes& times) {
    UniqueFd fd(::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    const struct timespec both[2] = {times.access, times.modification};
    if (!fd.valid() || ::futimens(fd.get(), both) != 0) return Result::FromErrno(errno);
    return {};
}

namespace {

bool HasMarker(const std::string& name, const char* marker) {
    const auto at = name.rfind(marker);
    return !name.empty() && name[0] == '.' && at != std::string::npos &&
           name.size() == at + std::strlen(marker) + 6;
}

// Opens a leftover of ours and takes its lock; invalid when it is not a plain file or is held.
UniqueFd LockLeftover(const std::string& path) {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    struct stat st {};
    if (!fd.valid() || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return {};
    // Held by a turn in progress: not a leftover.
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) return {};
    return fd;
}

} // namespace

bool IsTemporaryName(const std::string& name) {
    return HasMarker(name, kTemporaryMarker);
}

bool IsKeptCopyName(const std::string& name) {
    return HasMarker(name, kKeptCopyMarker);
}

bool RemoveIfStale(const std::string& path) {
    if (!IsTemporaryName(BaseNameOf(path))) return false;
    const UniqueFd fd = LockLeftover(path);
    return fd.valid() && ::unlink(path.c_str()) == 0;
}

LeftoverOutcome ResolveLeftover(const std::string& path, const FlushCalls& calls) {
    using Status = LeftoverOutcome::Status;
    LeftoverOutcome outcome;
    const std::string name = BaseNameOf(path);
    if (IsTemporaryName(name)) {
        outcome.status = RemoveIfStale(path) ? Status::Removed : Status::InUse;
        return outcome;
    }
    if (!IsKeptCopyName(name)) return outcome;
    const UniqueFd fd = LockLeftover(path);
    if (!fd.valid()) {
        outcome.status = Status::InUse;
        return outcome;
    }
    outcome.target = FolderOf(path) + "/" + name.substr(1, name.rfind(kKeptCopyMarker) - 1);
    outcome.status = Status::Failed;
    // The copy is complete (it gets its name only once flushed); the photo may be half rewritten.
    std::vector<std::uint8_t> bytes;
    struct stat st {};
    if (Result read = ReadFileBytes(path, bytes); !read.ok()) {
        outcome.result = std::move(read);
    } else if (::lstat(outcome.target.c_str(), &st) != 0) {
        outcome.result = Result::FromErrno(errno);
    } else if (!S_ISREG(st.st_mode)) {
        outcome.result = Result::FromErrno(EINVAL);
    } else if (const int error = OverwriteInPlace(outcome.target, bytes, calls)) {
        outcome.result = Result::FromErrno(error);
    } else {
        outcome.status = Status::Finished;
        ::unlink(path.c_str());
    }
    return outcome;
}

std::string SystemErrorText(int error) {
    return "System Error.  Code: " + std::to_string(error) + ".\n" + std::strerror(error);
}

} // namespace platform
