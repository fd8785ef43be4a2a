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

// Made when missing; mode 0700 either way, since it holds copies of the user's photos.
bool MakePrivateFolder(const std::string& path) {
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return false;
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
    return (st.st_mode & 07777) == 0700 || ::chmod(path.c_str(), 0700) == 0;
}

std::vector<std::string> NamesIn(const std::string& folder) {
    std::vector<std::string> names;
    const QDir dir(QFile::decodeName(folder.c_str()));
    for (const QString& name :
         dir.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)) {
        if (int(names.size()) >= kMaxEntries) break;
        names.push_back(Native(name));
    }
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

struct CommandFolder {
    std::string path;
    std::string name;
    std::uint64_t bytes = 0;
    std::vector<std::string> records; // full paths, in the order they were kept
    std::vector<std::string> strays;  // named like records, but no regular file
};

// Removes the temporaries of killed writes; records of the folder with their sizes, and the
// entries named like records that are no regular file, to be told of rather than passed over.
CommandFolder ReadCommandFolder(const std::string& path, const std::string& name) {
    CommandFolder command{path, name, 0, {}, {}};
    for (const std::string& entry : NamesIn(path)) {
        const std::string file = path + "/" + entry;
        if (platform::IsTemporaryName(entry)) {
            platform::RemoveIfStale(file);
            continue;
        }
        struct stat st {};
        if (!IsRecordName(entry) || ::lstat(file.c_str(), &st) != 0) continue;
        if (!S_ISREG(st.st_mode)) {
            command.strays.push_back(file);
            continue;
        }
        command.bytes += std::uint64_t(st.st_size);
        command.records.push_back(file);
    }
    return command;
}

// Every command below `root` (all stacks), oldest first; empty ones are removed.
std::vector<CommandFolder> CommandsIn(const std::string& root, const std::string& onlyStack = {}) {
    std::vector<CommandFolder> commands;
    for (const std::string& stack : NamesIn(root)) {
        if (!onlyStack.empty() && stack != onlyStack) continue;
        const std::string stackPath = root + "/" + stack;
        for (const std::string& name : NamesIn(stackPath)) {
            if (!IsCommandName(name)) continue;
            CommandFolder command = ReadCommandFolder(stackPath + "/" + name, name);
            if (command.records.empty() && command.strays.empty()) {
                ::rmdir(command.path.c_str()); // fails while a write of it is in progress
                continue;
            }
            commands.push_back(std::move(command));
        }
    }
    std::sort(commands.begin(), commands.end(),
              [](const CommandFolder& a, const CommandFolder& b) { return a.name < b.name; });
    return commands;
}

