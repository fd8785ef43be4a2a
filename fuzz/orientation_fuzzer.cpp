// SPDX-License-Identifier: GPL-3.0-or-later
// The segment walk and the orientation patch on an in-memory file.
#include "exif/orientation_writer.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::vector<std::uint8_t> original(data, data + size);
    jpeg::MemoryFile file(original);
    exif::PatchOrientation(file, 3);
    // The patch never changes the length and only ever writes value fields of 4 bytes.
    if (file.bytes().size() != original.size()) std::abort();
    std::size_t changed = 0;
    for (std::size_t i = 0; i < size; ++i)
        changed += file.bytes()[i] != original[i];
    if (changed > 4 * 3 * 512) std::abort();
    return 0;
}
