// SPDX-License-Identifier: GPL-3.0-or-later
#include "exif/jpeg_header.h"

#include "exif/exif_reader.h"
#include "jpeg/segments.h"
#include "jpeg/turbo.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <sys/stat.h>

#include "platform/file_io.h"

namespace exif {

using jpeg::ByteSource;
using jpeg::FdSource;
using jpeg::MakeDecompressor;
using jpeg::SegmentWalker;
using jpeg::Strictness;
using jpeg::TjHandle;

namespace {

// Leading segments of real files stay far below this; a larger header is not a photo we read.
constexpr std::uint64_t kMaxHeaderBytes = 16u << 20;

constexpr std::size_t kMaxComponents = 4;

bool IsFrameHeader(std::uint8_t code) {
    return code >= 0xC0 && code <= 0xCF && code != 0xC4 && code != 0xC8 && code != 0xCC;
}

// Precision, height, width, component count, then three bytes a component.
std::optional<BlockLayout> ParseFrameHeader(std::span<const std::uint8_t> frame) {
    if (frame.size() < 6) return std::nullopt;
    const std::size_t components = frame[5];
    if (components == 0 || components > kMaxComponents || frame.size() < 6 + 3 * components)
        return std::nullopt;
    BlockLayout layout;
    layout.height = frame[1] << 8 | frame[2];
    layout.width = frame[3] << 8 | frame[4];
    if (layout.width == 0 || layout.height == 0) return std::nullopt;
    int maxH = 1, maxV = 1;
    for (std::size_t c = 0; c < components; ++c) {
        const int factors = frame[6 + 3 * c + 1];
        maxH = std::max(maxH, factors >> 4);
        maxV = std::max(maxV, factors & 0x0F);
    }
    // One component is coded in single blocks whatever its factors say.
    layout.mcuWidth = components == 1 ? 8 : 8 * maxH;
    layout.mcuHeight = components == 1 ? 8 : 8 * maxV;
    return layout;
}

} // namespace

std::optional<BlockLayout> ReadBlockLayout(ByteSource& source) {
    SegmentWalker walker(source, Strictness::Lenient);
    while (const auto segment = walker.next()) {
        if (!IsFrameHeader(segment->marker) || segment->truncated) continue;
        std::uint8_t frame[6 + 3 * kMaxComponents] = {};
        const std::size_t n =
            std::size_t(std::min<std::uint64_t>(segment->payloadSize(), sizeof frame));
        if (!source.readAt(segment->payloadStart, frame, n)) return std::nullopt;
        return ParseFrameHeader({frame, n});
    }
    return std::nullopt;
}

std::vector<std::uint8_t> ReadJpegHeader(const std::string& path) {
    std::vector<std::uint8_t> out;
    const platform::UniqueFd file(
        ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    struct stat st {};
    if (!file.valid() || ::fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode)) return out;
    FdSource source(file.get(), std::uint64_t(st.st_size));
    SegmentWalker walker(source, Strictness::Lenient);
    if (!walker.startsWithSoi()) return out;
    std::uint64_t end = 2;
    while (const auto segment = walker.next()) {
        if (segment->payloadEnd > kMaxHeaderBytes) break;
        end = segment->payloadEnd;
    }
    out.resize(std::size_t(end));
    if (!source.readAt(0, out.data(), out.size())) out.clear();
    return out;
}

std::optional<JpegHeader> ParseJpegHeader(std::span<const std::uint8_t> jpeg) {
    if (jpeg.size() < 4) return std::nullopt;
    const TjHandle handle = MakeDecompressor();
    const std::optional<jpeg::ImageSize> size = jpeg::ReadImageSize(handle.get(), jpeg);
    if (!size) return std::nullopt;
    JpegHeader header;
    header.width = size->width;
    header.height = size->height;
    header.subsampling = size->subsampling;
    header.orientation = exif::OrientationOf(exif::ReadJpegExif(jpeg));
    return header;
}

std::optional<JpegHeader> ReadJpegFileHeader(const std::string& path) {
    return ParseJpegHeader(ReadJpegHeader(path));
}

} // namespace exif
