// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace rotate {

// Encodes `rgb` (`width` x `height`, three bytes a pixel) as a baseline JPEG with Huffman tables
// made for it and the quantisation tables and sampling of `model`, the JPEG it replaces: the
// same quality, so about the same size. `quarterTurn` says that the picture was turned by a
// quarter since, and the tables and sampling turn with it. With `quality`, standard tables at
// that quality are used instead. Empty when `model` cannot be read or the encoding fails.
std::vector<std::uint8_t> EncodeLike(std::span<const std::uint8_t> model,
                                     std::span<const std::uint8_t> rgb, int width, int height,
                                     bool quarterTurn, std::optional<int> quality = std::nullopt);

} // namespace rotate
