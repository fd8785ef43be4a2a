// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <span>

namespace jpeg {

// True when an APP1 payload (the bytes after the segment length) is a standard XMP packet;
// extended XMP ("http://ns.adobe.com/xmp/extension/") is not.
bool IsXmpPayload(std::span<const std::uint8_t> payload);

// Sets every tiff:Orientation of an XMP packet, in attribute form (tiff:Orientation="6") or
// element form (<tiff:Orientation>6</tiff:Orientation>), to `value` in place. The packet keeps its
// length: a value is written over the digits that stood there, with leading zeros when they were
// more. Returns how many values were set.
int PatchXmpOrientation(std::span<std::uint8_t> packet, std::uint16_t value);

} // namespace jpeg
