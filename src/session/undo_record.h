// SPDX-License-Identifier: GPL-3.0-or-later
// The codec of one undo record file (see undo.h), on its own: every record read from the state
// folder is untrusted input.
#pragma once

#include "session/undo_types.h"

#include <array>
#include <cstdint>
#include <ctime>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/file_io.h"
#include "platform/kept_copy.h"

namespace session {

// The number of old bytes an intact record of the command `command` ("STACK/COMMAND") would put
// back; nothing when the record is damaged or belongs to another command.
std::optional<std::uint64_t> UndoRecordOldBytes(std::span<const std::uint8_t> file,
                                                const std::string& command);

namespace undo_detail {

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

enum class RecordVersion { Blake2b = 1, Xxh3 = 2, Owned = 3 };

// Large enough for either version's hash; version 2 uses the first 16 bytes.
using RecordHash = std::array<std::uint8_t, 32>;

RecordHash Widened(const UndoHash& hash);
RecordHash HashFor(RecordVersion version, std::span<const std::uint8_t> bytes);

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

// Always of the current version: its last 16 bytes hash all that comes before them.
std::vector<std::uint8_t> EncodeHeader(const Header& h);

std::optional<RecordVersion> VersionOf(std::span<const std::uint8_t> file);

// A whole record file, read for the command `command` ("STACK/COMMAND") whose folder it lies
// in. Damaged unless every length agrees and the old bytes are the ones that were kept; the
// header's path is told only where the header checked out (it is checked from version 2 on).
struct DecodedRecord {
    enum class Fault { None, Damaged, Foreign };
    Fault fault = Fault::Damaged;
    Header header;
    std::span<const std::uint8_t> oldBytes;
};

DecodedRecord DecodeRecord(std::span<const std::uint8_t> file, const std::string& command);

} // namespace undo_detail
} // namespace session
