// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/leftovers.h"

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
#include "platform/replace_steps.h"

namespace platform {

using namespace replace_steps;

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

LeftoverResult Foreign(LeftoverResult outcome, Why why) {
    outcome.status = LeftoverResult::Status::Foreign;
    outcome.result = Result::Failure(Result::Kind::Other, why, EINVAL);
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
std::optional<Why> RefusedCopy(const struct stat& copy, const struct stat& photo) {
    if (copy.st_uid != photo.st_uid && copy.st_uid != 0 && copy.st_uid != ::geteuid())
        return Why::LeftoverOtherOwner;
    if ((copy.st_mode & (S_IWGRP | S_IWOTH)) != 0) return Why::LeftoverWritableByOthers;
    if (!S_ISREG(photo.st_mode)) return Why::LeftoverPhotoNotRegular;
    if (photo.st_nlink < 2) return Why::LeftoverSingleLink;
    if ((photo.st_mode & 0222) == 0) return Why::LeftoverPhotoNotWritable;
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
                                         const LockWait& wait, LeftoverResult& outcome) {
    using Status = LeftoverResult::Status;
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
        outcome = Foreign(std::move(outcome), Why::LeftoverPhotoChanged);
        return std::nullopt;
    }
    // Its owner may have changed it while the lock was waited for.
    if (std::optional<Why> why = RefusedCopy(copy, photo.identity)) {
        outcome = Foreign(std::move(outcome), *why);
        return std::nullopt;
    }
    return photo;
}

// Writes the complete copy over the photo it was made for, if the copy's maker could have
// written that photo and the photo holds nothing but that very turn, cut short.
LeftoverResult FinishFromKeptCopy(LeftoverResult outcome, int folderFd, int keptFd,
                                  const struct stat& copyStatus, const ReplaceCalls& calls) {
    using Status = LeftoverResult::Status;
    std::vector<std::uint8_t> file;
    if (!ReadWhole(keptFd, 2 * kept::kMaxPhotoBytes, file))
        return Foreign(std::move(outcome), Why::LeftoverUnreadable);
    const std::optional<kept::Decoded> copy = kept::Decode(file);
    if (!copy) return Foreign(std::move(outcome), Why::LeftoverNoRecord);
    const std::string& name = copy->record.targetName;
    outcome.target = FolderOf(outcome.leftover) + "/" + name;
    if (!IsJpeg(copy->newBytes)) return Foreign(std::move(outcome), Why::LeftoverNoJpeg);
    struct stat named {};
    if (::fstatat(folderFd, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0 ||
        named.st_dev != dev_t(copy->record.device) || named.st_ino != ino_t(copy->record.inode))
        return Foreign(std::move(outcome), Why::LeftoverPhotoGone);
    if (std::optional<Why> why = RefusedCopy(copyStatus, named))
        return Foreign(std::move(outcome), *why);
    std::optional<NamedPhoto> locked =
        OpenNamedPhoto(folderFd, name, named, copyStatus, calls.lockWait, outcome);
    if (!locked) return outcome;
    UniqueFd fd = std::move(locked->fd);
    std::vector<std::uint8_t> photo;
    if (!ReadWhole(fd.get(), std::max(copy->record.oldSize, copy->record.newSize), photo))
        return Foreign(std::move(outcome), Why::LeftoverPhotoChanged);
    if (!IsJpeg(photo)) return Foreign(std::move(outcome), Why::LeftoverPhotoNotJpeg);
    const std::string keptName = BaseNameOf(outcome.leftover);
    switch (kept::Compare(copy->record, copy->newBytes, photo)) {
    case kept::TargetState::Other:
        return Foreign(std::move(outcome), Why::LeftoverPhotoChanged);
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
                      LeftoverResult& outcome) {
    using Status = LeftoverResult::Status;
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
        outcome = Foreign(std::move(outcome),
                          S_ISLNK(st.st_mode) ? Why::LeftoverIsLink : Why::LeftoverNotRegular);
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

LeftoverResult ResolveLeftover(const std::string& path, const ReplaceCalls& calls) {
    using Status = LeftoverResult::Status;
    LeftoverResult outcome;
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

} // namespace platform
