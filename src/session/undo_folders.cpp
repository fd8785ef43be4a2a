// SPDX-License-Identifier: GPL-3.0-or-later
#include "session/undo_folders.h"

#include "session/undo_record.h"

#include <QFile>

#include <dirent.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "platform/leftovers.h"
#include "platform/private_files.h"
#include "platform/record_bytes.h"

namespace session::undo_detail {
namespace {

// Folders looked at: a crafted state folder must not make a turn crawl.
constexpr int kMaxEntries = 100000;

} // namespace

platform::Result NotAFolder(const std::string& shown, const struct stat& st) {
    const platform::Why why =
        S_ISLNK(st.st_mode) ? platform::Why::UndoFolderIsLink : platform::Why::UndoFolderNotFolder;
    return platform::Result::Failure(platform::Result::Kind::Other, why, ELOOP).about(shown);
}

platform::UniqueFd OpenPrivateFolder(int parent, const std::string& name, bool make,
                                     const std::string& shown, platform::Result& why) {
    platform::PrivateFolderRules rules;
    rules.make = make;
    rules.ownOnly = false;
    platform::UniqueFd fd = platform::MakePrivateFolder(parent, name, rules, why);
    struct stat st {};
    if (!fd.valid() && ::fstatat(parent, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
        !S_ISDIR(st.st_mode))
        why = NotAFolder(shown, st);
    return fd;
}

namespace {

// The names in `folder`, sorted, at most kMaxEntries; read through a descriptor of its own, so
// that `folder`'s position is left alone.
std::vector<std::string> NamesIn(int folder) {
    std::vector<std::string> names;
    platform::UniqueFd own(::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    DIR* dir = own.valid() ? ::fdopendir(own.get()) : nullptr;
    if (!dir) return names;
    own.release(); // closedir closes it
    while (int(names.size()) < kMaxEntries) {
        const struct dirent* entry = ::readdir(dir);
        if (!entry) break;
        const std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

bool IsRecordName(const std::string& name) {
    return name.size() > std::strlen(kRecordSuffix) &&
           name.compare(name.size() - std::strlen(kRecordSuffix), std::string::npos,
                        kRecordSuffix) == 0 &&
           name[0] != '.';
}

// "STAMP-PID": a fixed-width time first, so that names sort oldest first across stacks.
bool IsCommandName(const std::string& name) {
    return name.size() > 21 && name[20] == '-' && std::all_of(name.begin(), name.end(), [](char c) {
               return c == '-' || std::isdigit(static_cast<unsigned char>(c));
           });
}

} // namespace

std::string NewCommandName() {
    struct timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    char name[64];
    std::snprintf(name, sizeof name, "%010lld%010ld-%d", static_cast<long long>(now.tv_sec),
                  now.tv_nsec, int(::getpid()));
    return name;
}

bool TryLock(int fd) {
    return ::flock(fd, LOCK_EX | LOCK_NB) == 0;
}

namespace {

// Removes a temporary of ours in `folder` that no process holds.
bool RemoveIfStaleIn(int folder, const std::string& name) {
    const platform::UniqueFd fd(
        ::openat(folder, name.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    struct stat st {};
    return fd.valid() && ::fstat(fd.get(), &st) == 0 && S_ISREG(st.st_mode) && TryLock(fd.get()) &&
           ::unlinkat(folder, name.c_str(), 0) == 0;
}

// Removes the temporaries of killed writes; records of the folder with their sizes, and the
// entries named like records that are no regular file.
void ReadCommandFolder(int fd, CommandFolder& command) {
    for (const std::string& entry : NamesIn(fd)) {
        struct stat st {};
        if (platform::IsTemporaryName(entry)) {
            if (!RemoveIfStaleIn(fd, entry) &&
                ::fstatat(fd, entry.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode))
                command.bytes += std::uint64_t(st.st_size); // a record being written
            continue;
        }
        if (::fstatat(fd, entry.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
        if (!S_ISREG(st.st_mode)) {
            // To be told of rather than passed over.
            if (IsRecordName(entry)) command.strays.push_back(entry);
        } else if (entry == kLostName) {
            command.lost = true;
        } else if (IsRecordName(entry)) {
            command.bytes += std::uint64_t(st.st_size);
            command.records.push_back(entry);
        }
    }
}

// The commands of the stack `stack`; its empty folders that nobody holds are removed.
void CommandsOfStack(const std::shared_ptr<const platform::UniqueFd>& stack,
                     const std::string& stackName, std::vector<CommandFolder>& commands) {
    for (const std::string& name : NamesIn(stack->get())) {
        if (!IsCommandName(name)) continue;
        CommandFolder command{stack, stackName, name, true, 0, {}, {}, false};
        const platform::UniqueFd fd(
            ::openat(stack->get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (fd.valid()) {
            ReadCommandFolder(fd.get(), command);
        } else {
            struct stat st {};
            command.folder =
                !(::fstatat(stack->get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
                  !S_ISDIR(st.st_mode));
        }
        if (command.counts()) {
            commands.push_back(std::move(command));
        } else if (fd.valid() && TryLock(fd.get())) {
            ::unlinkat(stack->get(), name.c_str(), AT_REMOVEDIR);
        }
    }
}

} // namespace

std::vector<CommandFolder> CommandsIn(int root, const std::string& onlyStack) {
    std::vector<CommandFolder> commands;
    int stacks = 0;
    for (const std::string& name : NamesIn(root)) {
        if ((!onlyStack.empty() && name != onlyStack) || name == kStoreLockName) continue;
        if (++stacks > kMaxStacks) break;
        auto stack = std::make_shared<const platform::UniqueFd>(
            ::openat(root, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (stack->valid()) CommandsOfStack(stack, name, commands);
    }
    std::sort(commands.begin(), commands.end(),
              [](const CommandFolder& a, const CommandFolder& b) { return a.name < b.name; });
    return commands;
}

platform::UniqueFd OpenCommand(const CommandFolder& command) {
    return platform::UniqueFd(::openat(command.stack->get(), command.name.c_str(),
                                       O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
}

// ---- the photos a command lost ----------------------------------------------------------------

namespace {

// The photo a record was kept for, read from its header alone; empty when it cannot be read.
std::string PathOfRecord(int folder, const std::string& name) {
    const platform::UniqueFd fd(
        ::openat(folder, name.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    struct stat st {};
    if (!fd.valid() || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return {};
    std::vector<std::uint8_t> head(std::size_t(
        std::min<std::uint64_t>(std::uint64_t(st.st_size), sizeof kMagic + 4 + kMaxPathBytes)));
    if (!platform::ReadFullyAt(fd.get(), head.data(), head.size(), 0) || !VersionOf(head))
        return {};
    platform::RecordReader in(std::span<const std::uint8_t>(head).subspan(sizeof kMagic));
    std::uint64_t length = 0;
    if (!in.get(length, 4) || length == 0 || length > in.left()) return {};
    std::string path(std::size_t(length), '\0');
    if (!in.raw({reinterpret_cast<std::uint8_t*>(path.data()), path.size()}) ||
        path.find('\0') != std::string::npos)
        return {};
    return path;
}

} // namespace

bool NoteLost(int folder, char reason, const std::vector<std::string>& paths) {
    const platform::UniqueFd fd(
        ::openat(folder, kLostName, O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
    struct stat st {};
    if (!fd.valid() || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    std::uint64_t size = std::uint64_t(st.st_size);
    std::string added;
    for (const std::string& path : paths) {
        if (size + added.size() + path.size() + 2 > kMaxLostBytes) {
            if (size + added.size() <= kMaxLostBytes) added += std::string{kMoreReason, '\0'};
            break;
        }
        added += reason;
        added += path;
        added += '\0';
    }
    return platform::WriteFullyAt(fd.get(), added.data(), added.size(), size) &&
           ::fsync(fd.get()) == 0;
}

std::vector<LostPhoto> ReadLost(int folder) {
    std::vector<LostPhoto> lost;
    const platform::UniqueFd fd(
        ::openat(folder, kLostName, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    struct stat st {};
    if (!fd.valid() || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return lost;
    std::string list(
        std::size_t(std::min<std::uint64_t>(std::uint64_t(st.st_size), kMaxLostBytes + 2)), '\0');
    if (!platform::ReadFullyAt(fd.get(), list.data(), list.size(), 0)) return lost;
    bool more = false;
    // An entry cut short by a killed write has no NUL and is passed over.
    for (std::size_t at = 0, end; (end = list.find('\0', at)) != std::string::npos; at = end + 1) {
        const std::string entry = list.substr(at, end - at);
        if (entry.empty()) continue;
        if (entry[0] == kMoreReason)
            more = true;
        else if (entry.size() > 1)
            lost.push_back({entry[0], entry.substr(1)});
    }
    if (more) lost.push_back({kMoreReason, {}});
    return lost;
}

UndoPhoto LostUndoPhoto(const LostPhoto& lost, const std::string& list) {
    UndoPhoto photo;
    photo.path = QFile::decodeName(lost.path.c_str());
    if (lost.path.empty()) photo.record = QFile::decodeName(list.c_str());
    photo.status = UndoPhoto::Status::Lost;
    const platform::Why why = lost.reason == kDidNotFitReason ? platform::Why::UndoDidNotFit
                              : lost.reason == kMoreReason    ? platform::Why::UndoMoreLost
                                                              : platform::Why::UndoDropped;
    photo.result = platform::Result::Failure(platform::Result::Kind::NoSpace, why, ENOSPC);
    return photo;
}

// ---- record temporaries -----------------------------------------------------------------------

RecordTemporary OpenRecordTemporary(int folder, const std::string& record) {
    RecordTemporary temp{platform::UniqueFd(), folder, {}, record};
    temp.fd = platform::CreateLockedTemporary(folder, "." + record + platform::kTemporaryMarker,
                                              temp.name);
    return temp;
}

// ---- the store's folders ----------------------------------------------------------------------

StoreFolders OpenStore(const std::string& root, const std::string& stack, bool make) {
    StoreFolders folders;
    const std::string state = root.substr(0, root.rfind('/'));
    if (make) {
        folders.why = platform::MakeFoldersAbove(state, 0777);
        if (!folders.why.ok()) return folders;
    }
    const platform::UniqueFd parent = OpenPrivateFolder(AT_FDCWD, state, make, state, folders.why);
    if (!parent.valid()) return folders;
    const std::string rootName = root.substr(root.rfind('/') + 1);
    folders.root = OpenPrivateFolder(parent.get(), rootName, make, root, folders.why);
    if (folders.root.valid())
        folders.stack =
            OpenPrivateFolder(folders.root.get(), stack, make, root + "/" + stack, folders.why);
    return folders;
}

bool DropCommand(const CommandFolder& command) {
    const platform::UniqueFd fd = OpenCommand(command);
    if (!fd.valid() || !TryLock(fd.get())) return false;
    std::vector<std::string> paths;
    for (const std::string& record : command.records)
        if (std::string path = PathOfRecord(fd.get(), record); !path.empty())
            paths.push_back(std::move(path));
    if (!paths.empty() && !NoteLost(fd.get(), kDroppedReason, paths)) return false;
    for (const std::string& record : command.records)
        ::unlinkat(fd.get(), record.c_str(), 0);
    if (paths.empty() && !command.lost)
        ::unlinkat(command.stack->get(), command.name.c_str(), AT_REMOVEDIR);
    return true;
}

void ClearCommand(const CommandFolder& command) {
    const platform::UniqueFd fd = OpenCommand(command);
    if (!fd.valid() || !TryLock(fd.get())) return;
    for (const std::string& record : command.records)
        ::unlinkat(fd.get(), record.c_str(), 0);
    for (const std::string& stray : command.strays)
        ::unlinkat(fd.get(), stray.c_str(), 0); // a folder named like a record stays
    ::unlinkat(fd.get(), kLostName, 0);
    ::unlinkat(command.stack->get(), command.name.c_str(), AT_REMOVEDIR);
}

} // namespace session::undo_detail
