// SPDX-License-Identifier: GPL-3.0-or-later
#include "session/undo_restore.h"

#include "exif/jpeg_header.h"

#include <QFile>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <memory>

#include "platform/desktop_thumbnails.h"
#include "platform/photo_lock.h"
#include "platform/safe_replace.h"

namespace session::undo_detail {
namespace {

bool SameTime(const struct timespec& a, const struct timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

} // namespace

std::string ReplacedInFolder(const std::string& photo) {
    std::unique_ptr<char, decltype(&std::free)> real(::realpath(photo.c_str(), nullptr),
                                                     &std::free);
    const std::string file = real ? std::string(real.get()) : photo;
    const auto slash = file.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : file.substr(0, slash);
}

namespace {

// Gone, or a folder, a FIFO or a device in its place: changed since for good, not a passing
// failure that would hold the record (and every older command) back.
bool NoPhotoThere(const platform::Result& locked) {
    using Kind = platform::Result::Kind;
    return locked.kind() == Kind::NotFound || locked.kind() == Kind::Unsupported ||
           locked.error() == ENXIO || locked.error() == ELOOP;
}

bool HoldsExactly(const platform::PhotoAsRead& read, std::span<const std::uint8_t> bytes) {
    return read.bytes.size() == bytes.size() &&
           std::equal(bytes.begin(), bytes.end(), read.bytes.begin());
}

// The photo holds its old bytes again; `times` says whether its old times were given back.
UndoPhoto Restored(UndoPhoto photo, platform::Result times, const Header& h,
                   std::span<const std::uint8_t> oldBytes) {
    photo.status = UndoPhoto::Status::Restored;
    if (!times.ok()) {
        photo.result = std::move(times);
    } else {
        photo.times = h.oldTimes;
    }
    platform::RemoveDesktopThumbnails(photo.path);
    if (const auto header = exif::ParseJpegHeader(oldBytes))
        photo.orientation = header->orientation;
    return photo;
}

// The photo holds its old bytes already: an undo that its complete copy finished, or one killed
// before its record was removed. Only the times may still be the rewrite's.
UndoPhoto AlreadyRestored(UndoPhoto photo, const Header& h,
                          std::span<const std::uint8_t> oldBytes) {
    return Restored(std::move(photo), platform::SetFileTimes(h.path, h.oldTimes), h, oldBytes);
}

// Whether the locked photo holds exactly what the command wrote.
bool HoldsWhatWasWritten(const platform::PhotoAsRead& read, const Header& h) {
    return std::uint64_t(read.identity.st_size) == h.newSize &&
           SameTime(read.identity.st_mtim, h.newModification) &&
           HashFor(h.version, read.bytes) == h.newHash;
}

} // namespace

UndoPhoto RestorePhoto(const Header& h, std::span<const std::uint8_t> oldBytes,
                       const platform::ReplaceCalls& calls, const InterruptedBeside& beside,
                       const KeepReplaced& keep) {
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
    platform::PhotoAsRead read;
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
    if (keep) keep(h.path, read, oldBytes);
    return Restored(std::move(photo), std::move(written.times), h, oldBytes);
}

namespace {

// The whole record, never through a link; one too large for any photo is no record of ours.
platform::Result ReadRecordFile(const RecordEntry& record, std::vector<std::uint8_t>& file) {
    const platform::UniqueFd fd(
        ::openat(record.folder, record.name.c_str(),
                 O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY));
    struct stat st {};
    if (!fd.valid() || ::fstat(fd.get(), &st) != 0) return platform::Result::FromErrno(errno);
    if (!S_ISREG(st.st_mode)) return platform::NotARegularFile();
    if (std::uint64_t(st.st_size) > kMaxRecordBytes)
        return platform::Result::Failure(platform::Result::Kind::Damaged,
                                         platform::Why::UndoRecordTooLarge, EFBIG);
    file.resize(std::size_t(st.st_size));
    if (!platform::ReadFullyAt(fd.get(), file.data(), file.size(), 0))
        return platform::Result::FromErrno(errno);
    return {};
}

UndoPhoto NotRestored(const std::string& record, const std::string& photoPath,
                      platform::Result why) {
    UndoPhoto photo;
    photo.path = QFile::decodeName(photoPath.c_str());
    photo.record = QFile::decodeName(record.c_str());
    photo.result = std::move(why);
    return photo;
}

platform::Result DamagedBecause(platform::Why why) {
    return platform::Result::Failure(platform::Result::Kind::Damaged, why);
}

// A record that can never be put back is removed; its photo is named where its header says.
UndoPhoto DamagedRecord(const RecordEntry& record, const std::string& photoPath,
                        const platform::Result& why) {
    ::unlinkat(record.folder, record.name.c_str(), 0);
    return NotRestored(record.shown, photoPath, why.within(platform::Why::UndoRecordRemoved));
}

} // namespace

UndoPhoto StrayRecord(const RecordEntry& entry, bool& leftFolder) {
    struct stat st {};
    if (::fstatat(entry.folder, entry.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISDIR(st.st_mode)) {
        leftFolder = true;
        return NotRestored(entry.shown, {}, DamagedBecause(platform::Why::UndoRecordIsFolder));
    }
    return DamagedRecord(entry, {}, DamagedBecause(platform::Why::UndoRecordNotRegular));
}

UndoPhoto UndoRecord(const RecordEntry& record, const std::string& command,
                     const platform::ReplaceCalls& calls, InterruptedBeside& beside,
                     const KeepReplaced& keep) {
    std::vector<std::uint8_t> file;
    if (platform::Result read = ReadRecordFile(record, file); !read.ok()) {
        if (read.kind() == platform::Result::Kind::Damaged) return DamagedRecord(record, {}, read);
        return NotRestored(record.shown, {}, read.within(platform::Why::UndoRecordUnreadable));
    }
    const DecodedRecord decoded = DecodeRecord(file, command);
    using Fault = DecodedRecord::Fault;
    if (decoded.fault == Fault::Damaged)
        return DamagedRecord(record, decoded.header.path,
                             DamagedBecause(platform::Why::UndoRecordDamaged));
    if (decoded.fault == Fault::Foreign)
        return DamagedRecord(
            record, decoded.header.path,
            DamagedBecause(platform::Why::UndoRecordForeign).about(decoded.header.command));
    beside.FinishNear(decoded.header.path);
    UndoPhoto photo = RestorePhoto(decoded.header, decoded.oldBytes, calls, beside, keep);
    if (photo.status != UndoPhoto::Status::Failed)
        ::unlinkat(record.folder, record.name.c_str(), 0);
    return photo;
}

} // namespace session::undo_detail
