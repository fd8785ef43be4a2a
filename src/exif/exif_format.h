// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "exif/exif_reader.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace exif {

struct ExifRow {
    std::string label;
    std::string value;
};

// The label of a tag the viewer knows, or nullptr.
const char* TagLabel(std::uint32_t tag);

// Value text of one property item; `decimalSeparator` is the user's locale's.
std::string FormatExifValue(std::span<const std::uint8_t> value, std::uint16_t type,
                            std::uint32_t tag, std::uint32_t length,
                            const std::string& decimalSeparator = ".");

// Reduced mixed number: 10/4 gives "2 1/2", 0/1 the empty text. A zero denominator (which the
// arithmetic cannot reduce) is shown as stored.
std::string FormatFraction(std::int32_t numerator, std::int32_t denominator);

// As the viewer has always computed it: an arithmetic fault gives 1.
std::int32_t GreatestCommonDivisor(std::int32_t a, std::int32_t b);

// Shortest decimal text with at most 15 significant digits ("E" notation for tiny or huge).
std::string FormatGeneral(double v, const std::string& decimalSeparator = ".");

// The rows the EXIF dialog shows, in the order of the items.
std::vector<ExifRow> ExifRows(const ExifData& data, const std::string& decimalSeparator = ".");

} // namespace exif
