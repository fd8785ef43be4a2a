// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "jpeg/byte_order.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace exif {

// The multi-picture index that phones and cameras put in an APP2 "MPF\0" segment of the first
// image: where each further image (gain map, preview, second view) lies in the file.
inline constexpr std::size_t kMpfEntrySize = 16;
// MP entry offsets count from the TIFF header that follows "MPF\0" in the payload.
inline constexpr std::size_t kMpfTiffStart = 4;

struct MpfEntry {
    std::uint32_t attribute = 0;
    std::uint32_t size = 0;
    std::uint32_t offset = 0; // 0 for the first image
    std::uint16_t dependent1 = 0, dependent2 = 0;
};

struct MpfIndex {
    jpeg::ByteOrder order = jpeg::ByteOrder::Little;
    std::size_t entriesAt = 0; // position of the first MP entry inside the payload
    std::vector<MpfEntry> entries;
};

// True when an APP2 payload (the bytes after the segment length) starts with "MPF\0".
bool IsMpfPayload(std::span<const std::uint8_t> payload);

// Reads the MP Index IFD (version, number of images, MP entries). nullopt when the payload is not
// a complete, consistent index; never reads outside `payload`.
std::optional<MpfIndex> ParseMpfIndex(std::span<const std::uint8_t> payload);

// Writes the sizes and offsets of `index.entries` back over the entries the index was read from;
// the payload keeps its length. False (payload untouched) when they do not fit.
bool WriteMpfEntries(std::span<std::uint8_t> payload, const MpfIndex& index);

} // namespace exif
