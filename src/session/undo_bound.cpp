// SPDX-License-Identifier: GPL-3.0-or-later
#include "session/undo_bound.h"

#include "rotate/turn_memory.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace session {
namespace {

// Bounded, so that a message quoting it stays a message.
constexpr std::size_t kMaxQuoted = 64;

} // namespace

UndoBound UndoBoundOf(const char* variable) {
    if (!variable) return {};
    if (const std::optional<std::uint64_t> bytes = rotate::ParseTurnMemoryCap(variable))
        return {std::min(*bytes, kUndoBound), {}};
    return {kUndoBound, std::string(variable, ::strnlen(variable, kMaxQuoted))};
}

UndoBound UndoBoundNow() {
    return UndoBoundOf(std::getenv(kUndoBoundVariable));
}

std::string DescribeUnreadableUndoBound(std::string_view value) {
    return std::string(kUndoBoundVariable) + "=\"" + std::string(value) +
           "\" is no amount: write megabytes (512, 0.5) or an amount with a unit K, M or G "
           "(1024K, 512M, 1G)";
}

} // namespace session
