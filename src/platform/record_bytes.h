// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace platform {

// The little-endian fields of the records the program keeps beside photos (kept copies, undo).
inline void PutLittleEndian(std::vector<std::uint8_t>& out, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out.push_back(std::uint8_t(value >> (8 * i)));
}

// Reads such fields back from a record found on disk; every read is checked against its end.
class RecordReader {
public:
    explicit RecordReader(std::span<const std::uint8_t> bytes) : m_bytes(bytes) {}

    bool get(std::uint64_t& value, int bytes) {
        if (left() < std::size_t(bytes)) return false;
        value = 0;
        for (int i = 0; i < bytes; ++i)
            value |= std::uint64_t(m_bytes[m_at + std::size_t(i)]) << (8 * i);
        m_at += std::size_t(bytes);
        return true;
    }
    std::optional<std::span<const std::uint8_t>> take(std::uint64_t n) {
        if (left() < n) return std::nullopt;
        const auto out = m_bytes.subspan(m_at, std::size_t(n));
        m_at += std::size_t(n);
        return out;
    }
    bool raw(std::span<std::uint8_t> out) {
        const auto in = take(out.size());
        if (!in) return false;
        std::copy(in->begin(), in->end(), out.begin());
        return true;
    }
    std::size_t left() const { return m_bytes.size() - m_at; }
    bool atEnd() const { return m_at == m_bytes.size(); }
    std::span<const std::uint8_t> rest() const { return m_bytes.subspan(m_at); }

private:
    std::span<const std::uint8_t> m_bytes;
    std::size_t m_at = 0;
};

} // namespace platform
