// SPDX-License-Identifier: GPL-3.0-or-later
#include "jpeg/turbo.h"

namespace jpeg {

std::optional<ImageSize> ReadImageSize(void* decompressor, std::span<const std::uint8_t> jpeg) {
    constexpr std::size_t kMostBytes = std::size_t(1) << 30;
    if (!decompressor || jpeg.size() < 4 || jpeg.size() > kMostBytes) return std::nullopt;
    ImageSize size;
    int colorspace = 0;
    if (tjDecompressHeader3(decompressor, jpeg.data(), static_cast<unsigned long>(jpeg.size()),
                            &size.width, &size.height, &size.subsampling, &colorspace) != 0 ||
        size.width <= 0 || size.height <= 0)
        return std::nullopt;
    return size;
}

} // namespace jpeg
