// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace rotate {

// The environment variable that caps the memory of one turn, in megabytes ("2048"), or with a
// unit ("512M", "4G").
inline constexpr const char* kTurnMemoryVariable = "TULVEX_MAX_TURN_MEMORY";
// The cap when the variable is not set.
inline constexpr std::uint64_t kDefaultTurnMemoryCap = std::uint64_t(16) << 30;
// What a turn may use when the machine does not say how much memory it has available.
inline constexpr std::uint64_t kTurnMemoryWithoutMeminfo = std::uint64_t(1) << 30;
// What a turn may always use below the cap, however little is available: enough for a
// 40-megapixel photo, which a busy small machine still pages in.
inline constexpr std::uint64_t kTurnMemoryFloor = std::uint64_t(256) << 20;

// MemAvailable of a /proc/meminfo text, in bytes; nullopt when it has no such line.
std::optional<std::uint64_t> ParseMemAvailable(std::string_view meminfo);

// A cap in bytes from the variable's value; nullopt when it is empty, zero or no amount.
std::optional<std::uint64_t> ParseTurnMemoryCap(std::string_view value);

// What one turn may use: the available memory less a margin for everything else running, but
// not less than the floor, and never more than `cap`.
std::uint64_t TurnMemoryLimit(std::optional<std::uint64_t> available, std::uint64_t cap);

// The same for this machine now, with the cap of the environment.
std::uint64_t TurnMemoryLimitNow();

// "350 MB", "1.7 GB": a size for a message; a need is rounded up, an allowance down.
enum class Rounding { Up, Down };
std::string DescribeMemory(std::uint64_t bytes, Rounding rounding = Rounding::Up);

} // namespace rotate
