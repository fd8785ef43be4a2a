// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace jpeg {
class ByteSource;
} // namespace jpeg

namespace exif {

// Reads a file's segments up to and including the start-of-scan header: enough for the
// dimensions and the EXIF block without the compressed image data. Empty when unreadable.
std::vector<std::uint8_t> ReadJpegHeader(const std::string& path);

struct JpegHeader {
    int width = 0;
    int height = 0;
    int subsampling = -1;          // a TJSAMP value
    std::uint16_t orientation = 0; // EXIF orientation, 0 when there is none
};

// Size, sampling and orientation from a JPEG's leading bytes; nullopt when they are not a JPEG.
std::optional<JpegHeader> ParseJpegHeader(std::span<const std::uint8_t> jpeg);

// The sides of an image and of its MCU, the unit a lossless turn moves whole, from its frame
// header.
struct BlockLayout {
    int width = 0, height = 0;
    int mcuWidth = 8, mcuHeight = 8;

    bool wholeBlocks() const { return width % mcuWidth == 0 && height % mcuHeight == 0; }
};

// Reads the segments of the image in `source` up to its frame header; nullopt when there is none
// that gives both sides.
std::optional<BlockLayout> ReadBlockLayout(jpeg::ByteSource& source);

// Both steps on a file.
std::optional<JpegHeader> ReadJpegFileHeader(const std::string& path);

} // namespace exif
