// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "jpeg/byte_order.h"

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace exif {

enum class ExifType : std::uint16_t {
    Byte = 1,
    Ascii = 2,
    Short = 3,
    Long = 4,
    Rational = 5,
    SByte = 6,
    Undefined = 7,
    SShort = 8,
    SLong = 9,
    SRational = 10,
    Float = 11,
    Double = 12,
};

// One directory entry with its value bytes converted to host byte order.
struct PropertyItem {
    std::uint32_t id = 0;
    std::uint16_t type = 0;
    std::uint32_t count = 0;
    std::vector<std::uint8_t> value;
};

struct ExifData {
    // IFD0, Exif, interoperability and GPS entries, directory by directory in the order the
    // file points to them. IFD1 (the thumbnail's) is kept apart so it never poses as primary.
    std::vector<PropertyItem> items;
    std::vector<PropertyItem> thumbnailItems;
    jpeg::ByteOrder order = jpeg::ByteOrder::Little;
    // The embedded JPEG thumbnail inside the TIFF block, when IFD1 names a valid one.
    std::size_t thumbnailOffset = 0;
    std::size_t thumbnailLength = 0;
};

// Where the EXIF block sits inside a JPEG's bytes.
struct ExifSegment {
    std::size_t segmentStart = 0; // the FF of the APP1 marker
    std::size_t segmentEnd = 0;   // one past its last byte
    std::size_t tiffStart = 0;    // the TIFF header ("II"/"MM")
};

// Finds the first APP1 segment that holds EXIF, walking the segments before the image data.
std::optional<ExifSegment> FindExifSegment(std::span<const std::uint8_t> jpeg);

// Parses a TIFF block (starting at its byte-order mark). Never reads outside `tiff`.
ExifData ReadExif(std::span<const std::uint8_t> tiff);

// Both steps on a whole JPEG (or its leading segments); empty data when there is no EXIF.
ExifData ReadJpegExif(std::span<const std::uint8_t> jpeg);

// The value of the last orientation entry of the primary directories, 0 when there is none.
std::uint16_t OrientationOf(const ExifData& data);

} // namespace exif
