// SPDX-License-Identifier: GPL-3.0-or-later
// The record a kept copy carries after the turned photo's bytes: which file it completes, and
// what that file may hold while a rewrite of it is torn. Viewers stop at the JPEG's end marker,
// so the copy still opens as the turned photo.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace platform::kept {

struct Record {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::array<std::uint8_t, 16> turnId{};
    std::uint64_t oldSize = 0;
    std::uint64_t newSize = 0;
    std::string targetName; // the photo's whole base name, in the kept copy's folder
    // One hash per piece of the old contents; pieces end at every 4096-byte page, and at the new
    // size when that lies inside the old contents (where a rewrite cut short ends its new bytes).
    std::vector<std::uint64_t> oldHashes;
};

// The largest photo a kept copy is made for, and so the largest one a leftover may hold.
inline constexpr std::uint64_t kMaxPhotoBytes = 1ull << 30;

Record MakeRecord(std::uint64_t device, std::uint64_t inode, const std::string& targetName,
                  std::span<const std::uint8_t> oldBytes, std::span<const std::uint8_t> newBytes);

// The record and its fixed-size footer, to be written right after the new contents.
std::vector<std::uint8_t> Encode(const Record& record);

// The record of a whole kept-copy file and the length of the turned photo before it; nothing
// when the file holds no intact record that agrees with its own size.
struct Decoded {
    Record record;
    std::span<const std::uint8_t> newBytes;
};
std::optional<Decoded> Decode(std::span<const std::uint8_t> file);

// What the photo named in a record holds now, compared with that turn.
enum class TargetState {
    Torn,     // every piece is old or new: that very turn, cut short (or not yet begun)
    Complete, // exactly the new contents: the turn is done
    Other     // anything else: changed since, or another file
};
TargetState Compare(const Record& record, std::span<const std::uint8_t> newBytes,
                    std::span<const std::uint8_t> target);

} // namespace platform::kept
