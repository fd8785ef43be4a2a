// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "jpeg/byte_order.h"
#include "jpeg/random_access.h"

#include <cstdint>
#include <set>
#include <string>

namespace jpeg {

constexpr std::uint16_t kTagOrientation = 0x0112;
constexpr std::uint16_t kTagExifIfd = 0x8769;

// Overwrites, in place, the value field of every orientation entry of the file's first APP1
// (EXIF) segment with `value`. Silent: a file it cannot handle is left as it is.
void WriteOrientation(const std::string& path, std::uint16_t value);

// The same on an already opened file; returns whether the walk ran to its end.
bool PatchOrientation(RandomAccessFile& file, std::uint16_t value);

struct IfdWalk {
    RandomAccessFile& file;
    std::uint64_t tiffBase;
    std::uint64_t limit; // end of the APP1 segment: no directory lies beyond it
    std::uint16_t value;
    ByteOrder order;
    std::set<std::uint32_t> visited;
};

// Walks one directory, its Exif sub-directory and its chain; false means give up.
bool WriteIfdOrientation(IfdWalk& walk, std::uint32_t ifdOffset, int depth = 0);

} // namespace jpeg
