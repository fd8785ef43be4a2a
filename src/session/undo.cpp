// SPDX-License-Identifier: GPL-3.0-or-later
#include "session/undo.h"

#include "collection/scan.h"
#include "rotate/orientation_table.h"
#include "session/undo_folders.h"
#include "session/undo_record.h"
#include "session/undo_restore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <sys/stat.h>

#include "platform/private_files.h"
#include "platform/safe_replace.h"
#include "platform/xdg_dirs.h"

namespace session {

using namespace undo_detail;

namespace {

std::string Native(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

KeepReplaced KeepFor(UndoCommand* counter) {
    if (!counter) return {};
    return [counter](const std::string& photo, const platform::PhotoAsRead& was,
                     std::span<const std::uint8_t> now) {
        // Where its way back cannot be kept, the photo is put back all the same.
        static_cast<void>(counter->Keep(QFile::decodeName(photo.c_str()), CaptureTurn(was, now)));
    };
}

} // namespace

QString DefaultUndoFolder() {
    return platform::XdgBaseDir("XDG_STATE_HOME", QStringLiteral(".local/state")) + "/tulvex/undo";
}

UndoCapture CaptureTurn(const platform::PhotoAsRead& read, std::span<const std::uint8_t> turned) {
    UndoCapture capture;
    capture.oldBytes.assign(read.bytes.begin(), read.bytes.end());
    capture.oldTimes.access = read.identity.st_atim;
    capture.oldTimes.modification = read.identity.st_mtim;
    capture.newSize = turned.size();
    capture.newHash = HashOfBytes(turned);
    return capture;
}

std::vector<QString> UndoResult::changedSince() const {
    std::vector<QString> paths;
    for (const UndoPhoto& photo : photos)
        if (photo.status == UndoPhoto::Status::ChangedSince) paths.push_back(photo.path);
    return paths;
}

// ---- the command ------------------------------------------------------------------------------

struct UndoCommand::Others {
    std::vector<CommandFolder> oldestFirst;
    std::uint64_t bytes = 0;      // of those still there, with what is being written in them
    std::uint64_t generation = 0; // of the store when they were counted
};

UndoCommand::UndoCommand(const UndoStore& store, platform::UniqueFd root, platform::UniqueFd stack,
                         std::string name)
    : m_store(store), m_root(std::move(root)), m_stack(std::move(stack)), m_name(std::move(name)) {}

UndoCommand::~UndoCommand() {
    if (m_folder.valid() && m_kept == 0 && !m_lost)
        ::unlinkat(m_stack.get(), m_name.c_str(), AT_REMOVEDIR);
}

platform::Result UndoCommand::OpenFolder() {
    if (m_folder.valid()) return {};
    platform::Result why;
    const std::string shown = m_store.m_root + "/" + m_store.m_stack + "/" + m_name;
    // A sweep may remove the folder while it is empty and not yet locked: made again then.
    for (int attempt = 0; attempt < 3; ++attempt) {
        m_folder = OpenPrivateFolder(m_stack.get(), m_name, true, shown, why);
        if (!m_folder.valid()) return why;
        struct stat st {};
        if (!TryLock(m_folder.get()) || ::fstat(m_folder.get(), &st) != 0) {
            why = platform::Result::FromErrno(errno);
            m_folder.reset();
            return why;
        }
        if (st.st_nlink > 0) return {};
        m_folder.reset();
    }
    return platform::Result::FromErrno(ENOENT);
}

platform::Result UndoCommand::Keep(const QString& path, const UndoCapture& capture) {
    Header h;
    // Absolute: an undo may run from another working folder than the turn.
    h.path = Native(QFileInfo(path).absoluteFilePath());
    if (h.path.empty() || h.path.size() > kMaxPathBytes)
        return platform::Result::FromErrno(ENAMETOOLONG);
    // The record belongs to this command: found in any other command's folder, it is refused.
    h.command = m_store.m_stack + "/" + m_name;
    if (h.command.size() > kMaxCommandBytes) return platform::Result::FromErrno(ENAMETOOLONG);
    struct stat st {};
    if (::stat(h.path.c_str(), &st) != 0) return platform::Result::FromErrno(errno);
    h.oldSize = capture.oldBytes.size();
    h.oldTimes = capture.oldTimes;
    h.newSize = capture.newSize;
    h.newModification = st.st_mtim;
    h.newHash = Widened(capture.newHash);
    h.oldHash = Widened(HashOfBytes(capture.oldBytes));
    const std::vector<std::uint8_t> header = EncodeHeader(h);
    const std::uint64_t size = header.size() + capture.oldBytes.size();
    RecordTemporary temp;
    {
        // Room is made and the record's bytes set aside under the store's lock, so that the
        // bound holds across processes; the bytes themselves are written after it.
        const StoreLock storeLock(m_root.get());
        if (!storeLock.result().ok()) return storeLock.result();
        const std::lock_guard lock(m_mutex);
        if (auto opened = OpenFolder(); !opened.ok()) return opened;
        const std::uint64_t seen = storeLock.generation();
        const bool room = MakeRoom(size, seen);
        // Whatever was dropped or set aside is told to the other commands.
        const std::uint64_t next = storeLock.advance(seen);
        if (m_others) m_others->generation = next;
        if (!room) {
            m_lost = NoteLost(m_folder.get(), kDidNotFitReason, {h.path}) || m_lost;
            return platform::Result::FromErrno(ENOSPC, platform::Why::UndoSpaceUsedUp);
        }
        char name[32];
        std::snprintf(name, sizeof name, "%06d%s", ++m_next, kRecordSuffix);
        temp = OpenRecordTemporary(m_folder.get(), name);
        if (!temp.fd.valid()) return platform::Result::FromErrno(errno);
        // Its full size at once: another process counts it while it is written.
        if (::ftruncate(temp.fd.get(), off_t(size)) != 0) {
            const int error = errno;
            ::unlinkat(m_folder.get(), temp.name.c_str(), 0);
            return platform::Result::FromErrno(error);
        }
        m_bytes += size;
    }
    const std::span<const std::uint8_t> parts[] = {header, capture.oldBytes};
    platform::Result written = m_store.WriteRecord(temp, parts);
    if (written.ok()) {
        ++m_kept;
    } else {
        const std::lock_guard lock(m_mutex);
        m_bytes -= size;
    }
    return written;
}

bool UndoCommand::MakeRoom(std::uint64_t more, std::uint64_t generation) {
    const std::uint64_t bound = m_store.m_bound;
    if (more > bound || m_bytes > bound - more) return false;
    const std::uint64_t room = bound - more - m_bytes;
    // Counted again when another command wrote or dropped since, and before giving up: an undo
    // or a failed write frees room without telling.
    for (bool counted = false; !counted;) {
        if (!m_others || m_others->generation != generation || m_others->bytes > room) {
            m_others = std::make_unique<Others>();
            m_others->generation = generation;
            for (CommandFolder& command : CommandsIn(m_root.get())) {
                if (command.stackName == m_store.m_stack && command.name == m_name) continue;
                m_others->bytes += command.bytes;
                m_others->oldestFirst.push_back(std::move(command));
            }
            counted = true;
        }
        if (m_others->bytes <= room) return true;
    }
    Others& others = *m_others;
    for (auto oldest = others.oldestFirst.begin();
         oldest != others.oldestFirst.end() && others.bytes > room;) {
        if (oldest->bytes > 0 && oldest->folder && DropCommand(*oldest)) {
            others.bytes -= oldest->bytes;
            oldest = others.oldestFirst.erase(oldest);
        } else {
            ++oldest;
        }
    }
    return others.bytes <= room;
}

// ---- the store --------------------------------------------------------------------------------

UndoStore::UndoStore(QString root, QString stack, std::uint64_t bound, platform::ReplaceCalls calls)
    : m_root(Native(root)), m_stack(Native(stack)), m_bound(bound), m_calls(std::move(calls)) {}

std::unique_ptr<UndoCommand> UndoStore::Begin(platform::Result* why) const {
    StoreFolders folders = OpenStore(m_root, m_stack, true);
    if (!folders.stack.valid()) {
        if (why) *why = std::move(folders.why);
        return nullptr;
    }
    return std::unique_ptr<UndoCommand>(new UndoCommand(
        *this, std::move(folders.root), std::move(folders.stack), NewCommandName()));
}

bool UndoStore::CanUndo() const {
    const StoreFolders folders = OpenStore(m_root, m_stack, false);
    return folders.root.valid() && !CommandsIn(folders.root.get(), m_stack).empty();
}

platform::Result
UndoStore::WriteRecord(RecordTemporary& record,
                       std::span<const std::span<const std::uint8_t>> parts) const {
    platform::SmallFileWrite how;
    how.fsyncFile = m_calls.fsyncFile;
    how.beforeRename = [this](int) { m_calls.beforeReplace(); };
    how.fsyncFolder = m_calls.fsyncFolder;
    return platform::CommitTemporary(record.folder, std::move(record.fd), record.name,
                                     record.record, parts, how);
}

void UndoStore::Clear() const {
    const StoreFolders folders = OpenStore(m_root, m_stack, false);
    if (!folders.root.valid()) return;
    for (const CommandFolder& command : CommandsIn(folders.root.get(), m_stack))
        ClearCommand(command);
}

std::size_t UndoStore::PhotosInLast() const {
    const StoreFolders folders = OpenStore(m_root, m_stack, false);
    if (!folders.root.valid()) return 0;
    const std::vector<CommandFolder> commands = CommandsIn(folders.root.get(), m_stack);
    return commands.empty() ? 0 : commands.back().records.size();
}

namespace {

// The command's folder stays while a record waits for another try; a folder named like a
// record, told of once, is set aside with its command so that it never holds the older commands
// back.
void RemoveUndoneCommand(const CommandFolder& last, int folder, bool leftFolder) {
    const bool waiting =
        std::any_of(last.records.begin(), last.records.end(), [folder](const auto& r) {
            struct stat st {};
            return ::fstatat(folder, r.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
        });
    const int stack = last.stack->get();
    if (::unlinkat(stack, last.name.c_str(), AT_REMOVEDIR) != 0 && leftFolder && !waiting)
        ::renameat(stack, last.name.c_str(), stack, ("." + last.name).c_str());
}

} // namespace

UndoResult UndoStore::UndoLast(const UndoFollow& follow) const {
    UndoResult result;
    const StoreFolders folders = OpenStore(m_root, m_stack, false);
    if (!folders.stack.valid()) {
        if (folders.why.error() == ENOENT)
            result.nothing = true;
        else
            result.error = folders.why;
        return result;
    }
    const std::vector<CommandFolder> commands = CommandsIn(folders.root.get(), m_stack);
    if (commands.empty()) {
        result.nothing = true;
        return result;
    }
    const CommandFolder& last = commands.back();
    const std::string shown = m_root + "/" + m_stack + "/" + last.name;
    platform::UniqueFd folder = OpenCommand(last);
    if (!folder.valid()) {
        struct stat st {};
        result.error =
            ::fstatat(last.stack->get(), last.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0
                ? NotAFolder(shown, st)
                : platform::Result::FromErrno(errno);
        return result;
    }
    if (!TryLock(folder.get())) {
        result.error =
            platform::Result::FromErrno(EBUSY, platform::Why::UndoCommandBusy).about(shown);
        return result;
    }
    const auto entry = [&folder, &shown](const std::string& name) {
        return RecordEntry{folder.get(), name, shown + "/" + name};
    };
    bool leftFolder = false;
    const auto add = [&result, &follow](UndoPhoto photo) {
        result.photos.push_back(std::move(photo));
        if (follow.each) follow.each(result.photos.back());
    };
    for (const std::string& stray : last.strays)
        add(StrayRecord(entry(stray), leftFolder));
    const std::string command = m_stack + "/" + last.name;
    InterruptedBeside beside(m_calls, result.leftovers);
    const KeepReplaced keep = KeepFor(follow.counter);
    for (auto record = last.records.rbegin(); record != last.records.rend(); ++record)
        add(UndoRecord(entry(*record), command, m_calls, beside, keep));
    for (const LostPhoto& lost : ReadLost(folder.get()))
        add(LostUndoPhoto(lost, shown + "/" + kLostName));
    ::unlinkat(folder.get(), kLostName, 0);
    RemoveUndoneCommand(last, folder.get(), leftFolder);
    return result;
}

void FollowUndo(AutoList& list, const QString& folder, const UndoResult& undone) {
    const QString absoluteFolder = QDir::cleanPath(QFileInfo(folder).absoluteFilePath());
    for (const UndoPhoto& photo : undone.photos) {
        if (photo.status != UndoPhoto::Status::Restored ||
            !collection::SamePath(QDir::cleanPath(QFileInfo(photo.path).absolutePath()),
                                  absoluteFolder))
            continue;
        const int i = list.IndexOf(photo.path);
        if (i < 0) {
            list.NoteOrientation(photo.path, photo.orientation);
        } else if (rotate::UprightCode(photo.orientation)) {
            list[std::size_t(i)].value = photo.orientation;
        } else {
            list.erase(list.begin() + i);
        }
    }
}

} // namespace session
