// SPDX-License-Identifier: GPL-3.0-or-later
#include "session/undo.h"

#include "collection/scan.h"
#include "exif/jpeg_header.h"
#include "rotate/orientation_table.h"
#include "session/undo_record.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>
#include <xxhash.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <map>
#include <set>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>

#include "platform/desktop_thumbnails.h"
#include "platform/kept_copy.h"
#include "platform/photo_lock.h"
#include "platform/record_bytes.h"
#include "platform/xdg_dirs.h"

namespace session {
namespace {

// Version 1 checked with Blake2b-256; version 2 with XXH3-128, the header included; version 3
// names the command it belongs to, so that a record moved to another command's folder is refused.
// Records of versions 1 and 2 left by an earlier release are still taken back, wherever they lie.
constexpr char kMagicV1[8] = {'T', 'U', 'L', 'V', 'X', 'U', 'N', '1'};
constexpr char kMagicV2[8] = {'T', 'U', 'L', 'V', 'X', 'U', 'N', '2'};
constexpr char kMagic[8] = {'T', 'U', 'L', 'V', 'X', 'U', 'N', '3'};
constexpr const char* kRecordSuffix = ".undo";
constexpr std::uint32_t kMaxPathBytes = 64 * 1024;
// "STACK/COMMAND": two file names.
constexpr std::uint32_t kMaxCommandBytes = 2 * 255 + 1;
// Folders looked at: a crafted state folder must not make a turn crawl.
constexpr int kMaxEntries = 100000;

// ---- records ----------------------------------------------------------------------------------

enum class RecordVersion { Blake2b = 1, Xxh3 = 2, Owned = 3 };

// Large enough for either version's hash; version 2 uses the first 16 bytes.
using RecordHash = std::array<std::uint8_t, 32>;

RecordHash Blake2bOf(std::span<const std::uint8_t> bytes) {
    QCryptographicHash hash(QCryptographicHash::Blake2b_256);
    hash.addData(
        QByteArrayView(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size())));
    const QByteArray result = hash.result();
    RecordHash out{};
    std::copy_n(result.begin(), std::min<std::size_t>(out.size(), std::size_t(result.size())),
                out.begin());
    return out;
}

RecordHash Widened(const UndoHash& hash) {
    RecordHash out{};
    std::copy(hash.begin(), hash.end(), out.begin());
    return out;
}

RecordHash HashFor(RecordVersion version, std::span<const std::uint8_t> bytes) {
    return version == RecordVersion::Blake2b ? Blake2bOf(bytes) : Widened(HashOfBytes(bytes));
}

std::size_t HashBytes(RecordVersion version) {
    return version == RecordVersion::Blake2b ? 32 : 16;
}

struct Header {
    RecordVersion version = RecordVersion::Owned;
    std::string path;    // native
    std::string command; // "STACK/COMMAND" it belongs to; empty before version 3
    std::uint64_t oldSize = 0;
    platform::FileTimes oldTimes;
    std::uint64_t newSize = 0;
    struct timespec newModification {};
    RecordHash newHash{};
    RecordHash oldHash{};
};

// Up to the path, and after it up to the hashes, the command's length included.
constexpr std::size_t kFieldBytes = sizeof kMagic + 4 + 2 + 8 + 4 * 8 + 8 + 2 * 8;
// The largest header of any version, the path left out: versions 2 and 3 end with a hash of
// themselves.
constexpr std::size_t kFixedBytes = kFieldBytes + kMaxCommandBytes + 2 * 32;
constexpr std::uint64_t kMaxRecordBytes =
    platform::kept::kMaxPhotoBytes + kMaxPathBytes + kFixedBytes;

void Put(std::vector<std::uint8_t>& out, std::uint64_t value, int bytes) {
    platform::PutLittleEndian(out, value, bytes);
}

void PutTime(std::vector<std::uint8_t>& out, const struct timespec& t) {
    Put(out, std::uint64_t(std::int64_t(t.tv_sec)), 8);
    Put(out, std::uint64_t(std::int64_t(t.tv_nsec)), 8);
}

void PutHash(std::vector<std::uint8_t>& out, const RecordHash& hash, RecordVersion version) {
    out.insert(out.end(), hash.begin(), hash.begin() + std::ptrdiff_t(HashBytes(version)));
}

// Always of the current version: its last 16 bytes hash all that comes before them.
std::vector<std::uint8_t> EncodeHeader(const Header& h) {
    std::vector<std::uint8_t> out(kMagic, kMagic + sizeof kMagic);
    Put(out, h.path.size(), 4);
    out.insert(out.end(), h.path.begin(), h.path.end());
    Put(out, h.command.size(), 2);
    out.insert(out.end(), h.command.begin(), h.command.end());
    Put(out, h.oldSize, 8);
    PutTime(out, h.oldTimes.access);
    PutTime(out, h.oldTimes.modification);
    Put(out, h.newSize, 8);
    PutTime(out, h.newModification);
    PutHash(out, h.newHash, RecordVersion::Xxh3);
    PutHash(out, h.oldHash, RecordVersion::Xxh3);
    const UndoHash self = HashOfBytes(out);
    out.insert(out.end(), self.begin(), self.end());
    return out;
}

bool GetTime(platform::RecordReader& in, struct timespec& t) {
    std::uint64_t sec = 0, nsec = 0;
    if (!in.get(sec, 8) || !in.get(nsec, 8) || nsec >= 1000000000u) return false;
    t.tv_sec = time_t(std::int64_t(sec));
    t.tv_nsec = long(nsec);
    return true;
}

bool GetHash(platform::RecordReader& in, RecordHash& hash, RecordVersion version) {
    return in.raw(std::span(hash).first(HashBytes(version)));
}

std::optional<RecordVersion> VersionOf(std::span<const std::uint8_t> file) {
    if (file.size() < sizeof kMagic) return std::nullopt;
    if (std::equal(kMagic, kMagic + sizeof kMagic, file.begin())) return RecordVersion::Owned;
    if (std::equal(kMagicV2, kMagicV2 + sizeof kMagicV2, file.begin())) return RecordVersion::Xxh3;
    if (std::equal(kMagicV1, kMagicV1 + sizeof kMagicV1, file.begin()))
        return RecordVersion::Blake2b;
    return std::nullopt;
}

// The header of versions 2 and 3 ends with the hash of all of it before that hash.
bool HeaderIntact(std::span<const std::uint8_t> file, platform::RecordReader& in) {
    const std::size_t headerEnd = file.size() - in.left();
    UndoHash stored{};
    return in.raw(stored) && HashOfBytes(file.first(headerEnd)) == stored;
}

bool GetText(platform::RecordReader& in, std::string& text, int lengthBytes,
             std::uint64_t maxBytes) {
    std::uint64_t length = 0;
    if (!in.get(length, lengthBytes) || length > maxBytes || length > in.left()) return false;
    text.resize(std::size_t(length));
    return in.raw({reinterpret_cast<std::uint8_t*>(text.data()), text.size()}) &&
           text.find('\0') == std::string::npos;
}

// A whole record file, read for the command `command` ("STACK/COMMAND") whose folder it lies
// in. Damaged unless every length agrees and the old bytes are the ones that were kept; the
// header's path is told only where the header checked out (it is checked from version 2 on).
struct DecodedRecord {
    enum class Fault { None, Damaged, Foreign };
    Fault fault = Fault::Damaged;
    Header header;
    std::span<const std::uint8_t> oldBytes;
};

DecodedRecord DecodeRecord(std::span<const std::uint8_t> file, const std::string& command) {
    DecodedRecord out;
    const std::optional<RecordVersion> version = VersionOf(file);
    if (!version) return out;
    platform::RecordReader in(file.subspan(sizeof kMagic));
    Header& h = out.header;
    h.version = *version;
    if (!GetText(in, h.path, 4, kMaxPathBytes) || h.path.empty() ||
        (h.version == RecordVersion::Owned &&
         (!GetText(in, h.command, 2, kMaxCommandBytes) || h.command.empty())) ||
        !in.get(h.oldSize, 8) || !GetTime(in, h.oldTimes.access) ||
        !GetTime(in, h.oldTimes.modification) || !in.get(h.newSize, 8) ||
        !GetTime(in, h.newModification) || !GetHash(in, h.newHash, h.version) ||
        !GetHash(in, h.oldHash, h.version) ||
        (h.version != RecordVersion::Blake2b && !HeaderIntact(file, in))) {
        out.header = Header{};
        return out;
    }
    if (in.left() != h.oldSize || HashFor(h.version, in.rest()) != h.oldHash) {
        if (h.version == RecordVersion::Blake2b) h.path.clear(); // its header is unchecked
        return out;
    }
    out.fault = h.version == RecordVersion::Owned && h.command != command
                    ? DecodedRecord::Fault::Foreign
                    : DecodedRecord::Fault::None;
    out.oldBytes = in.rest();
    return out;
}

// ---- folders ----------------------------------------------------------------------------------

std::string Native(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

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

platform::Result NotAFolder(const std::string& shown, const struct stat& st) {
    const std::string what = S_ISLNK(st.st_mode)
                                 ? "the undo folder " + shown + " is a symbolic link"
                                 : "the undo folder " + shown + " is not a folder";
    return platform::Result::Failure(platform::Result::Kind::Other,
                                     what + "; nothing is kept there", ELOOP);
}

// The folder `name` of `parent`, never through a link, made when `make` says so; mode 0700
// either way, since it holds copies of the user's photos. `shown` names it in a failure.
platform::UniqueFd OpenPrivateFolder(int parent, const std::string& name, bool make,
                                     const std::string& shown, platform::Result& why) {
    if (make && ::mkdirat(parent, name.c_str(), 0700) != 0 && errno != EEXIST) {
        why = platform::Result::FromErrno(errno);
        return {};
    }
    platform::UniqueFd fd(
        ::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat st {};
    if (!fd.valid()) {
        const int error = errno;
        if (::fstatat(parent, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISDIR(st.st_mode))
            why = NotAFolder(shown, st);
        else
            why = platform::Result::FromErrno(error);
        return {};
    }
    if (::fstat(fd.get(), &st) != 0 ||
        ((st.st_mode & 07777) != 0700 && ::fchmod(fd.get(), 0700) != 0)) {
        why = platform::Result::FromErrno(errno);
        return {};
    }
    return fd;
}

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

std::string NewCommandName() {
    struct timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    char name[64];
    std::snprintf(name, sizeof name, "%010lld%010ld-%d", static_cast<long long>(now.tv_sec),
                  now.tv_nsec, int(::getpid()));
    return name;
}

// A lock on `fd` taken without waiting; false while another holds it.
bool TryLock(int fd) {
    return ::flock(fd, LOCK_EX | LOCK_NB) == 0;
}

// Removes a temporary of ours in `folder` that no process holds.
bool RemoveIfStaleIn(int folder, const std::string& name) {
    const platform::UniqueFd fd(
        ::openat(folder, name.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    struct stat st {};
    return fd.valid() && ::fstat(fd.get(), &st) == 0 && S_ISREG(st.st_mode) && TryLock(fd.get()) &&
           ::unlinkat(folder, name.c_str(), 0) == 0;
}

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

// Every command below `root` (all stacks, or only `onlyStack`), oldest first. A stack that is
// not a folder holds nothing of ours and is passed over.
std::vector<CommandFolder> CommandsIn(int root, const std::string& onlyStack = {}) {
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

// Adds `paths` to the folder's list of lost photos and flushes it; past kMaxLostBytes the list
// only says that more were lost. The store's lock held, so that appends never interleave.
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

struct LostPhoto {
    char reason = kDroppedReason;
    std::string path; // empty after kMoreReason
};

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

// `list` names the list of lost photos, for the entry that stands for those it could not name.
UndoPhoto LostUndoPhoto(const LostPhoto& lost, const std::string& list) {
    UndoPhoto photo;
    photo.path = QFile::decodeName(lost.path.c_str());
    if (lost.path.empty()) photo.record = QFile::decodeName(list.c_str());
    photo.status = UndoPhoto::Status::Lost;
    const char* why = lost.reason == kDidNotFitReason
                          ? "its undo data did not fit in the undo folder"
                      : lost.reason == kMoreReason
                          ? "more photos of this command lost their undo data to make room; "
                            "the list of their names was full"
                          : "its undo data was dropped to make room";
    photo.result = platform::Result::Failure(platform::Result::Kind::NoSpace, why, ENOSPC);
    return photo;
}

// ---- undo of one photo ------------------------------------------------------------------------

bool SameTime(const struct timespec& a, const struct timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// The folder a photo is replaced in: that of the file its links lead to.
std::string ReplacedInFolder(const std::string& photo) {
    std::unique_ptr<char, decltype(&std::free)> real(::realpath(photo.c_str(), nullptr),
                                                     &std::free);
    const std::string file = real ? std::string(real.get()) : photo;
    const auto slash = file.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : file.substr(0, slash);
}

// The interrupted turns and undos beside the photos of an undo, finished before those photos are
// looked at, as a turn does: each folder once. A photo whose complete copy could not be put in
// place is torn, not changed since, and keeps its record.
class InterruptedBeside {
public:
    InterruptedBeside(const platform::FlushCalls& calls,
                      std::vector<platform::LeftoverOutcome>& told)
        : m_calls(calls), m_told(told) {}

    void FinishNear(const std::string& photo) {
        const std::string folder = ReplacedInFolder(photo);
        if (!m_folders.insert(folder).second) return;
        for (const std::string& leftover : platform::LeftoversIn(folder))
            Note(platform::ResolveLeftover(leftover, m_calls));
    }

    // Why the photo `identity` names is torn, when it is.
    const platform::Result* Unfinished(const struct stat& identity) const {
        const auto found = m_unfinished.find({identity.st_dev, identity.st_ino});
        return found == m_unfinished.end() ? nullptr : &found->second;
    }

private:
    void Note(platform::LeftoverOutcome outcome) {
        using Status = platform::LeftoverOutcome::Status;
        if (outcome.status == Status::Failed) {
            struct stat st {};
            if (::lstat(outcome.target.c_str(), &st) == 0)
                m_unfinished[{st.st_dev, st.st_ino}] = outcome.result.withText(
                    "its interrupted change could not be finished (" + outcome.result.text() +
                    "); the complete copy stays in " + outcome.leftover);
        }
        if (outcome.status == Status::Finished || outcome.status == Status::Failed ||
            outcome.status == Status::Foreign)
            m_told.push_back(std::move(outcome));
    }

    const platform::FlushCalls& m_calls;
    std::vector<platform::LeftoverOutcome>& m_told;
    std::set<std::string> m_folders;
    std::map<std::pair<dev_t, ino_t>, platform::Result> m_unfinished;
};

// Gone, or a folder, a FIFO or a device in its place: changed since for good, not a passing
// failure that would hold the record (and every older command) back.
bool NoPhotoThere(const platform::Result& locked) {
    using Kind = platform::Result::Kind;
    return locked.kind() == Kind::NotFound || locked.kind() == Kind::Unsupported ||
           locked.error() == ENXIO || locked.error() == ELOOP;
}

bool HoldsExactly(const platform::ReadPhoto& read, std::span<const std::uint8_t> bytes) {
    return read.bytes.size() == bytes.size() &&
           std::equal(bytes.begin(), bytes.end(), read.bytes.begin());
}

// The photo holds its old bytes already: an undo that its complete copy finished, or one killed
// before its record was removed. Only the times may still be the rewrite's.
UndoPhoto AlreadyRestored(UndoPhoto photo, const Header& h,
                          std::span<const std::uint8_t> oldBytes) {
    photo.status = UndoPhoto::Status::Restored;
    if (auto times = platform::SetFileTimes(h.path, h.oldTimes); !times.ok()) {
        photo.timesNotRestored = true;
        photo.result = std::move(times);
    } else {
        photo.times = h.oldTimes;
    }
    platform::RemoveDesktopThumbnails(photo.path);
    if (const auto header = exif::ParseJpegHeader(oldBytes))
        photo.orientation = header->orientation;
    return photo;
}

// Whether the locked photo holds exactly what the command wrote.
bool HoldsWhatWasWritten(const platform::ReadPhoto& read, const Header& h) {
    return std::uint64_t(read.identity.st_size) == h.newSize &&
           SameTime(read.identity.st_mtim, h.newModification) &&
           HashFor(h.version, read.bytes) == h.newHash;
}

UndoPhoto RestorePhoto(const Header& h, std::span<const std::uint8_t> oldBytes,
                       const platform::FlushCalls& calls, const InterruptedBeside& beside) {
    UndoPhoto photo;
    photo.path = QFile::decodeName(h.path.c_str());
    platform::LockedPhoto locked;
    if (auto got = platform::LockPhoto(h.path, O_RDONLY, calls.lockWait, locked); !got.ok()) {
        photo.status =
            NoPhotoThere(got) ? UndoPhoto::Status::ChangedSince : UndoPhoto::Status::Failed;
        photo.result = std::move(got);
        return photo;
    }
    std::vector<std::uint8_t> current;
    platform::ReadPhoto read;
    if (auto got = platform::ReadLockedPhoto(locked, current, read); !got.ok()) {
        photo.result = std::move(got);
        return photo;
    }
    if (!HoldsWhatWasWritten(read, h)) {
        if (HoldsExactly(read, oldBytes)) return AlreadyRestored(std::move(photo), h, oldBytes);
        if (const platform::Result* torn = beside.Unfinished(read.identity)) {
            photo.result = *torn;
            return photo;
        }
        photo.status = UndoPhoto::Status::ChangedSince;
        return photo;
    }
    platform::ReplaceResult written =
        platform::ReplaceFileContents(locked, oldBytes, calls, &read, &h.oldTimes);
    if (!written.replaced()) {
        photo.result = std::move(written.result);
        return photo;
    }
    photo.status = UndoPhoto::Status::Restored;
    if (!written.times.ok()) {
        photo.timesNotRestored = true;
        photo.result = std::move(written.times);
    } else {
        photo.times = h.oldTimes;
    }
    platform::RemoveDesktopThumbnails(photo.path);
    if (const auto header = exif::ParseJpegHeader(oldBytes))
        photo.orientation = header->orientation;
    return photo;
}

// A record by its command folder's descriptor, and its full path for messages.
struct RecordEntry {
    int folder = -1;
    std::string name;
    std::string shown;
};

// The whole record, never through a link; one too large for any photo is no record of ours.
platform::Result ReadRecordFile(const RecordEntry& record, std::vector<std::uint8_t>& file) {
    const platform::UniqueFd fd(
        ::openat(record.folder, record.name.c_str(),
                 O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY));
    struct stat st {};
    if (!fd.valid() || ::fstat(fd.get(), &st) != 0) return platform::Result::FromErrno(errno);
    if (!S_ISREG(st.st_mode)) return platform::NotARegularFile();
    if (std::uint64_t(st.st_size) > kMaxRecordBytes)
        return platform::Result::Failure(platform::Result::Kind::Damaged, "it is too large", EFBIG);
    file.resize(std::size_t(st.st_size));
    if (!platform::ReadFullyAt(fd.get(), file.data(), file.size(), 0))
        return platform::Result::FromErrno(errno);
    return {};
}

UndoPhoto NotRestored(const std::string& record, const std::string& photoPath, std::string why) {
    UndoPhoto photo;
    photo.path = QFile::decodeName(photoPath.c_str());
    photo.record = QFile::decodeName(record.c_str());
    photo.result = platform::Result::Failure(platform::Result::Kind::Damaged, std::move(why));
    return photo;
}

// A record that can never be put back is removed; its photo is named where its header says.
UndoPhoto DamagedRecord(const RecordEntry& record, const std::string& photoPath, std::string why) {
    ::unlinkat(record.folder, record.name.c_str(), 0);
    return NotRestored(record.shown, photoPath, std::move(why) + "; the record was removed");
}

// Named like a record, but a link, a FIFO or a folder: never read or followed. Unlinking removes
// the entry alone; a folder is left.
UndoPhoto StrayRecord(const RecordEntry& entry, bool& leftFolder) {
    struct stat st {};
    if (::fstatat(entry.folder, entry.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISDIR(st.st_mode)) {
        leftFolder = true;
        return NotRestored(entry.shown, {}, "the undo record is a folder; left as it is");
    }
    return DamagedRecord(entry, {},
                         "the undo record is a link or a special file, not a regular file");
}

UndoPhoto UndoRecord(const RecordEntry& record, const std::string& command,
                     const platform::FlushCalls& calls, InterruptedBeside& beside) {
    std::vector<std::uint8_t> file;
    if (platform::Result read = ReadRecordFile(record, file); !read.ok()) {
        if (read.kind() == platform::Result::Kind::Damaged)
            return DamagedRecord(record, {}, "the undo record " + read.text());
        UndoPhoto photo = NotRestored(record.shown, {}, {});
        photo.result = read.withText("the undo record cannot be read: " + read.text());
        return photo;
    }
    const DecodedRecord decoded = DecodeRecord(file, command);
    using Fault = DecodedRecord::Fault;
    if (decoded.fault == Fault::Damaged)
        return DamagedRecord(record, decoded.header.path, "the undo record is damaged");
    if (decoded.fault == Fault::Foreign)
        return DamagedRecord(record, decoded.header.path,
                             "the undo record belongs to another command (" +
                                 decoded.header.command + ")");
    beside.FinishNear(decoded.header.path);
    UndoPhoto photo = RestorePhoto(decoded.header, decoded.oldBytes, calls, beside);
    if (photo.status != UndoPhoto::Status::Failed)
        ::unlinkat(record.folder, record.name.c_str(), 0);
    return photo;
}

} // namespace

std::optional<std::uint64_t> UndoRecordOldBytes(std::span<const std::uint8_t> file,
                                                const std::string& command) {
    const DecodedRecord decoded = DecodeRecord(file, command);
    if (decoded.fault != DecodedRecord::Fault::None) return std::nullopt;
    return decoded.oldBytes.size();
}

QString DefaultUndoFolder() {
    return platform::XdgBaseDir("XDG_STATE_HOME", QStringLiteral(".local/state")) + "/tulvex/undo";
}

UndoHash HashOfBytes(std::span<const std::uint8_t> bytes) {
    XXH128_canonical_t canonical;
    XXH128_canonicalFromHash(&canonical, XXH3_128bits(bytes.data(), bytes.size()));
    UndoHash out{};
    std::copy(std::begin(canonical.digest), std::end(canonical.digest), out.begin());
    return out;
}

UndoCapture CaptureTurn(const platform::ReadPhoto& read, std::span<const std::uint8_t> turned) {
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

struct RecordTemporary {
    platform::UniqueFd fd;
    int folder = -1;
    std::string name;   // of the temporary
    std::string record; // the name it takes once complete
};

namespace {

std::string RandomLetters(std::size_t count) {
    static constexpr char kLetters[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::vector<std::uint8_t> random(count);
    if (::getrandom(random.data(), random.size(), 0) != ssize_t(random.size())) {
        struct timespec now {};
        ::clock_gettime(CLOCK_MONOTONIC, &now);
        for (std::size_t i = 0; i < count; ++i)
            random[i] = std::uint8_t(now.tv_nsec >> (i * 5)) ^ std::uint8_t(::getpid() + int(i));
    }
    std::string out;
    for (const std::uint8_t byte : random)
        out += kLetters[byte % (sizeof kLetters - 1)];
    return out;
}

// A temporary beside the record `record` of `folder`, locked while it is written: a sweep
// removes only temporaries that nobody holds. No fd when it cannot be made (errno says why).
RecordTemporary OpenRecordTemporary(int folder, const std::string& record) {
    RecordTemporary temp{platform::UniqueFd(), folder, {}, record};
    for (int attempt = 0; attempt < 100 && !temp.fd.valid(); ++attempt) {
        temp.name = "." + record + platform::kTemporaryMarker + RandomLetters(6);
        temp.fd = platform::UniqueFd(::openat(
            folder, temp.name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (!temp.fd.valid() && errno != EEXIST) return temp;
    }
    if (temp.fd.valid() && ::flock(temp.fd.get(), LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::unlinkat(folder, temp.name.c_str(), 0);
        temp.fd.reset();
        errno = error;
    }
    return temp;
}

// The store's lock, across processes, taken relative to the root's descriptor.
class StoreLock {
public:
    explicit StoreLock(int root)
        : m_fd(::openat(root, kStoreLockName, O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600)) {
        struct stat st {};
        if (!m_fd.valid() || ::fstat(m_fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
            m_result = platform::Result::FromErrno(m_fd.valid() ? EINVAL : errno,
                                                   "the undo folder's lock cannot be taken");
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

StoreFolders OpenStore(const std::string& root, const std::string& stack, bool make) {
    StoreFolders folders;
    const std::string state = root.substr(0, root.rfind('/'));
    if (make && !QDir().mkpath(QFileInfo(QFile::decodeName(state.c_str())).path())) {
        folders.why = platform::Result::FromErrno(errno ? errno : EACCES);
        return folders;
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

// Drops the records of a command that no process is writing; the photos they were kept for are
// named in its folder first. False when it is being written or its photos cannot be named.
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

} // namespace

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
            return platform::Result::FromErrno(
                ENOSPC, "the undo folder's space is used up by this command");
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

UndoStore::UndoStore(QString root, QString stack, std::uint64_t bound, platform::FlushCalls calls)
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
    const platform::UniqueFd fd = std::move(record.fd);
    const int folder = record.folder;
    const std::string& temp = record.name;
    const auto fail = [folder, &temp](int error) {
        ::unlinkat(folder, temp.c_str(), 0);
        return platform::Result::FromErrno(error);
    };
    std::uint64_t at = 0;
    for (const std::span<const std::uint8_t> part : parts) {
        if (!part.empty() && !platform::WriteFullyAt(fd.get(), part.data(), part.size(), at))
            return fail(errno);
        at += part.size();
    }
    if (m_calls.fsyncFile(fd.get()) != 0) return fail(errno);
    m_calls.beforeReplace();
    if (::renameat(folder, temp.c_str(), folder, record.record.c_str()) != 0) return fail(errno);
    m_calls.fsyncFolder(folder);
    return {};
}

UndoResult UndoStore::UndoLast() const {
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
        result.error = platform::Result::FromErrno(EBUSY, "the last command (" + shown +
                                                              ") is still being written or undone");
        return result;
    }
    const auto entry = [&folder, &shown](const std::string& name) {
        return RecordEntry{folder.get(), name, shown + "/" + name};
    };
    bool leftFolder = false;
    for (const std::string& stray : last.strays)
        result.photos.push_back(StrayRecord(entry(stray), leftFolder));
    const std::string command = m_stack + "/" + last.name;
    InterruptedBeside beside(m_calls, result.leftovers);
    for (auto record = last.records.rbegin(); record != last.records.rend(); ++record)
        result.photos.push_back(UndoRecord(entry(*record), command, m_calls, beside));
    for (const LostPhoto& lost : ReadLost(folder.get()))
        result.photos.push_back(LostUndoPhoto(lost, shown + "/" + kLostName));
    ::unlinkat(folder.get(), kLostName, 0);
    const bool waiting =
        std::any_of(last.records.begin(), last.records.end(), [&folder](const auto& r) {
            struct stat st {};
            return ::fstatat(folder.get(), r.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
        });
    // Stays while a record waits for another try; a folder named like a record, told of once,
    // is set aside with its command so that it never holds the older commands back.
    const int stack = last.stack->get();
    if (::unlinkat(stack, last.name.c_str(), AT_REMOVEDIR) != 0 && leftFolder && !waiting)
        ::renameat(stack, last.name.c_str(), stack, ("." + last.name).c_str());
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
