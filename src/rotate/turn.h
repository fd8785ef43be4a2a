// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "exif/jpeg_header.h"
#include "rotate/multi_picture.h"
#include "rotate/orientation_table.h"
#include "rotate/transform.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "platform/file_io.h"
#include "platform/safe_replace.h"

namespace rotate {

// Why a turn would trim edge pixels: which image (0 the main one, else its number in the
// multi-picture index, from 1) and its size against the size of its blocks.
struct CropCause {
    int image = 0;
    int width = 0, height = 0;
    int blockWidth = 0, blockHeight = 0;
};

// One lossless turn of one photo, in two steps so that the window can ask and update its lists
// in between: plan (times kept, size and orientation read without decoding), then apply.
struct TurnPlan {
    QString path;
    RotationCode code = RotationCode::Right;
    QuarterTurns transform = QuarterTurns::None;
    bool timesKept = false;
    platform::FileTimes times;
    exif::JpegHeader header;
    std::optional<std::uint16_t> newOrientation;
    std::optional<exif::BlockLayout> mainBlocks;
    // The first image of the MPF index after the main one that this turn would trim.
    std::optional<IndexedImage> partialImage;

    // Whether the turn trims edge pixels off any image of the file (see TurnTrims), each at its
    // own block size; a photo that is not a JPEG is taken to have blocks of 16.
    bool mayCrop() const;
    // Why, for the crop question or a skipped photo's message; none when it would not trim.
    std::optional<CropCause> cropCause() const;
};

// nullopt for a code that names no turn.
std::optional<TurnPlan> PlanTurn(const QString& path, RotationCode code, bool keepTimes);

// How one turn ended. A refusal for want of memory carries what the turn needs and what the
// computer can spare as the figures of `result` (Why::NeedsMemory).
struct TurnResult {
    platform::Result result; // failed: the photo is as it was; DoneBut: turned, not yet flushed
    platform::Result times;  // turned, but the kept times could not be set
    bool turned() const { return result.done(); }
};

// What a turn calls; tests pass failing ones.
struct TurnCalls {
    platform::ReplaceCalls replace; // the seams of the replacement itself, the kept times' included
    SeenTurn seen;                  // what undo keeps
};

// Turns the pixels, writes the new orientation and gives the file its times back before it takes
// the photo's place. Without
// `trimAllowed`, a photo any of whose images would lose edge pixels is refused.
TurnResult ApplyTurn(const TurnPlan& plan, bool trimAllowed, const TurnCalls& calls = {});

} // namespace rotate
