// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace thumbs {

struct PixelSize {
    int width = 0;
    int height = 0;
    friend bool operator==(const PixelSize&, const PixelSize&) = default;
};

// The thumbnail box of a w x h image in a cell of cellW x cellH. A landscape thumbnail takes
// its height from cellW - 16, so it comes out a little less tall than its exact proportion.
constexpr PixelSize ThumbnailSize(int w, int h, int cellW, int cellH) {
    const auto clamp = [](std::int64_t v) { return int(std::clamp<std::int64_t>(v, 1, 1 << 20)); };
    if (w <= 0 || h <= 0) return {};
    if (w > h) return {clamp(cellW - 10), clamp(std::int64_t(h) * std::max(cellW - 16, 1) / w)};
    return {clamp(std::int64_t(w) * std::max(cellH - 30, 1) / h), clamp(cellH - 30)};
}

// Small images keep their natural size unless asked to be enlarged; the test uses H - 10.
constexpr bool ShouldScale(int w, int h, int cellW, int cellH, bool enlargeSmall) {
    return enlargeSmall || w + 10 > cellW || h + 10 > cellH;
}

// The pixels that show `logical` sharply on a screen of `ratio` device pixels to a logical one.
inline PixelSize DevicePixels(PixelSize logical, double ratio) {
    if (!(ratio > 1.0) || ratio > 8.0) return logical; // unknown or absurd: one to one
    const auto scaled = [ratio](int v) {
        return std::clamp(int(std::lround(v * ratio)), 1, 1 << 20);
    };
    return {scaled(logical.width), scaled(logical.height)};
}

} // namespace thumbs
