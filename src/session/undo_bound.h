// SPDX-License-Identifier: GPL-3.0-or-later
// How much the undo folder may keep, as a script on a small disk may lower it.
#pragma once

#include "rotate/turn_memory.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace session {

// All commands of every stack together keep at most this many bytes; the oldest go first.
inline constexpr std::uint64_t kUndoBound = 1ull << 30;

// The variable the command line reads its bound from, in the forms of TULVEX_MAX_TURN_MEMORY.
inline constexpr const char* kUndoBoundVariable = "TULVEX_UNDO_BOUND";

using UndoBound = rotate::AmountSetting;
// Never more than the default: the bound is there to spare the disk.
UndoBound UndoBoundOf(const char* variable);
UndoBound UndoBoundNow();

// "TULVEX_UNDO_BOUND=VALUE is no amount: ..." with the forms it takes.
std::string DescribeUnreadableUndoBound(std::string_view value);

} // namespace session
