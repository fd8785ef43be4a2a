// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "jpeg/random_access.h"

#include <cstdint>
#include <string>

namespace jpeg {

// Overwrites, in place, the value field of every orientation entry of the file's first APP1
// segment with the EXIF header with `value`, and tiff:Orientation of its XMP packets. Silent: a
// file it cannot handle is left as it is.
void WriteOrientation(const std::string& path, std::uint16_t value);

// The same on an already opened file; returns whether the walk ran to its end.
bool PatchOrientation(RandomAccessFile& file, std::uint16_t value);

} // namespace jpeg
