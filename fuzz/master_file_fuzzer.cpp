// SPDX-License-Identifier: GPL-3.0-or-later
// Reading a thumbnail cache file back: every byte of it may be damaged or hostile.
#include "thumbs/master_image.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The key make_seeds writes into the seed files.
    static const QByteArray key("fuzz-key");
    const thumbs::ThumbnailOptions cell{150, 170, true, true};
    const auto master = thumbs::DecodeMasterFile(std::span(data, size), key);
    if (master && (master->image.isNull() || master->photoWidth < 1 || master->photoHeight < 1))
        std::abort(); // a master read back is always a usable one
    if (master) (void)thumbs::ThumbnailFromMaster(*master, cell);
    return 0;
}
