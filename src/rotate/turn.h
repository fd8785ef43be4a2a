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
    // Why, for a message that goes on with "(use --crop ...)": which image and which sizes.
    std::string cropReason() const;
};

// nullopt for a code that names no turn.
std::optional<TurnPlan> PlanTurn(const QString& path, RotationCode code, bool keepTimes);

struct TurnOutcome {
    enum class Status { Turned, TransformFailed, TimesFailed };
    Status status = Status::Turned;
    platform::Result result; // why the transform or the time restore failed
    std::string warning;     // turned, but a flush after the replacement failed (names the file)
    std::uint64_t memoryNeeded = 0; // refused for want of memory: what the turn would need
};

// What a turn calls; tests pass failing ones.
struct TurnCalls {
    platform::ReplaceCalls replace; // the seams of the replacement itself, the kept times' included
    SeenTurn seen;                  // what undo keeps
};

// Turns the pixels, writes the new orientation and gives the file its times back before it takes
// the photo's place. Without
// `trimAllowed`, a photo any of whose images would lose edge pixels is refused.
TurnOutcome ApplyTurn(const TurnPlan& plan, bool trimAllowed, const TurnCalls& calls = {});

} // namespace rotate
