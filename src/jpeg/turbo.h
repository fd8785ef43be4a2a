// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <turbojpeg.h>

#include <memory>
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

} // namespace jpeg
