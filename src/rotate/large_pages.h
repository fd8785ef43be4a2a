// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>

namespace rotate {

constexpr std::size_t kLargePageBytes = std::size_t(2) << 20;

struct AddressRange {
    std::uintptr_t start = 0;
    std::size_t length = 0;
};

// The whole large pages inside [start, start + length): advice never reaches past a buffer into
// memory that belongs to someone else. Empty when not one fits.
AddressRange WholeLargePagesIn(std::uintptr_t start, std::size_t length,
                               std::size_t pageBytes = kLargePageBytes);

// Asks the system to back a large buffer not touched yet with large pages: a first touch then
// costs one fault per large page instead of one per small page. Only a hint; failure is ignored.
void AdviseLargePages(void* buffer, std::size_t length);

} // namespace rotate
