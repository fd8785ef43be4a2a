// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/file_io.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <optional>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/xattr.h>

#include "platform/kept_copy.h"
#include "platform/photo_lock.h"

namespace platform {
namespace {

std::string FolderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Far above what Linux allows for a list of names or one value (64 KiB).
constexpr ssize_t kMaxAttributeBytes = 1 << 20;

// An attribute's value, read whole; nullopt with errno set when it cannot be.
std::optional<std::string> AttributeValue(int fd, const char* name) {
    const ssize_t size = ::fgetxattr(fd, name, nullptr, 0);
    if (size < 0) return std::nullopt;
    if (size > kMaxAttributeBytes) {
        errno = E2BIG;
        return std::nullopt;
    }
    std::string value(std::size_t(size), '\0');
    const ssize_t got = ::fgetxattr(fd, name, value.data(), value.size());
    if (got < 0) return std::nullopt;
    value.resize(std::size_t(got));
    return value;
}

// Every extended attribute (ACLs are some) goes to the new contents, or the error says why not.
// One the system refuses to set is all right only where the new file already holds that very
// value (one every new file in the folder gets, say).
int CopyExtendedAttributes(int from, int to, const FlushCalls& calls) {
    const ssize_t listSize = ::flistxattr(from, nullptr, 0);
    if (listSize < 0) return errno == ENOTSUP ? 0 : errno; // a file system without any
    if (listSize > kMaxAttributeBytes) return E2BIG;
    std::string names(std::size_t(listSize), '\0');
    const ssize_t got = listSize == 0 ? 0 : ::flistxattr(from, names.data(), names.size());
    if (got < 0) return errno;
    for (std::size_t pos = 0; pos < std::size_t(got);) {
        const char* name = names.c_str() + pos;
        pos += std::strlen(name) + 1;
        const std::optional<std::string> value = AttributeValue(from, name);
        if (!value) {
            if (errno == ENODATA) continue; // removed since it was listed
            return errno;
        }
        if (calls.setXattr(to, name, value->data(), value->size()) == 0) continue;
        const int error = errno;
        if (AttributeValue(to, name) != value) return error;
    }
    return 0;
}

Result AttributesNotCopied(int error) {
    return Result::FromErrno(error, std::string("its extended attributes could not be copied: ") +
                                        std::strerror(error));
}

std::string BaseNameOf(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

int FlushFolder(int folder, const FlushCalls& calls) {
    if (calls.fsyncFolder(folder) == 0) return 0;
    // Some file systems cannot flush a folder at all; nothing is lost by going on.
    return errno == EINVAL || errno == ENOTSUP ? 0 : errno;
}

// The longest base name a temporary or kept-copy name holds: "." + base + marker + 6 letters
// fit in NAME_MAX. Cut names may be shared by two photos; the kept copy's record, not its name,
// says which photo it belongs to.
constexpr std::size_t kMaxBaseInName = NAME_MAX - 1 - sizeof(".tulvex-keep-") + 1 - 6;
static_assert(sizeof(".tulvex-keep-") - 1 == 13 && sizeof(".tulvex-tmp-") - 1 == 12);

// A cut inside a multi-byte UTF-8 character would leave a name no file manager shows properly.
std::string CutAtCharacter(const std::string& name, std::size_t limit) {
    if (name.size() <= limit) return name;
    std::size_t cut = limit;
    while (cut > 0 && (std::uint8_t(name[cut]) & 0xC0) == 0x80)
        --cut;
    return name.substr(0, cut);
}

// Gives the entry `from` of `folder` the name `to` unless a file already has it.
int RenameWithoutReplacing(int folder, const std::string& from, const std::string& to) {
    if (::renameat2(folder, from.c_str(), folder, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS) return errno;
    // A file system without the flag: a new link refuses an existing name just the same.
    if (::linkat(folder, from.c_str(), folder, to.c_str(), 0) != 0) return errno;
    ::unlinkat(folder, from.c_str(), 0);
    return 0;
}

// Made new, under a random name, in the photo's folder (its descriptor, which outlives this).
class TemporaryFile {
public:
    TemporaryFile(int folder, const std::string& photoName) : m_folder(folder) {
        std::string stem = ".";
        stem += CutAtCharacter(photoName, kMaxBaseInName);
        stem += kTemporaryMarker;
        for (int attempt = 0; attempt < 16 && !m_fd.valid(); ++attempt) {
            m_name = stem + RandomSuffix();
            m_fd = UniqueFd(::openat(folder, m_name.c_str(),
                                     O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
            if (!m_fd.valid() && errno != EEXIST) break;
        }
        // Locked while in use: a later start removes only temporaries nobody holds.
        if (m_fd.valid() && ::flock(m_fd.get(), LOCK_EX | LOCK_NB) != 0) {
            const int error = errno;
            ::unlinkat(folder, m_name.c_str(), 0);
            m_fd.reset();
            errno = error;
        }
        if (!m_fd.valid()) m_name.clear();
    }
    ~TemporaryFile() {
        if (!m_name.empty()) ::unlinkat(m_folder, m_name.c_str(), 0);
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    int fd() const { return m_fd.get(); }
    const std::string& name() const { return m_name; }
    bool valid() const { return m_fd.valid(); }
    int close(const FlushCalls& calls) { return calls.closeFile(m_fd.release()) == 0 ? 0 : errno; }
    void keep() { m_name.clear(); } // renamed into place, or left for the user
    // Renames the complete, flushed file to a kept-copy name; still removed on destruction. An
    // existing file of that name (a leftover, a stranger's) is never replaced.
    int markComplete() {
        const auto at = m_name.rfind(kTemporaryMarker);
        const std::string stem = m_name.substr(0, at) + kKeptCopyMarker;
        std::string suffix = m_name.substr(at + std::strlen(kTemporaryMarker));
        for (int attempt = 0; attempt < 16; ++attempt) {
            const std::string kept = stem + suffix;
            const int error = RenameWithoutReplacing(m_folder, m_name, kept);
            if (error == 0) {
                m_name = kept;
                return 0;
            }
            if (error != EEXIST) return error;
            suffix = RandomSuffix();
        }
        return EEXIST;
    }

private:
    static std::string RandomSuffix() {
        static constexpr char kLetters[] =
            "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
        std::uint8_t random[6] = {};
        if (::getrandom(random, sizeof random, 0) != ssize_t(sizeof random)) {
            struct timespec now {};
            ::clock_gettime(CLOCK_MONOTONIC, &now);
            std::memcpy(random, &now.tv_nsec, std::min(sizeof random, sizeof now.tv_nsec));
        }
        std::string out;
        for (const std::uint8_t r : random)
            out += kLetters[r % (sizeof kLetters - 1)];
        return out;
    }

    int m_folder = -1;
    std::string m_name;
    UniqueFd m_fd;
};

std::string FlushWarning(const std::string& target, int error) {
    return target +
           ": turned, but not yet safely on disk: flushing it failed: " + std::strerror(error);
}

bool SameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Makes sure a rewrite to `newSize` cannot run out of space half way. Where the file system
// cannot reserve, a photo that does not grow needs no block it does not have; one that grows
// gets its growth written first, past its end, where a failure is cut off again without a byte
// of the photo touched.
int ReserveForRewrite(int fd, std::span<const std::uint8_t> bytes, std::uint64_t oldSize,
                      const FlushCalls& calls) {
    if (calls.reserve(fd, off_t(bytes.size())) == 0) return 0;
    const int error = errno;
    if (error != EOPNOTSUPP) return error;
    if (bytes.size() <= oldSize) return 0;
    if (WriteFullyAt(fd, bytes.data() + oldSize, bytes.size() - oldSize, oldSize) &&
        calls.fsyncFile(fd) == 0)
        return 0;
    const int failed = errno;
    if (calls.truncate(fd, off_t(oldSize)) != 0) return errno;
    return failed;
}

// Without the flush.
int PutWhole(int fd, std::span<const std::uint8_t> bytes, const FlushCalls& calls) {
    if (!WriteFullyAt(fd, bytes.data(), bytes.size(), 0)) return errno;
    return calls.truncate(fd, off_t(bytes.size())) == 0 ? 0 : errno;
}

int WriteWhole(int fd, std::span<const std::uint8_t> bytes, const FlushCalls& calls) {
    if (const int error = PutWhole(fd, bytes, calls)) return error;
    return calls.fsyncFile(fd) == 0 ? 0 : errno;
}

Result SetTimes(int fd, const FileTimes& times, const FlushCalls& calls) {
    const struct timespec both[2] = {times.access, times.modification};
    return calls.setTimes(fd, both) == 0 ? Result() : Result::FromErrno(errno);
}

// Read through `fd`, which need not be the descriptor being written.
bool HoldsExactly(int fd, std::span<const std::uint8_t> expected) {
    struct stat st {};
    return ::fstat(fd, &st) == 0 && std::uint64_t(st.st_size) == expected.size() &&
           BeginsWith(fd, expected);
}

Result NoSpace(int error) {
    if (error == ENOSPC || error == EDQUOT)
        return Result::FromErrno(error, std::string("not enough space to rewrite the photo in "
                                                    "place: ") +
                                            std::strerror(error));
    return Result::FromErrno(error);
}

// The photo as it is on disk, when the caller did not pass what it read.
struct OldContents {
    std::vector<std::uint8_t> owned;
    std::span<const std::uint8_t> bytes;
};

Result LoadOldContents(const LockedPhoto& photo, const struct stat& st, const ReadPhoto* original,
                       OldContents& old) {
    if (original) {
        old.bytes = original->bytes;
        return {};
    }
    if (std::uint64_t(st.st_size) > kept::kMaxPhotoBytes) return Result::FromErrno(EFBIG);
    old.owned.resize(std::size_t(st.st_size));
    if (!ReadFullyAt(photo.fd.get(), old.owned.data(), old.owned.size(), 0))
        return Result::FromErrno(errno);
    old.bytes = old.owned;
    return {};
}

// Another program's change that the new contents would wipe out wins: the replacement is given
// up. The entry is looked at where it is, never followed.
Result CheckUnchanged(const LockedPhoto& photo, const ReadPhoto* original) {
    if (!original || UnchangedSince(photo.folder.get(), photo.name, *original)) return {};
    return PhotoChanged();
}

std::string KeptCopyPath(const LockedPhoto& photo, const std::string& name) {
    return FolderOf(photo.target) + "/" + name;
}

// Renaming would cut the other links off, so the file is rewritten in place, and only while a
// complete, flushed copy stands beside it. The copy ends with a record of the photo and of this
// turn, so that a later load puts it back only over this photo torn by this turn.
ReplaceResult RewriteLinkedFile(const LockedPhoto& photo, const struct stat& st,
                                std::span<const std::uint8_t> bytes, TemporaryFile& temp,
                                const FlushCalls& calls, const ReadPhoto* original,
                                const FileTimes* times) {
    ReplaceResult result;
    const auto failed = [&result](Result why) {
        result.result = std::move(why);
        return result;
    };
    OldContents old;
    if (Result read = LoadOldContents(photo, st, original, old); !read.ok()) return failed(read);
    if (old.bytes.size() > kept::kMaxPhotoBytes || bytes.size() > kept::kMaxPhotoBytes)
        return failed(Result::FromErrno(EFBIG));
    const std::vector<std::uint8_t> record =
        kept::Encode(kept::MakeRecord(st.st_dev, st.st_ino, photo.name, old.bytes, bytes));
    if (!WriteFullyAt(temp.fd(), record.data(), record.size(), bytes.size()) ||
        calls.fsyncFile(temp.fd()) != 0)
        return failed(Result::FromErrno(errno));
    if (const int error = temp.markComplete()) return failed(Result::FromErrno(error));
    if (const int error = FlushFolder(photo.folder.get(), calls))
        return failed(Result::FromErrno(error));
    // From here the photo may be written: its complete copy goes only once the photo is read
    // back holding exactly its old or its new contents.
    const auto keepingCopy = [&](Result why) {
        result.keptCopy = KeptCopyPath(photo, temp.name());
        temp.keep();
        return failed(std::move(why));
    };
    const auto givenUp = [&](Result why) {
        if (HoldsExactly(photo.fd.get(), old.bytes) || HoldsExactly(photo.fd.get(), bytes))
            return failed(std::move(why));
        return keepingCopy(std::move(why));
    };

    calls.beforeReplace();
    UniqueFd fd(::openat(photo.folder.get(), photo.name.c_str(),
                         O_WRONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY));
    struct stat now {};
    if (!fd.valid() && errno == ELOOP) return failed(PhotoChanged());
    if (!fd.valid() || ::fstat(fd.get(), &now) != 0) return failed(Result::FromErrno(errno));
    if (!SameFile(now, st) || !CheckUnchanged(photo, original).ok()) return failed(PhotoChanged());
    if (const int error = ReserveForRewrite(fd.get(), bytes, old.bytes.size(), calls))
        return givenUp(NoSpace(error));
    int error = PutWhole(fd.get(), bytes, calls);
    // Last, so that no write moves them again; the lock still keeps every other turn out.
    if (error == 0 && times) result.times = SetTimes(fd.get(), *times, calls);
    if (error == 0 && calls.fsyncFile(fd.get()) != 0) error = errno;
    if (error != 0) {
        // The old contents still fit in the blocks they had: the photo is whole again, and
        // nothing is left to finish.
        if (WriteWhole(fd.get(), old.bytes, calls) == 0) return givenUp(NoSpace(error));
        return keepingCopy(Result::FromErrno(error));
    }
    if (calls.closeFile(fd.release()) != 0) result.warning = FlushWarning(photo.target, errno);
    return result;
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

bool BeginsWith(int fd, std::span<const std::uint8_t> expected) {
    std::vector<std::uint8_t> chunk(std::size_t(1) << 16);
    for (std::size_t at = 0; at < expected.size(); at += chunk.size()) {
        const std::size_t n = std::min(chunk.size(), expected.size() - at);
        if (!ReadFullyAt(fd, chunk.data(), n, at) ||
            std::memcmp(chunk.data(), expected.data() + at, n) != 0)
            return false;
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
    if (!S_ISREG(st.st_mode)) return NotARegularFile();
    if (std::uint64_t(st.st_size) > maxBytes) return Result::FromErrno(EFBIG);
    out.resize(std::size_t(st.st_size));
    if (!ReadFullyAt(fd.get(), out.data(), out.size(), 0)) {
        const int error = errno;
        out.clear();
        return Result::FromErrno(error);
    }
    return {};
}

ReplaceResult ReplaceFileContents(const LockedPhoto& photo, std::span<const std::uint8_t> bytes,
                                  const FlushCalls& calls, const ReadPhoto* original,
                                  const FileTimes* times) {
    ReplaceResult result;
    const auto failed = [&result](int error) {
        result.result = Result::FromErrno(error);
        return result;
    };
    const int folder = photo.folder.get();
    struct stat st {};
    if (::fstat(photo.fd.get(), &st) != 0) return failed(errno);
    if (!S_ISREG(st.st_mode)) return failed(EINVAL);
    // Root may write anything: a photo without any write permission bit is read-only all the same.
    if ((st.st_mode & 0222) == 0) return failed(EACCES);
    if (::faccessat(folder, photo.name.c_str(), W_OK, AT_SYMLINK_NOFOLLOW) != 0)
        return failed(errno);

    TemporaryFile temp(folder, photo.name);
    if (!temp.valid()) return failed(errno);
    if (!WriteFullyAt(temp.fd(), bytes.data(), bytes.size(), 0)) return failed(errno);
    // A kept copy is never renamed into place: it stays writable by its maker alone (mkostemp's
    // 0600, no copied ACL), or a later load would not trust it.
    if (st.st_nlink <= 1 && ::fchmod(temp.fd(), st.st_mode & 07777) != 0) return failed(errno);
    // Owner and group can only be kept where the process may give them away.
    if (::fchown(temp.fd(), st.st_uid, st.st_gid) != 0 && errno != EPERM) return failed(errno);
    // The photo keeps its own attributes when rewritten in place; its kept copy takes none.
    if (st.st_nlink > 1) return RewriteLinkedFile(photo, st, bytes, temp, calls, original, times);
    if (const int error = CopyExtendedAttributes(photo.fd.get(), temp.fd(), calls)) {
        result.result = AttributesNotCopied(error);
        return result;
    }
    // Set before the rename, so that a turn waiting for the lock reads the photo as it stays.
    if (times) result.times = SetTimes(temp.fd(), *times, calls);
    if (calls.fsyncFile(temp.fd()) != 0) return failed(errno);

    calls.beforeReplace();
    if (Result changed = CheckUnchanged(photo, original); !changed.ok()) {
        result.result = std::move(changed);
        return result;
    }
    if (::renameat(folder, temp.name().c_str(), folder, photo.name.c_str()) != 0)
        return failed(errno);
    temp.keep();
    // The new contents are in place: a flush that fails from here on does not undo the turn,
    // and calling it failed would have the user turn the photo a second time.
    if (const int error = temp.close(calls)) {
        result.warning = FlushWarning(photo.target, error);
    } else if (const int error = FlushFolder(folder, calls)) {
        result.warning = FlushWarning(photo.target, error);
    }
    return result;
}

ReplaceResult ReplaceFileContents(const std::string& path, std::span<const std::uint8_t> bytes,
                                  const FlushCalls& calls, const ReadPhoto* original,
                                  const FileTimes* times) {
    LockedPhoto photo;
    if (Result opened = OpenPhoto(path, O_RDONLY, photo); !opened.ok()) {
        ReplaceResult result;
        result.result = std::move(opened);
        return result;
    }
    return ReplaceFileContents(photo, bytes, calls, original, times);
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

namespace {

bool ReadWhole(int fd, std::uint64_t maxBytes, std::vector<std::uint8_t>& out) {
    struct stat st {};
    if (::fstat(fd, &st) != 0 || std::uint64_t(st.st_size) > maxBytes) return false;
    out.resize(std::size_t(st.st_size));
    return ReadFullyAt(fd, out.data(), out.size(), 0);
}

LeftoverOutcome Foreign(LeftoverOutcome outcome, std::string why) {
    outcome.status = LeftoverOutcome::Status::Foreign;
    outcome.result = Result::Failure(Result::Kind::Other, std::move(why), EINVAL);
    return outcome;
}

bool IsJpeg(std::span<const std::uint8_t> bytes) {
    return bytes.size() >= 3 && bytes[0] == 0xFF && bytes[1] == 0xD8 && bytes[2] == 0xFF;
}

// Anyone may write a file that reads as a kept copy of any photo (its checksum is no secret), so
// a copy is only applied where its maker could have written the photo anyway: the photo's owner,
// root, or the user running us, whose own rights then bound the write. And only a turn's rewrite
// in place leaves one: of a photo with several names that a turn would write. Why a copy is not
// applied to `photo`, or nothing.
std::optional<std::string> RefusedCopy(const struct stat& copy, const struct stat& photo) {
    if (copy.st_uid != photo.st_uid && copy.st_uid != 0 && copy.st_uid != ::geteuid())
        return "it belongs to another user";
    if ((copy.st_mode & (S_IWGRP | S_IWOTH)) != 0) return "others may write it";
    if (!S_ISREG(photo.st_mode)) return "the photo is not a regular file";
    if (photo.st_nlink < 2) return "the photo has a single link";
    if ((photo.st_mode & 0222) == 0) return "the photo may not be written";
    return std::nullopt;
}

// The photo a copy's record names, in the copy's own folder, not through a link.
struct NamedPhoto {
    UniqueFd fd;
    struct stat identity {};
};

// Opens and locks the photo named `name`, which must still be the file `named` and pass every
// rule; the outcome is set when it is not.
std::optional<NamedPhoto> OpenNamedPhoto(int folderFd, const std::string& name,
                                         const struct stat& named, const struct stat& copy,
                                         const LockWait& wait, LeftoverOutcome& outcome) {
    using Status = LeftoverOutcome::Status;
    NamedPhoto photo;
    photo.fd.reset(
        ::openat(folderFd, name.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY));
    Result opened = photo.fd.valid() ? WaitForLock(photo.fd.get(), wait) : Result::FromErrno(errno);
    if (!opened.ok()) {
        outcome.status = opened.kind() == Result::Kind::Busy ? Status::InUse : Status::Failed;
        outcome.result = std::move(opened);
        return std::nullopt;
    }
    struct stat stillNamed {};
    if (::fstat(photo.fd.get(), &photo.identity) != 0 ||
        ::fstatat(folderFd, name.c_str(), &stillNamed, AT_SYMLINK_NOFOLLOW) != 0 ||
        !SameFile(photo.identity, named) || !SameFile(stillNamed, named)) {
        outcome = Foreign(std::move(outcome), "the photo has changed since");
        return std::nullopt;
    }
    // Its owner may have changed it while the lock was waited for.
    if (std::optional<std::string> why = RefusedCopy(copy, photo.identity)) {
        outcome = Foreign(std::move(outcome), std::move(*why));
        return std::nullopt;
    }
    return photo;
}

// Writes the complete copy over the photo it was made for, if the copy's maker could have
// written that photo and the photo holds nothing but that very turn, cut short.
LeftoverOutcome FinishFromKeptCopy(LeftoverOutcome outcome, int folderFd, int keptFd,
                                   const struct stat& copyStatus, const FlushCalls& calls) {
    using Status = LeftoverOutcome::Status;
    std::vector<std::uint8_t> file;
    if (!ReadWhole(keptFd, 2 * kept::kMaxPhotoBytes, file))
        return Foreign(std::move(outcome), "it cannot be read whole");
    const std::optional<kept::Decoded> copy = kept::Decode(file);
    if (!copy) return Foreign(std::move(outcome), "it holds no record of the photo it belongs to");
    const std::string& name = copy->record.targetName;
    outcome.target = FolderOf(outcome.leftover) + "/" + name;
    if (!IsJpeg(copy->newBytes)) return Foreign(std::move(outcome), "it holds no JPEG photo");
    struct stat named {};
    if (::fstatat(folderFd, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0 ||
        named.st_dev != dev_t(copy->record.device) || named.st_ino != ino_t(copy->record.inode))
        return Foreign(std::move(outcome), "the photo it was made for is no longer there");
    if (std::optional<std::string> why = RefusedCopy(copyStatus, named))
        return Foreign(std::move(outcome), std::move(*why));
    std::optional<NamedPhoto> locked =
        OpenNamedPhoto(folderFd, name, named, copyStatus, calls.lockWait, outcome);
    if (!locked) return outcome;
    UniqueFd fd = std::move(locked->fd);
    std::vector<std::uint8_t> photo;
    if (!ReadWhole(fd.get(), std::max(copy->record.oldSize, copy->record.newSize), photo))
        return Foreign(std::move(outcome), "the photo has changed since");
    if (!IsJpeg(photo)) return Foreign(std::move(outcome), "the photo is not a JPEG");
    const std::string keptName = BaseNameOf(outcome.leftover);
    switch (kept::Compare(copy->record, copy->newBytes, photo)) {
    case kept::TargetState::Other:
        return Foreign(std::move(outcome), "the photo has changed since");
    case kept::TargetState::Complete:
        outcome.status = Status::Removed;
        ::unlinkat(folderFd, keptName.c_str(), 0);
        return outcome;
    case kept::TargetState::Torn:
        break;
    }
    int error = ReserveForRewrite(fd.get(), copy->newBytes, photo.size(), calls);
    if (error == 0) error = WriteWhole(fd.get(), copy->newBytes, calls);
    if (error == 0 && calls.closeFile(fd.release()) != 0) error = errno;
    if (error != 0) {
        outcome.status = Status::Failed;
        outcome.result = NoSpace(error);
        return outcome;
    }
    outcome.status = Status::Finished;
    ::unlinkat(folderFd, keptName.c_str(), 0);
    return outcome;
}

// Opens a kept copy in `folderFd` without following a link and takes its lock; invalid, with
// the outcome set, when it is not a plain file or a turn in progress holds it.
UniqueFd OpenKeptCopy(int folderFd, const std::string& name, struct stat& st,
                      LeftoverOutcome& outcome) {
    using Status = LeftoverOutcome::Status;
    UniqueFd fd(::openat(folderFd, name.c_str(),
                         O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY));
    const int error = errno;
    if (fd.valid() ? ::fstat(fd.get(), &st) != 0
                   : ::fstatat(folderFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        outcome.status = Status::InUse; // gone meanwhile
        return {};
    }
    outcome.device = st.st_dev;
    outcome.inode = st.st_ino;
    if (!fd.valid() && error != ELOOP) {
        outcome.status = Status::InUse;
        return {};
    }
    if (!fd.valid() || !S_ISREG(st.st_mode)) {
        outcome = Foreign(std::move(outcome), S_ISLNK(st.st_mode) ? "it is a symbolic link"
                                                                  : "it is not a regular file");
        return {};
    }
    // Held by a turn in progress: not a leftover.
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
        outcome.status = Status::InUse;
        return {};
    }
    return fd;
}

} // namespace

LeftoverOutcome ResolveLeftover(const std::string& path, const FlushCalls& calls) {
    using Status = LeftoverOutcome::Status;
    LeftoverOutcome outcome;
    outcome.leftover = path;
    const std::string name = BaseNameOf(path);
    if (IsTemporaryName(name)) {
        outcome.status = RemoveIfStale(path) ? Status::Removed : Status::InUse;
        return outcome;
    }
    if (!IsKeptCopyName(name)) return outcome;
    // The copy and its photo are both looked up in this one folder, whatever its path does.
    const UniqueFd folder(::open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    struct stat st {};
    const UniqueFd fd = folder.valid() ? OpenKeptCopy(folder.get(), name, st, outcome) : UniqueFd();
    if (!fd.valid()) {
        if (outcome.status == Status::NotOurs) outcome.status = Status::InUse;
        return outcome;
    }
    return FinishFromKeptCopy(std::move(outcome), folder.get(), fd.get(), st, calls);
}

std::vector<std::string> LeftoversIn(const std::string& folder) {
    std::vector<std::string> found;
    const std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), &::closedir);
    if (!dir) return found;
    while (const dirent* entry = ::readdir(dir.get())) {
        const std::string name = entry->d_name;
        if (IsTemporaryName(name) || IsKeptCopyName(name))
            found.push_back((folder == "/" ? std::string() : folder) + "/" + name);
    }
    return found;
}

std::string SystemErrorText(int error) {
    return "System Error.  Code: " + std::to_string(error) + ".\n" + std::strerror(error);
}

} // namespace platform
