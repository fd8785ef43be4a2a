// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <turbojpeg.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

namespace jpeg {

struct TjHandleDeleter {
    void operator()(void* handle) const { tjDestroy(handle); }
};
struct TjBufferDeleter {
    void operator()(unsigned char* buffer) const { tjFree(buffer); }
};

using TjHandle = std::unique_ptr<void, TjHandleDeleter>;
using TjBuffer = std::unique_ptr<unsigned char, TjBufferDeleter>;

inline TjHandle MakeDecompressor() {
    return TjHandle(tjInitDecompress());
}
inline TjHandle MakeTransformer() {
    return TjHandle(tjInitTransform());
}

inline std::string TjErrorText(void* handle) {
    return tjGetErrorStr2(handle);
}

struct ImageSize {
    int width = 0, height = 0;
    int subsampling = -1; // a TJSAMP value
};

// The size and sampling from a JPEG's frame header, read with `decompressor`; nullopt when the
// bytes are not a JPEG, give a side of 0 or are more than a photo can be (1 GiB).
std::optional<ImageSize> ReadImageSize(void* decompressor, std::span<const std::uint8_t> jpeg);

} // namespace jpeg
