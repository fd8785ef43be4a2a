// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "jpeg/mpf.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/result.h"

namespace rotate {

// What a photo file holds after its main image: further images listed in its MPF index (gain
// map, preview, second view) and bytes of other kinds (a motion photo's video, a maker's
// trailer), in file order.
struct TrailerPart {
    std::size_t begin = 0, end = 0;
    std::optional<std::size_t>
        mpfEntry; // the index entry of an image; nullopt: bytes kept as they are
};

struct FileLayout {
    std::size_t mainEnd = 0; // one past the main image's EOI
    bool indexUsable =
        false; // the MPF index parsed and every image it lists lies after the main image
    std::vector<TrailerPart> parts;
};

// Splits `file` into its main image and what follows. A file whose image data runs to its end
// has no trailer. An index that cannot be parsed, or whose images do not lie whole and apart
// after the main image, makes the trailer one part kept as it is.
FileLayout ReadFileLayout(std::span<const std::uint8_t> file);

// Turns one whole JPEG image into `out`.
using ImageTurn = std::function<platform::Result(std::span<const std::uint8_t> image,
                                                 std::vector<std::uint8_t>& out)>;

// Turns the main image and every MPF image with `turn`, copies the other parts unchanged (the
// last one stays at the same distance from the end of the file) and points the index of the
// turned main image at the turned images. Any image that cannot be turned fails the whole turn.
platform::Result TurnWholeFile(std::span<const std::uint8_t> file, const ImageTurn& turn,
                               std::vector<std::uint8_t>& out);

} // namespace rotate
