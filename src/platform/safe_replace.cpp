// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/safe_replace.h"

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
#include <sys/stat.h>
#include <sys/xattr.h>

#include "platform/kept_copy.h"
#include "platform/replace_steps.h"

namespace platform {
namespace replace_steps {

std::string FolderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string BaseNameOf(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool SameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Makes sure a rewrite to `newSize` cannot run out of space half way. Where the file system
// cannot reserve, a photo that does not grow needs no block it does not have; one that grows
// gets its growth written first, past its end, where a failure is cut off again without a byte
// of the photo touched.
int ReserveForRewrite(int fd, std::span<const std::uint8_t> bytes, std::uint64_t oldSize,
                      const ReplaceCalls& calls) {
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
int PutWhole(int fd, std::span<const std::uint8_t> bytes, const ReplaceCalls& calls) {
    if (!WriteFullyAt(fd, bytes.data(), bytes.size(), 0)) return errno;
    return calls.truncate(fd, off_t(bytes.size())) == 0 ? 0 : errno;
}

int WriteWhole(int fd, std::span<const std::uint8_t> bytes, const ReplaceCalls& calls) {
    if (const int error = PutWhole(fd, bytes, calls)) return error;
    return calls.fsyncFile(fd) == 0 ? 0 : errno;
}

Result NoSpace(int error) {
    if (error == ENOSPC || error == EDQUOT) return Result::FromErrno(error, Why::NoSpaceToRewrite);
    return Result::FromErrno(error);
}

} // namespace replace_steps

namespace {

using namespace replace_steps;

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
int CopyExtendedAttributes(int from, int to, const ReplaceCalls& calls) {
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
    return Result::FromErrno(error, Why::AttributesNotCopied);
}

int FlushFolder(int folder, const ReplaceCalls& calls) {
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
        m_fd = CreateLockedTemporary(folder, stem, m_name);
    }
    ~TemporaryFile() {
        if (!m_name.empty()) ::unlinkat(m_folder, m_name.c_str(), 0);
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    int fd() const { return m_fd.get(); }
    const std::string& name() const { return m_name; }
    bool valid() const { return m_fd.valid(); }
    int close(const ReplaceCalls& calls) {
        return calls.closeFile(m_fd.release()) == 0 ? 0 : errno;
    }
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
            suffix = RandomNameSuffix();
        }
        return EEXIST;
    }

private:
    int m_folder = -1;
    std::string m_name;
    UniqueFd m_fd;
};

Result NotFlushed(const std::string& target, int error) {
    return Result::DoneBut(Why::NotFlushed, error).about(target);
}

Result SetTimes(int fd, const FileTimes& times, const ReplaceCalls& calls) {
    const struct timespec both[2] = {times.access, times.modification};
    return calls.setTimes(fd, both) == 0 ? Result() : Result::FromErrno(errno);
}

// Read through `fd`, which need not be the descriptor being written.
bool HoldsExactly(int fd, std::span<const std::uint8_t> expected) {
    struct stat st {};
    return ::fstat(fd, &st) == 0 && std::uint64_t(st.st_size) == expected.size() &&
           BeginsWith(fd, expected);
}

// The photo as it is on disk, when the caller did not pass what it read.
struct OldContents {
    std::vector<std::uint8_t> owned;
    std::span<const std::uint8_t> bytes;
};

Result LoadOldContents(const LockedPhoto& photo, const struct stat& st, const PhotoAsRead* original,
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
Result CheckUnchanged(const LockedPhoto& photo, const PhotoAsRead* original) {
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
                                const ReplaceCalls& calls, const PhotoAsRead* original,
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
    if (calls.closeFile(fd.release()) != 0) result.result = NotFlushed(photo.target, errno);
    return result;
}

} // namespace

ReplaceResult ReplaceFileContents(const LockedPhoto& photo, std::span<const std::uint8_t> bytes,
                                  const ReplaceCalls& calls, const PhotoAsRead* original,
                                  const FileTimes* times) {
    ReplaceResult result;
    const auto failed = [&result](int error) {
        result.result = Result::FromErrno(error);
        return result;
    };
    const int folder = photo.folder.get();
    struct stat st {};
    if (::fstat(photo.fd.get(), &st) != 0) return failed(errno);
    if (!S_ISREG(st.st_mode)) {
        result.result = NotARegularFile();
        return result;
    }
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
        result.result = NotFlushed(photo.target, error);
    } else if (const int error = FlushFolder(folder, calls)) {
        result.result = NotFlushed(photo.target, error);
    }
    return result;
}

ReplaceResult ReplaceFileContents(const std::string& path, std::span<const std::uint8_t> bytes,
                                  const ReplaceCalls& calls, const PhotoAsRead* original,
                                  const FileTimes* times) {
    LockedPhoto photo;
    if (Result opened = OpenPhoto(path, O_RDONLY, photo); !opened.ok()) {
        ReplaceResult result;
        result.result = std::move(opened);
        return result;
    }
    return ReplaceFileContents(photo, bytes, calls, original, times);
}

} // namespace platform
