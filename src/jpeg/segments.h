// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace jpeg {

namespace marker {
constexpr std::uint8_t Soi = 0xD8;
constexpr std::uint8_t Eoi = 0xD9;
constexpr std::uint8_t Sos = 0xDA;
constexpr std::uint8_t App1 = 0xE1;
constexpr std::uint8_t Rst0 = 0xD0;
constexpr std::uint8_t Rst7 = 0xD7;
} // namespace marker

// Bytes that can be read at any offset, every read bounded by size().
class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual std::uint64_t size() const = 0;
    // False, and nothing read, when [off, off + n) is not inside the source.
    virtual bool readAt(std::uint64_t off, void* dst, std::size_t n) = 0;
};

class SpanSource final : public ByteSource {
public:
    explicit SpanSource(std::span<const std::uint8_t> bytes) : m_bytes(bytes) {}
    std::uint64_t size() const override { return m_bytes.size(); }
    bool readAt(std::uint64_t off, void* dst, std::size_t n) override;

private:
    std::span<const std::uint8_t> m_bytes;
};

// A part of another source, read as if it were all there is: one image of a multi-picture file.
class WindowSource final : public ByteSource {
public:
    // The window is clamped to the source.
    WindowSource(ByteSource& source, std::uint64_t begin, std::uint64_t length);
    std::uint64_t size() const override { return m_length; }
    bool readAt(std::uint64_t off, void* dst, std::size_t n) override;

private:
    ByteSource& m_source;
    std::uint64_t m_begin, m_length;
};

// A file descriptor read with pread; the caller keeps it open.
class FdSource final : public ByteSource {
public:
    FdSource(int fd, std::uint64_t size) : m_fd(fd), m_size(size) {}
    std::uint64_t size() const override { return m_size; }
    bool readAt(std::uint64_t off, void* dst, std::size_t n) override;

private:
    int m_fd;
    std::uint64_t m_size;
};

// One marker segment before the image data. Offsets are in the source.
struct Segment {
    std::uint8_t marker = 0;
    std::uint64_t offset = 0;       // the FF right before the marker code
    std::uint16_t length = 0;       // the length field: payload plus its own two bytes
    std::uint64_t payloadStart = 0; // just after the length field
    std::uint64_t payloadEnd = 0;   // one past the payload, clamped to the source
    bool truncated = false;         // the length runs past the end of the source

    std::uint64_t payloadSize() const { return payloadEnd - payloadStart; }
};

enum class Strictness {
    // As readers need: fill bytes before a marker code are skipped.
    Lenient,
    // As a writer needs: a fill byte ends the walk, so that nothing unusual is touched.
    Strict,
};

// Walks the segments from SOI up to and including the first SOS. Before the scan every marker
// but EOI carries a length. The walk ends at EOI, after a truncated segment, after SOS or at the
// first byte it cannot take as a marker.
class SegmentWalker {
public:
    SegmentWalker(ByteSource& source, Strictness strictness);

    // The next segment; nullopt once the walk has ended.
    std::optional<Segment> next();
    // Whether the source starts with SOI.
    bool startsWithSoi() const { return m_startsWithSoi; }
    // Whether the walk ended at the image's first SOS (its header was the last segment given).
    bool reachedScan() const { return m_reachedScan; }

private:
    ByteSource& m_source;
    Strictness m_strictness;
    std::uint64_t m_pos = 2;
    bool m_startsWithSoi = false;
    bool m_done = false;
    bool m_reachedScan = false;
};

// Where the entropy-coded data following `scan` (an SOS segment) ends at the image's EOI:
// stuffed FF00 and restart markers belong to the data, further segments (a progressive file's
// tables and scans) are stepped over by their length. One past the EOI's D9; nullopt when the
// data runs to the end of the source.
std::optional<std::uint64_t> FindEndOfImage(ByteSource& source, const Segment& scan);

// Walks the segments and then the image data; one past the image's EOI, or nullopt.
std::optional<std::uint64_t> EndOfImage(ByteSource& source);

// All segments up to and including the first SOS.
std::vector<Segment> ReadSegments(ByteSource& source, Strictness strictness);

} // namespace jpeg
