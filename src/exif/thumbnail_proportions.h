// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <algorithm>
#include <cstdint>

namespace exif {

// Whether a w x h thumbnail shows a photoW x photoH photo without distortion: one side may be off
// by the pixel lost to rounding when the other was derived from it.
constexpr bool ProportionsMatch(int w, int h, int photoW, int photoH) {
    if (w <= 0 || h <= 0 || photoW <= 0 || photoH <= 0) return false;
    const std::int64_t cross = std::int64_t(h) * photoW - std::int64_t(w) * photoH;
    return (cross < 0 ? -cross : cross) <= std::max(photoW, photoH);
}

} // namespace exif
