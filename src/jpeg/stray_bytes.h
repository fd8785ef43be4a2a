// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace jpeg {

// A copy of `image` without the bytes that stand between its segments ahead of the first scan
// where a marker was due (decoders skip them with an "extraneous bytes" warning; they carry
// nothing). nullopt when there are none.
std::optional<std::vector<std::uint8_t>>
WithoutStrayHeaderBytes(std::span<const std::uint8_t> image);

} // namespace jpeg
