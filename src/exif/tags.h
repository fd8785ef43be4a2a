// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>

namespace exif::tag {

constexpr std::uint16_t Orientation = 0x0112;
constexpr std::uint16_t ExifIfd = 0x8769;
constexpr std::uint16_t GpsIfd = 0x8825;
constexpr std::uint16_t InteropIfd = 0xA005;
constexpr std::uint16_t ThumbnailOffset = 0x0201;
constexpr std::uint16_t ThumbnailLength = 0x0202;
constexpr std::uint16_t PixelWidth = 0xA002;
constexpr std::uint16_t PixelHeight = 0xA003;

} // namespace exif::tag
