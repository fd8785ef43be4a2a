// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace jpeg {

enum class ByteOrder { Little, Big };

constexpr std::uint16_t Swap16(std::uint16_t v) {
    return std::uint16_t((v >> 8) | (v << 8));
}

constexpr std::uint32_t Swap32(std::uint32_t v) {
    return (v >> 24) | ((v >> 8) & 0xFF00u) | ((v << 8) & 0xFF0000u) | (v << 24);
}

// The TIFF byte-order mark "II" or "MM" at p (two bytes).
inline std::optional<ByteOrder> ByteOrderMark(const std::uint8_t* p) {
    if (p[0] == 'I' && p[1] == 'I') return ByteOrder::Little;
    if (p[0] == 'M' && p[1] == 'M') return ByteOrder::Big;
    return std::nullopt;
}

// Numbers are taken as little-endian and reversed for big-endian data, as the file format
// walk does it.
inline std::uint16_t Load16(const std::uint8_t* p, ByteOrder order) {
    const auto le = std::uint16_t(p[0] | (p[1] << 8));
    return order == ByteOrder::Little ? le : Swap16(le);
}

inline std::uint32_t Load32(const std::uint8_t* p, ByteOrder order) {
    const auto le = std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16) |
                    (std::uint32_t(p[3]) << 24);
    return order == ByteOrder::Little ? le : Swap32(le);
}

inline void Store16(std::uint8_t* p, std::uint16_t v, ByteOrder order) {
    if (order == ByteOrder::Big) v = Swap16(v);
    p[0] = std::uint8_t(v & 0xFF);
    p[1] = std::uint8_t(v >> 8);
}

inline void Store32(std::uint8_t* p, std::uint32_t v, ByteOrder order) {
    if (order == ByteOrder::Big) v = Swap32(v);
    for (int i = 0; i < 4; ++i)
        p[i] = std::uint8_t(v >> (8 * i));
}

// A bounded view: every read states how many bytes it needs and fails when fewer remain.
class ByteReader {
public:
    explicit ByteReader(std::span<const std::uint8_t> bytes) : m_bytes(bytes) {}

    std::size_t size() const { return m_bytes.size(); }
    bool has(std::size_t off, std::size_t n) const {
        return off <= m_bytes.size() && n <= m_bytes.size() - off;
    }
    const std::uint8_t* at(std::size_t off) const { return m_bytes.data() + off; }
    bool u8(std::size_t off, std::uint8_t& out) const {
        if (!has(off, 1)) return false;
        out = m_bytes[off];
        return true;
    }
    bool u16(std::size_t off, ByteOrder order, std::uint16_t& out) const {
        if (!has(off, 2)) return false;
        out = Load16(at(off), order);
        return true;
    }
    bool u32(std::size_t off, ByteOrder order, std::uint32_t& out) const {
        if (!has(off, 4)) return false;
        out = Load32(at(off), order);
        return true;
    }
    std::span<const std::uint8_t> slice(std::size_t off, std::size_t n) const {
        return has(off, n) ? m_bytes.subspan(off, n) : std::span<const std::uint8_t>{};
    }

private:
    std::span<const std::uint8_t> m_bytes;
};

} // namespace jpeg
