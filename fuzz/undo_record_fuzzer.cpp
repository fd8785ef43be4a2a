// SPDX-License-Identifier: GPL-3.0-or-later
// The undo record decoder: a record it accepts holds exactly the old bytes it says.
#include "session/undo_record.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> file(data, size);
    // Read for the command the record names, so that whole records (the seed's command is made
    // anew each time the seeds are) get past the command check.
    const std::string command = session::undo_detail::DecodeRecord(file, {}).header.command;
    const auto old = session::UndoRecordOldBytes(file, command);
    if (old && *old >= size) std::abort();
    return 0;
}
