// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "jpeg/random_access.h"

#include <cstdint>
#include <string>

#include "platform/photo_lock.h"
#include "platform/result.h"

namespace exif {

// Overwrites, in place, the value field of every orientation entry of the file's first APP1
// segment with the EXIF header with `value`, and tiff:Orientation of its XMP packets, under the
// lock every Tulvex process takes on a photo it changes. An error says why nothing was written:
// the file could not be opened for writing, is read-only, stayed held by another process for
// all of `wait`, or has no orientation entry the patch can change.
platform::Result WriteOrientation(const std::string& path, std::uint16_t value,
                                  const platform::LockWait& wait = {});

// The same on an already opened file; returns whether the walk ran to its end.
bool PatchOrientation(jpeg::RandomAccessFile& file, std::uint16_t value);

} // namespace exif
