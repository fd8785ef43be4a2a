// SPDX-License-Identifier: GPL-3.0-or-later
// The undo record decoder: a record it accepts holds exactly the old bytes it says.
#include "session/undo_record.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> file(data, size);
    // The command the seeds were written for, so that whole records get past the command check.
    const auto old = session::UndoRecordOldBytes(file, "seed/00000000010000000000-1");
    if (old && *old >= size) std::abort();
    return 0;
}
