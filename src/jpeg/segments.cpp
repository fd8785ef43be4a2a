// SPDX-License-Identifier: GPL-3.0-or-later
#include "jpeg/segments.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "platform/file_io.h"

namespace jpeg {
namespace {

bool IsRestart(std::uint8_t code) {
    return code >= marker::Rst0 && code <= marker::Rst7;
}

// Byte-at-a-time access for the scan through the image data, read a block at a time.
class BufferedBytes {
public:
    explicit BufferedBytes(ByteSource& source) : m_source(source) {}

    bool at(std::uint64_t off, std::uint8_t& out) {
        if (off < m_start || off - m_start >= m_filled) {
            const std::uint64_t size = m_source.size();
            if (off >= size) return false;
            const std::size_t n = std::size_t(std::min<std::uint64_t>(m_buffer.size(), size - off));
            if (!m_source.readAt(off, m_buffer.data(), n)) return false;
            m_start = off;
            m_filled = n;
        }
        out = m_buffer[std::size_t(off - m_start)];
        return true;
    }

    // Moves `off` to the next 0xFF byte at or after it, a window at a time; false when none.
    bool findFf(std::uint64_t& off) {
        std::uint8_t byte = 0;
        while (at(off, byte)) {
            const std::size_t from = std::size_t(off - m_start);
            const void* hit = std::memchr(m_buffer.data() + from, 0xFF, m_filled - from);
            if (hit) {
                off = m_start +
                      std::uint64_t(static_cast<const std::uint8_t*>(hit) - m_buffer.data());
                return true;
            }
            off = m_start + m_filled;
        }
        return false;
    }

private:
    ByteSource& m_source;
    std::array<std::uint8_t, 64 * 1024> m_buffer{};
    std::uint64_t m_start = 0;
    std::size_t m_filled = 0;
};

bool ReadLength(ByteSource& source, std::uint64_t at, std::uint16_t& length) {
    std::array<std::uint8_t, 2> bytes{};
    if (!source.readAt(at, bytes.data(), bytes.size())) return false;
    length = std::uint16_t(bytes[0] << 8 | bytes[1]);
    return true;
}

} // namespace

bool SpanSource::readAt(std::uint64_t off, void* dst, std::size_t n) {
    if (off > m_bytes.size() || n > m_bytes.size() - off) return false;
    if (n > 0) std::memcpy(dst, m_bytes.data() + off, n);
    return true;
}

WindowSource::WindowSource(ByteSource& source, std::uint64_t begin, std::uint64_t length)
    : m_source(source), m_begin(std::min(begin, source.size())),
      m_length(std::min(length, source.size() - m_begin)) {}

bool WindowSource::readAt(std::uint64_t off, void* dst, std::size_t n) {
    if (off > m_length || n > m_length - off) return false;
    return m_source.readAt(m_begin + off, dst, n);
}

bool FdSource::readAt(std::uint64_t off, void* dst, std::size_t n) {
    if (off > m_size || n > m_size - off) return false;
    return platform::ReadFullyAt(m_fd, dst, n, off);
}

SegmentWalker::SegmentWalker(ByteSource& source, Strictness strictness)
    : m_source(source), m_strictness(strictness) {
    std::array<std::uint8_t, 2> soi{};
    m_startsWithSoi =
        m_source.readAt(0, soi.data(), soi.size()) && soi[0] == 0xFF && soi[1] == marker::Soi;
    m_done = !m_startsWithSoi;
}

std::optional<Segment> SegmentWalker::next() {
    if (m_done) return std::nullopt;
    m_done = true; // until a whole segment has been read
    std::uint8_t byte = 0;
    if (!m_source.readAt(m_pos, &byte, 1) || byte != 0xFF) return std::nullopt;
    std::uint64_t code = m_pos + 1;
    std::uint8_t markerCode = 0;
    if (!m_source.readAt(code, &markerCode, 1)) return std::nullopt;
    while (markerCode == 0xFF) {
        if (m_strictness == Strictness::Strict) return std::nullopt;
        ++code;
        if (!m_source.readAt(code, &markerCode, 1)) return std::nullopt;
    }
    if (markerCode == marker::Eoi) return std::nullopt;
    Segment segment;
    segment.marker = markerCode;
    segment.offset = code - 1;
    if (!ReadLength(m_source, code + 1, segment.length) || segment.length < 2) return std::nullopt;
    segment.payloadStart = code + 3;
    const std::uint64_t end = segment.payloadStart + (segment.length - 2u);
    segment.truncated = end > m_source.size();
    segment.payloadEnd = segment.truncated ? m_source.size() : end;
    m_pos = end;
    m_reachedScan = markerCode == marker::Sos && !segment.truncated;
    m_done = segment.truncated || markerCode == marker::Sos;
    return segment;
}

std::vector<Segment> ReadSegments(ByteSource& source, Strictness strictness) {
    std::vector<Segment> out;
    SegmentWalker walker(source, strictness);
    while (const auto segment = walker.next())
        out.push_back(*segment);
    return out;
}

std::optional<std::uint64_t> FindEndOfImage(ByteSource& source, const Segment& scan) {
    if (scan.marker != marker::Sos || scan.truncated) return std::nullopt;
    BufferedBytes bytes(source);
    std::uint64_t pos = scan.payloadEnd;
    while (bytes.findFf(pos)) {
        std::uint8_t code = 0;
        if (!bytes.at(pos + 1, code)) return std::nullopt;
        if (code == 0x00 || IsRestart(code)) {
            pos += 2;
        } else if (code == 0xFF) {
            ++pos; // a fill byte before a marker
        } else if (code == marker::Eoi) {
            return pos + 2;
        } else {
            // Tables and further scans of a progressive image: stepped over by their length.
            std::uint16_t length = 0;
            if (!ReadLength(source, pos + 2, length) || length < 2) return std::nullopt;
            pos += 2 + std::uint64_t(length);
        }
    }
    return std::nullopt;
}

std::optional<std::uint64_t> EndOfImage(ByteSource& source) {
    SegmentWalker walker(source, Strictness::Lenient);
    std::optional<Segment> last;
    while (const auto segment = walker.next())
        last = segment;
    if (!walker.reachedScan() || !last) return std::nullopt;
    return FindEndOfImage(source, *last);
}

} // namespace jpeg
