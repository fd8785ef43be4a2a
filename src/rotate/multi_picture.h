// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "exif/jpeg_header.h"
#include "exif/mpf.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/result.h"

namespace jpeg {
class ByteSource;
}

namespace rotate {

// What a photo file holds after its main image: further images listed in its MPF index (gain
// map, preview, second view) and bytes of other kinds (a motion photo's video, a maker's
// trailer), in file order.
struct TrailerPart {
    std::size_t begin = 0, end = 0;
    std::optional<std::size_t>
        mpfEntry; // the index entry of an image; nullopt: bytes kept as they are
};

enum class IndexState {
    None,   // no MPF index, or none that parses: its bytes are kept as they are
    Usable, // every image it lists lies whole and apart after the main image, starting with SOI
    Broken, // it parses, but its entries do not match the images: a turn would misplace them
};

struct FileLayout {
    std::size_t mainEnd = 0; // one past the main image's EOI
    IndexState index = IndexState::None;
    std::vector<TrailerPart> parts;
};

// Splits `file` into its main image and what follows. A file whose image data runs to its end
// has no trailer. Without a usable index the trailer is one part kept as it is.
FileLayout ReadFileLayout(std::span<const std::uint8_t> file);

// An image that the MPF index of a file lists besides the main one, as its header describes it.
struct IndexedImage {
    std::size_t entry = 0; // its place in the index; 0 is the main image
    exif::BlockLayout blocks;
};

// The images the index lists besides the main one, read from their headers alone, in index
// order; those whose header cannot be read are left out (a turn refuses them anyway).
std::vector<IndexedImage> ReadIndexedImages(jpeg::ByteSource& file);

// Turns one whole JPEG image into `out`.
using ImageTurn = std::function<platform::Result(std::span<const std::uint8_t> image,
                                                 std::vector<std::uint8_t>& out)>;

// Turns the main image and every MPF image with `turn`, copies the other parts unchanged (the
// last one stays at the same distance from the end of the file), makes the XMP container
// directory and the index of the turned main image follow the turned images. Any image that
// cannot be turned, and an index that does not match the images, fail the whole turn.
platform::Result TurnWholeFile(std::span<const std::uint8_t> file, const ImageTurn& turn,
                               std::vector<std::uint8_t>& out);

} // namespace rotate
