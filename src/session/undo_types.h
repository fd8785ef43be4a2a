// SPDX-License-Identifier: GPL-3.0-or-later
// The values that the parts of undo (see undo.h) share with its callers: the hash that tells a
// photo's bytes, and what became of one photo.
#pragma once

#include <QString>

#include <array>
#include <cstdint>
#include <optional>
#include <span>

#include "platform/file_io.h"
#include "platform/result.h"

namespace session {

// XXH3-128, canonical (big-endian) bytes: it guards against damage and a photo changed since,
// not against an attacker, who could write the records themselves.
using UndoHash = std::array<std::uint8_t, 16>;
UndoHash HashOfBytes(std::span<const std::uint8_t> bytes);

struct UndoPhoto {
    enum class Status {
        Restored,
        ChangedSince, // the photo no longer holds what the command wrote: left alone
        Failed,       // `result` says why; the photo is as it was and the record stays, unless
                      // the record itself is damaged or another command's (then it is removed)
        Lost,         // its record was dropped to make room or did not fit; `result` says which
    };
    QString path;   // empty when the record is too damaged to tell
    QString record; // the record file, when the record itself is what failed
    Status status = Status::Failed;
    // Failed, Lost: why. Restored: ok, or why its old times could not be given back.
    platform::Result result;
    std::optional<platform::FileTimes> times; // given back, for whoever reads the photo next
    std::uint16_t orientation = 0;            // of the restored photo
};

} // namespace session
