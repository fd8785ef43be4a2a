// SPDX-License-Identifier: GPL-3.0-or-later
// The decoder of one undo record file (see undo.h), on its own: every record read from the
// state folder is untrusted input.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace session {

// The number of old bytes an intact record of the command `command` ("STACK/COMMAND") would put
// back; nothing when the record is damaged or belongs to another command.
std::optional<std::uint64_t> UndoRecordOldBytes(std::span<const std::uint8_t> file,
                                                const std::string& command);

} // namespace session
