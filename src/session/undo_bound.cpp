// SPDX-License-Identifier: GPL-3.0-or-later
#include "session/undo_bound.h"

#include <algorithm>
#include <cstdlib>

namespace session {

UndoBound UndoBoundOf(const char* variable) {
    UndoBound bound = rotate::AmountSettingOf(variable, kUndoBound);
    bound.bytes = std::min(bound.bytes, kUndoBound);
    return bound;
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
