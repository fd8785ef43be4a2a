// SPDX-License-Identifier: GPL-3.0-or-later
#include "exif/ifd_view.h"

#include <algorithm>

namespace exif {
namespace {

constexpr std::size_t kEntrySize = 12;
constexpr std::size_t kCountSize = 2;
constexpr std::size_t kNextSize = 4;

} // namespace

std::optional<TiffView> TiffView::Open(std::span<const std::uint8_t> tiff) {
    if (tiff.size() < 8) return std::nullopt;
    const std::optional<jpeg::ByteOrder> order = jpeg::ByteOrderMark(tiff.data());
    if (!order) return std::nullopt;
    return TiffView(tiff, *order);
}

std::uint16_t TiffView::magic() const {
    std::uint16_t magic = 0;
    m_bytes.u16(2, m_order, magic);
    return magic;
}

std::uint32_t TiffView::firstDirectory() const {
    std::uint32_t offset = 0;
    m_bytes.u32(4, m_order, offset);
    return offset;
}

IfdView::IfdView(const TiffView& tiff, std::uint32_t offset) : m_tiff(tiff), m_offset(offset) {
    const jpeg::ByteReader& bytes = tiff.bytes();
    m_valid = bytes.u16(offset, tiff.order(), m_declared);
    if (!m_valid) return;
    const std::size_t first = std::size_t(offset) + kCountSize;
    const std::size_t room = bytes.size() - first; // u16 succeeded: first <= size
    m_entries = std::min<std::size_t>(m_declared, room / kEntrySize);
    m_complete = bytes.has(first, kEntrySize * m_declared + kNextSize);
}

IfdEntry IfdView::entry(std::size_t index) const {
    IfdEntry e;
    if (index >= m_entries) return e;
    const jpeg::ByteReader& bytes = m_tiff.bytes();
    const jpeg::ByteOrder order = m_tiff.order();
    e.offset = std::size_t(m_offset) + kCountSize + kEntrySize * index;
    bytes.u16(e.offset, order, e.tag);
    bytes.u16(e.offset + 2, order, e.type);
    bytes.u32(e.offset + 4, order, e.count);
    bytes.u32(e.offset + 8, order, e.value);
    return e;
}

std::optional<std::uint32_t> IfdView::next() const {
    std::uint32_t next = 0;
    if (!m_valid ||
        !m_tiff.bytes().u32(std::size_t(m_offset) + kCountSize + kEntrySize * m_declared,
                            m_tiff.order(), next))
        return std::nullopt;
    return next;
}

bool IfdVisits::enter(std::uint32_t offset, int depth) {
    if (depth > m_maxDepth || m_seen.size() >= m_maxDirectories) return false;
    return m_seen.insert(offset).second;
}

} // namespace exif
