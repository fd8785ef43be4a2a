// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "rotate/orientation_table.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/file_io.h"
#include "platform/result.h"
#include "platform/safe_replace.h"

namespace rotate {

// Turns the JPEG at `path` by `transform` clockwise quarter turns (One, Two or Three) without
// recompressing it: partial edge blocks are trimmed, all markers are kept, the embedded EXIF
// thumbnail is turned with it and the EXIF pixel dimensions follow. The result replaces the
// file safely (see platform::ReplaceFileContents). On failure the file is as it was; a bad
// transform value is EINVAL (BadTurn), a failure of the JPEG library its kind. The orientation
// entries of the turned photo are set to `orientation` (none: left as they are) before it is
// written, so that pixels and tag change in one safe replacement: no moment exists in which the
// file holds turned pixels with the old tag. What went wrong after the turned photo was in place
// comes as DoneBut (it is turned all the same). Without `trim`, a photo any of whose images would
// lose edge pixels is refused.
platform::Result TurnJpegFile(const std::string& path, QuarterTurns transform,
                              std::optional<std::uint16_t> orientation,
                              const platform::ReplaceCalls& calls = {}, bool trim = true);

// The orientation a turned photo must carry, from the one it carries when it is read under its
// lock (another process may have turned it since the caller looked); nullopt: write none.
using OrientationAfter = std::function<std::optional<std::uint16_t>(std::uint16_t old)>;

// Shown the photo as read under its lock and the turned bytes just before they replace it.
using SeenTurn =
    std::function<void(const platform::PhotoAsRead& read, std::span<const std::uint8_t> turned)>;

// The same, with the orientation decided from the photo as read, and with `times`, when given,
// set on the turned photo before it takes the photo's place; `timesResult` receives why they
// could not be (the photo is turned all the same).
platform::Result TurnJpegFile(const std::string& path, QuarterTurns transform,
                              const OrientationAfter& orientation,
                              const platform::ReplaceCalls& calls = {}, bool trim = true,
                              const SeenTurn& seen = {}, const platform::FileTimes* times = nullptr,
                              platform::Result* timesResult = nullptr);

// Turns one image (a main image or an MPF image, up to its EOI) into `out` and, when given, sets
// its orientation entries (EXIF and XMP). Every image of a file goes through here, so that they
// all turn alike. A photo whose image data is damaged is refused, and so is one that would lose
// edge pixels when `trim` is false.
platform::Result TurnImage(std::span<const std::uint8_t> image, QuarterTurns transform,
                           std::optional<std::uint16_t> orientation, bool trim,
                           std::vector<std::uint8_t>& out);

// The whole file in memory: the main image and its MPF images turned, the index rewritten, other
// trailing bytes kept.
platform::Result TurnJpegBytes(std::span<const std::uint8_t> file, QuarterTurns transform,
                               std::optional<std::uint16_t> orientation, bool trim,
                               std::vector<std::uint8_t>& out);

// After a turn: turns the embedded thumbnail and sets the EXIF pixel dimensions, in `jpeg`.
void UpdateExifAfterTurn(std::vector<std::uint8_t>& jpeg, QuarterTurns transform, int width,
                         int height);

} // namespace rotate
