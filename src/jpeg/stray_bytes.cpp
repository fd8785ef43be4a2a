// SPDX-License-Identifier: GPL-3.0-or-later
#include "jpeg/stray_bytes.h"

#include "jpeg/segments.h"

namespace jpeg {
namespace {

// Far more runs of stray bytes than any damaged camera file has.
constexpr int kMaxRuns = 64;

// Where the segment walk stopped short of the scan, when what stands there is not a marker.
std::optional<std::size_t> StrayRunStart(std::span<const std::uint8_t> image) {
    SpanSource source(image);
    SegmentWalker walker(source, Strictness::Lenient);
    std::optional<Segment> last;
    while (const auto segment = walker.next())
        last = segment;
    if (walker.reachedScan() || image.size() < 2 || image[0] != 0xFF || image[1] != marker::Soi)
        return std::nullopt;
    if (last && (last->truncated || last->marker == marker::Eoi)) return std::nullopt;
    const std::size_t at = last ? std::size_t(last->payloadEnd) : 2;
    if (at >= image.size() || image[at] == 0xFF) return std::nullopt;
    return at;
}

// The next marker after `from`: an FF followed by a code that is neither stuffing nor fill.
std::optional<std::size_t> NextMarker(std::span<const std::uint8_t> image, std::size_t from) {
    for (std::size_t i = from; i + 1 < image.size(); ++i)
        if (image[i] == 0xFF && image[i + 1] != 0x00 && image[i + 1] != 0xFF) return i;
    return std::nullopt;
}

} // namespace

std::optional<std::vector<std::uint8_t>>
WithoutStrayHeaderBytes(std::span<const std::uint8_t> image) {
    std::optional<std::vector<std::uint8_t>> cleaned;
    for (int run = 0; run < kMaxRuns; ++run) {
        const std::span<const std::uint8_t> current =
            cleaned ? std::span<const std::uint8_t>(*cleaned) : image;
        const std::optional<std::size_t> start = StrayRunStart(current);
        const std::optional<std::size_t> end = start ? NextMarker(current, *start) : std::nullopt;
        if (!end) break;
        std::vector<std::uint8_t> next(current.begin(), current.begin() + std::ptrdiff_t(*start));
        next.insert(next.end(), current.begin() + std::ptrdiff_t(*end), current.end());
        cleaned = std::move(next);
    }
    return cleaned;
}

} // namespace jpeg
