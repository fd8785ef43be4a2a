// SPDX-License-Identifier: GPL-3.0-or-later
#include "jpeg/jpeg_header.h"

#include "exif/exif_reader.h"
#include "jpeg/segments.h"
#include "jpeg/turbo.h"

#include <fcntl.h>
#include <unistd.h>

#include <sys/stat.h>

#include "platform/file_io.h"

namespace jpeg {
namespace {

// Leading segments of real files stay far below this; a larger header is not a photo we read.
constexpr std::uint64_t kMaxHeaderBytes = 16u << 20;
constexpr std::size_t kMaxFileBytes = std::size_t(1) << 30;

} // namespace

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
    if (jpeg.size() < 4 || jpeg.size() > kMaxFileBytes) return std::nullopt;
    const TjHandle handle = MakeDecompressor();
    JpegHeader header;
    int colorspace = 0;
    if (!handle ||
        tjDecompressHeader3(handle.get(), jpeg.data(), static_cast<unsigned long>(jpeg.size()),
                            &header.width, &header.height, &header.subsampling, &colorspace) != 0 ||
        header.width <= 0 || header.height <= 0)
        return std::nullopt;
    header.orientation = exif::OrientationOf(exif::ReadJpegExif(jpeg));
    return header;
}

std::optional<JpegHeader> ReadJpegFileHeader(const std::string& path) {
    return ParseJpegHeader(ReadJpegHeader(path));
}

} // namespace jpeg
