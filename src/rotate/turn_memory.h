// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace rotate {

// The environment variable that caps the memory of one turn, in megabytes ("2048", "1.5"), or
// with a unit ("512M", "1.5G", "2g", "1024K", "512MB", "1GiB").
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

// A cap in bytes from the variable's value: a decimal number with an optional fraction and an
// optional unit K, M, G or T (any case, binary, "B" or "iB" may follow); megabytes without one.
// nullopt when it is anything else: empty, zero, negative, hexadecimal, an exponent, followed by
// something more. An amount beyond any machine's is as large as can be said, never wrapped.
std::optional<std::uint64_t> ParseTurnMemoryCap(std::string_view value);

// An amount of bytes an environment variable sets, in the forms above. A value that is no amount
// leaves `fallback`, and the one who set it must be told: the command line refuses to turn.
struct AmountSetting {
    std::uint64_t bytes = 0;
    std::optional<std::string> unreadable; // the variable's value when it is no amount
};
AmountSetting AmountSettingOf(const char* variable, std::uint64_t fallback);

// The cap a turn keeps to; where it is unreadable the window says so too.
using TurnMemoryCap = AmountSetting;
TurnMemoryCap TurnMemoryCapOf(const char* variable);
TurnMemoryCap TurnMemoryCapNow();

// "TULVEX_MAX_TURN_MEMORY=VALUE is no amount of memory: ..." with the forms it takes.
std::string DescribeUnreadableCap(std::string_view value);

// What one turn may use: the available memory less a margin for everything else running, but
// not less than the floor, and never more than `cap`.
std::uint64_t TurnMemoryLimit(std::optional<std::uint64_t> available, std::uint64_t cap);

// The same for this machine now, with the cap of the environment (TurnMemoryCapNow): the default
// cap when the variable is no amount, which the command line and the window tell before turning.
std::uint64_t TurnMemoryLimitNow();

// "350 MB", "1.7 GB": a size for a message; a need is rounded up, an allowance down.
enum class Rounding { Up, Down };
std::string DescribeMemory(std::uint64_t bytes, Rounding rounding = Rounding::Up);

} // namespace rotate
