// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "jpeg/byte_order.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <set>
#include <span>

namespace exif {

// A TIFF block (starting at its byte-order mark) as directories of 12-byte entries. Every read
// is bounded by the block; nothing here follows a pointer on its own.
class TiffView {
public:
    // Nullopt unless the block holds a whole header with a valid byte-order mark. The magic
    // number is left to the caller: not every user insists on it.
    static std::optional<TiffView> Open(std::span<const std::uint8_t> tiff);

    jpeg::ByteOrder order() const { return m_order; }
    std::uint16_t magic() const;
    std::uint32_t firstDirectory() const;
    const jpeg::ByteReader& bytes() const { return m_bytes; }

private:
    TiffView(std::span<const std::uint8_t> tiff, jpeg::ByteOrder order)
        : m_bytes(tiff), m_order(order) {}

    jpeg::ByteReader m_bytes;
    jpeg::ByteOrder m_order;
};

struct IfdEntry {
    std::size_t offset = 0; // of the entry inside the block
    std::uint16_t tag = 0;
    std::uint16_t type = 0;
    std::uint32_t count = 0;
    std::uint32_t value =
        0; // the value field as one number: a value of up to 4 bytes, or an offset

    std::size_t valueField() const { return offset + 8; }
};

// One directory. Its entry count is checked against the block when it is opened: entries()
// gives only the entries that lie wholly inside it.
class IfdView {
public:
    IfdView(const TiffView& tiff, std::uint32_t offset);

    // The entry count itself could be read.
    bool valid() const { return m_valid; }
    std::uint32_t offset() const { return m_offset; }
    std::uint16_t declaredCount() const { return m_declared; }
    std::size_t entries() const { return m_entries; }
    // Every declared entry and the pointer to the next directory lie inside the block.
    bool complete() const { return m_complete; }
    IfdEntry entry(std::size_t index) const;
    // The pointer after the declared entries; nullopt when it lies outside the block.
    std::optional<std::uint32_t> next() const;

private:
    const TiffView& m_tiff;
    std::uint32_t m_offset;
    bool m_valid = false;
    bool m_complete = false;
    std::uint16_t m_declared = 0;
    std::size_t m_entries = 0;
};

// The directories a walk has entered: each at most once, at most `maxDirectories`, never deeper
// than `maxDepth` pointers from the first.
class IfdVisits {
public:
    IfdVisits(std::size_t maxDirectories, int maxDepth)
        : m_maxDirectories(maxDirectories), m_maxDepth(maxDepth) {}

    // False when the directory was entered before or a limit is reached.
    bool enter(std::uint32_t offset, int depth = 0);
    bool entered(std::uint32_t offset) const { return m_seen.count(offset) != 0; }

private:
    std::size_t m_maxDirectories;
    int m_maxDepth;
    std::set<std::uint32_t> m_seen;
};

} // namespace exif
