// SPDX-License-Identifier: GPL-3.0-or-later
// The EXIF property reader, the embedded-thumbnail finder and the value formatting.
#include "exif/exif_format.h"
#include "exif/exif_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    // As a whole JPEG, and as a bare TIFF block.
    for (const exif::ExifData& parsed : {exif::ReadJpegExif(bytes), exif::ReadExif(bytes)}) {
        (void)exif::OrientationOf(parsed);
        (void)exif::ExifRows(parsed, ",");
        for (const auto& item : parsed.items)
            (void)exif::FormatExifValue(item.value, item.type, item.id,
                                        std::uint32_t(item.value.size()));
    }
    return 0;
}
