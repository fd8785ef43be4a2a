// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace exif {

// "http://ns.adobe.com/xap/1.0/" and its NUL, ahead of the packet in an APP1 payload.
inline constexpr std::size_t kXmpHeaderSize = 29;

// True when an APP1 payload (the bytes after the segment length) is a standard XMP packet;
// extended XMP ("http://ns.adobe.com/xmp/extension/") is not.
bool IsXmpPayload(std::span<const std::uint8_t> payload);

// Sets every tiff:Orientation of an XMP packet, in attribute form (tiff:Orientation="6") or
// element form (<tiff:Orientation>6</tiff:Orientation>), to `value` in place. The packet keeps its
// length: a value is written over the digits that stood there, with leading zeros when they were
// more. Returns how many values were set.
int PatchXmpOrientation(std::span<std::uint8_t> packet, std::uint16_t value);

// The byte size of one image of a multi-picture file before and after a turn.
struct ImageResize {
    std::uint64_t before = 0, after = 0;
};

// Readers find the images after the main one by the Item:Length entries of the packet's
// Container:Directory (attribute or element form). Every item after the first (the main image)
// whose length is the old size of one of `images` (in file order, each taken once and in that
// order) gets its new size. The packet rewritten, or nullopt when no length changed.
std::optional<std::string> FollowContainerLengths(std::string_view packet,
                                                  std::span<const ImageResize> images);

} // namespace exif
