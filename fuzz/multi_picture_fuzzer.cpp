// SPDX-License-Identifier: GPL-3.0-or-later
// What follows the main image: the file layout, the MPF index rewrite and the XMP patch. Images
// are "turned" by copying them, so that the run spends its time in our own code.
#include "exif/xmp.h"
#include "jpeg/stray_bytes.h"
#include "rotate/multi_picture.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> file(data, size);
    const rotate::FileLayout layout = rotate::ReadFileLayout(file);
    if (layout.mainEnd > size) std::abort();
    std::size_t at = layout.mainEnd;
    for (const rotate::TrailerPart& part : layout.parts) {
        // The parts cover what follows the main image, in order, without gaps or overlaps.
        if (part.begin != at || part.end < part.begin || part.end > size) std::abort();
        at = part.end;
    }
    if (!layout.parts.empty() && at != size) std::abort();

    const rotate::ImageTurn copy = [](std::span<const std::uint8_t> image,
                                      std::vector<std::uint8_t>& out) {
        out.assign(image.begin(), image.end());
        return platform::Result();
    };
    std::vector<std::uint8_t> out;
    // A copy keeps every size, so the whole file must come back as it was but for the index.
    if (rotate::TurnWholeFile(file, copy, out).ok() && out.size() != size) std::abort();

    std::vector<std::uint8_t> packet(data, data + size);
    exif::PatchXmpOrientation(packet, 6);
    if (packet.size() != size) std::abort();
    if (const auto cleaned = jpeg::WithoutStrayHeaderBytes(file);
        cleaned && cleaned->size() >= size)
        std::abort();
    return 0;
}
