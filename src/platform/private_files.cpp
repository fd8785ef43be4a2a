// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/private_files.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <sys/stat.h>

namespace platform {
namespace {

bool ModeAllowed(int fd, const struct stat& st, PrivateFolderRules::Mode mode) {
    if ((st.st_mode & 07777) == 0700 || mode == PrivateFolderRules::Mode::Any) return true;
    if (mode == PrivateFolderRules::Mode::Require) {
        errno = EPERM;
        return false;
    }
    return ::fchmod(fd, 0700) == 0;
}

} // namespace

UniqueFd MakePrivateFolder(int parent, const std::string& name, const PrivateFolderRules& rules,
                           Result& why) {
    if (rules.make && ::mkdirat(parent, name.c_str(), 0700) != 0 && errno != EEXIST) {
        why = Result::FromErrno(errno);
        return {};
    }
    UniqueFd fd(::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat st {};
    if (!fd.valid() || ::fstat(fd.get(), &st) != 0) {
        why = Result::FromErrno(errno);
        return {};
    }
    if (rules.ownOnly && st.st_uid != ::geteuid()) {
        why = Result::FromErrno(EPERM);
        return {};
    }
    if (!ModeAllowed(fd.get(), st, rules.mode)) {
        why = Result::FromErrno(errno);
        return {};
    }
    return fd;
}

Result MakeFoldersAbove(const std::string& path, mode_t mode) {
    for (std::size_t slash = path.find('/', 1); slash != std::string::npos;
         slash = path.find('/', slash + 1)) {
        const std::string part = path.substr(0, slash);
        if (::mkdir(part.c_str(), mode) != 0 && errno != EEXIST) return Result::FromErrno(errno);
    }
    return {};
}

Result CommitTemporary(int folder, UniqueFd fd, const std::string& temp, const std::string& name,
                       std::span<const std::span<const std::uint8_t>> parts,
                       const SmallFileWrite& how) {
    const auto fail = [folder, &temp](int error) {
        ::unlinkat(folder, temp.c_str(), 0);
        return Result::FromErrno(error);
    };
    std::uint64_t at = 0;
    for (const std::span<const std::uint8_t> part : parts) {
        if (!part.empty() && !WriteFullyAt(fd.get(), part.data(), part.size(), at))
            return fail(errno);
        at += part.size();
    }
    if (how.fsyncFile && how.fsyncFile(fd.get()) != 0) return fail(errno);
    if (how.beforeRename) how.beforeRename(fd.get());
    // The temporary stays open, and so locked, until it has its name: a sweep takes only
    // temporaries nobody holds.
    if (::renameat(folder, temp.c_str(), folder, name.c_str()) != 0) return fail(errno);
    if (how.fsyncFolder) how.fsyncFolder(folder);
    return {};
}

Result WriteSmallFile(int folder, const std::string& name, const std::string& tempStem,
                      std::span<const std::uint8_t> bytes, const SmallFileWrite& how) {
    std::string temp;
    UniqueFd fd = CreateLockedTemporary(folder, tempStem, temp);
    if (!fd.valid()) return Result::FromErrno(errno);
    const std::span<const std::uint8_t> parts[] = {bytes};
    return CommitTemporary(folder, std::move(fd), temp, name, parts, how);
}

} // namespace platform
