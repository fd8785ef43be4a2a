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

struct PictureRect {
    int x = 0, y = 0, width = 0, height = 0;
    friend constexpr bool operator==(const PictureRect&, const PictureRect&) = default;
};

// Where a photoW x photoH photo lies when a camera fits it, centred, into a w x h thumbnail and
// fills the rest with bars: above and below for a wider photo, left and right for a taller one.
constexpr PictureRect FittedPicture(int w, int h, int photoW, int photoH) {
    if (w <= 0 || h <= 0 || photoW <= 0 || photoH <= 0) return {};
    const auto rounded = [](std::int64_t n, std::int64_t d) { return int((2 * n + d) / (2 * d)); };
    if (std::int64_t(photoW) * h >= std::int64_t(photoH) * w) {
        const int height = std::clamp(rounded(std::int64_t(w) * photoH, photoW), 1, h);
        return {0, (h - height) / 2, w, height};
    }
    const int width = std::clamp(rounded(std::int64_t(h) * photoW, photoH), 1, w);
    return {(w - width) / 2, 0, width, h};
}

} // namespace exif
