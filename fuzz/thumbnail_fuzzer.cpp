// SPDX-License-Identifier: GPL-3.0-or-later
// Finding the embedded thumbnail and the end of the image, and rewriting the thumbnail after a
// turn.
#include "exif/exif_reader.h"
#include "jpeg/segments.h"
#include "rotate/transform.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const auto transform = *rotate::QuarterTurnsFrom(1 + data[0] % 3);
    std::vector<std::uint8_t> jpeg(data + 1, data + size);
    const exif::ExifData parsed = exif::ReadJpegExif(jpeg);
    const auto segment = exif::FindExifSegment(jpeg);
    if (parsed.thumbnailLength > 0 && (!segment || parsed.thumbnailOffset + parsed.thumbnailLength >
                                                       segment->segmentEnd - segment->tiffStart))
        std::abort(); // the thumbnail must lie inside the EXIF block
    jpeg::SpanSource source(jpeg);
    if (const auto end = jpeg::EndOfImage(source); end && *end > jpeg.size()) std::abort();
    rotate::UpdateExifAfterTurn(jpeg, transform, 640, 480);
    return 0;
}