void RemoveCommand(const CommandFolder& command) {
    for (const std::string& record : command.records)
        ::unlink(record.c_str());
    ::rmdir(command.path.c_str());
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

// The whole record, never through a link; one too large for any photo is no record of ours.
platform::Result ReadRecordFile(const std::string& record, std::vector<std::uint8_t>& file) {
    const platform::UniqueFd fd(
        ::open(record.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY));
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
UndoPhoto DamagedRecord(const std::string& record, const std::string& photoPath, std::string why) {
    ::unlink(record.c_str());
    return NotRestored(record, photoPath, std::move(why) + "; the record was removed");
}

// Named like a record, but a link, a FIFO or a folder: never read or followed. Unlinking removes
// the entry alone; a folder is left.
UndoPhoto StrayRecord(const std::string& entry, bool& leftFolder) {
    struct stat st {};
    if (::lstat(entry.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        leftFolder = true;
        return NotRestored(entry, {}, "the undo record is a folder; left as it is");
    }
    return DamagedRecord(entry, {},
                         "the undo record is a link or a special file, not a regular file");
}

UndoPhoto UndoRecord(const std::string& record, const std::string& command,
                     const platform::FlushCalls& calls, InterruptedBeside& beside) {
    std::vector<std::uint8_t> file;
    if (platform::Result read = ReadRecordFile(record, file); !read.ok()) {
        if (read.kind() == platform::Result::Kind::Damaged)
            return DamagedRecord(record, {}, "the undo record " + read.text());
        UndoPhoto photo = NotRestored(record, {}, {});
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
    if (photo.status != UndoPhoto::Status::Failed) ::unlink(record.c_str());
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
    std::string path;
};

namespace {

// A temporary beside `file`, locked while it is written: a sweep removes only temporaries that
// nobody holds. No fd when it cannot be made (errno says why).
RecordTemporary OpenRecordTemporary(const std::string& file) {
    const auto slash = file.rfind('/');
    const std::string folder = file.substr(0, slash);
    const std::string pattern =
        folder + "/." + file.substr(slash + 1) + platform::kTemporaryMarker + "XXXXXX";
    RecordTemporary temp{platform::UniqueFd(), pattern};
    temp.fd = platform::UniqueFd(::mkostemp(temp.path.data(), O_CLOEXEC));
    // A sweep (of another process) may have removed the folder while it was empty.
    if (!temp.fd.valid() && errno == ENOENT && MakePrivateFolder(folder)) {
        temp.path = pattern;
        temp.fd = platform::UniqueFd(::mkostemp(temp.path.data(), O_CLOEXEC));
    }
    if (temp.fd.valid() && ::flock(temp.fd.get(), LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::unlink(temp.path.c_str());
        temp.fd.reset();
        errno = error;
    }
    return temp;
}

} // namespace

// ---- the command ------------------------------------------------------------------------------

struct UndoCommand::Others {
    std::vector<CommandFolder> oldestFirst;
    std::size_t dropped = 0; // the first ones, removed to make room
    std::uint64_t bytes = 0; // of those still there
};

UndoCommand::UndoCommand(const UndoStore& store, std::string folder)
    : m_store(store), m_folder(std::move(folder)) {}

UndoCommand::~UndoCommand() {
    if (m_kept == 0) ::rmdir(m_folder.c_str());
}

platform::Result UndoCommand::Keep(const QString& path, const UndoCapture& capture) {
    Header h;
    // Absolute: an undo may run from another working folder than the turn.
    h.path = Native(QFileInfo(path).absoluteFilePath());
    if (h.path.empty() || h.path.size() > kMaxPathBytes)
        return platform::Result::FromErrno(ENAMETOOLONG);
    // The record belongs to this command: found in any other command's folder, it is refused.
    h.command = m_store.m_stack + "/" + m_folder.substr(m_folder.rfind('/') + 1);
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
    std::string file;
    RecordTemporary temp;
    {
        const std::lock_guard lock(m_mutex);
        if (!MakeRoom(size)) {
            return platform::Result::FromErrno(
                ENOSPC, "the undo folder's space is used up by this command");
        }
        if (!MakePrivateFolder(m_folder)) return platform::Result::FromErrno(errno);
        char name[32];
        std::snprintf(name, sizeof name, "%06d%s", ++m_next, kRecordSuffix);
        file = m_folder + "/" + name;
        // Made and locked before another thread's sweep can look at the folder.
        temp = OpenRecordTemporary(file);
        if (!temp.fd.valid()) return platform::Result::FromErrno(errno);
        m_bytes += size;
    }
    const std::span<const std::uint8_t> parts[] = {header, capture.oldBytes};
    platform::Result written = m_store.WriteRecord(temp, file, parts);
    if (written.ok()) {
        ++m_kept;
    } else {
        const std::lock_guard lock(m_mutex);
        m_bytes -= size;
    }
    return written;
}

bool UndoCommand::MakeRoom(std::uint64_t more) {
    const std::uint64_t bound = m_store.m_bound;
    if (more > bound || m_bytes > bound - more) return false;
    if (!m_others) {
        m_others = std::make_unique<Others>();
        for (CommandFolder& command : CommandsIn(m_store.m_root)) {
            if (command.path == m_folder) continue;
            m_others->bytes += command.bytes;
            m_others->oldestFirst.push_back(std::move(command));
        }
    }
    Others& others = *m_others;
    while (others.bytes > bound - more - m_bytes && others.dropped < others.oldestFirst.size()) {
        const CommandFolder& oldest = others.oldestFirst[others.dropped++];
        RemoveCommand(oldest);
        others.bytes -= oldest.bytes;
    }
    return others.bytes <= bound - more - m_bytes;
}

// ---- the store --------------------------------------------------------------------------------

UndoStore::UndoStore(QString root, QString stack, std::uint64_t bound, platform::FlushCalls calls)
    : m_root(Native(root)), m_stack(Native(stack)), m_bound(bound), m_calls(std::move(calls)) {}

std::unique_ptr<UndoCommand> UndoStore::Begin(platform::Result* why) const {
    const std::string state = Native(QFileInfo(QFile::decodeName(m_root.c_str())).path());
    const bool made = QDir().mkpath(QFile::decodeName(state.c_str())) && MakePrivateFolder(state) &&
                      MakePrivateFolder(m_root) && MakePrivateFolder(m_root + "/" + m_stack);
    if (!made) {
        if (why) *why = platform::Result::FromErrno(errno ? errno : EACCES);
        return nullptr;
    }
    const std::string folder = m_root + "/" + m_stack + "/" + NewCommandName();
    return std::unique_ptr<UndoCommand>(new UndoCommand(*this, folder));
}

bool UndoStore::CanUndo() const {
    return !CommandsIn(m_root, m_stack).empty();
}

platform::Result
UndoStore::WriteRecord(RecordTemporary& record, const std::string& file,
                       std::span<const std::span<const std::uint8_t>> parts) const {
    const std::string folder = file.substr(0, file.rfind('/'));
    const std::string& temp = record.path;
    const platform::UniqueFd fd = std::move(record.fd);
    const auto fail = [&temp](int error) {
        ::unlink(temp.c_str());
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
    if (::rename(temp.c_str(), file.c_str()) != 0) return fail(errno);
    const platform::UniqueFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.valid()) m_calls.fsyncFolder(dir.get());
    return {};
}

UndoResult UndoStore::UndoLast() const {
    UndoResult result;
    const std::vector<CommandFolder> commands = CommandsIn(m_root, m_stack);
    if (commands.empty()) {
        result.nothing = true;
        return result;
    }
    const CommandFolder& last = commands.back();
    bool leftFolder = false;
    for (const std::string& stray : last.strays)
        result.photos.push_back(StrayRecord(stray, leftFolder));
    const std::string command = m_stack + "/" + last.name;
    InterruptedBeside beside(m_calls, result.leftovers);
    for (auto record = last.records.rbegin(); record != last.records.rend(); ++record)
        result.photos.push_back(UndoRecord(*record, command, m_calls, beside));
    const bool waiting = std::any_of(last.records.begin(), last.records.end(), [](const auto& r) {
        struct stat st {};
        return ::lstat(r.c_str(), &st) == 0;
    });
    // Stays while a record waits for another try; a folder named like a record, told of once,
    // is set aside with its command so that it never holds the older commands back.
    if (::rmdir(last.path.c_str()) != 0 && leftFolder && !waiting)
        ::rename(last.path.c_str(), (m_root + "/" + m_stack + "/." + last.name).c_str());
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
