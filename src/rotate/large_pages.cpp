// SPDX-License-Identifier: GPL-3.0-or-later
#include "rotate/large_pages.h"

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace rotate {

AddressRange WholeLargePagesIn(std::uintptr_t start, std::size_t length, std::size_t pageBytes) {
    if (pageBytes == 0 || length < pageBytes || start > UINTPTR_MAX - length) return {};
    const std::uintptr_t end = start + length;
    const std::uintptr_t first = start + (pageBytes - start % pageBytes) % pageBytes;
    const std::uintptr_t last = end - end % pageBytes;
    if (first >= last) return {};
    return {first, std::size_t(last - first)};
}

void AdviseLargePages(void* buffer, std::size_t length) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    const auto start = reinterpret_cast<std::uintptr_t>(buffer);
    const AddressRange pages = WholeLargePagesIn(start, length);
    if (pages.length > 0)
        ::madvise(static_cast<char*>(buffer) + (pages.start - start), pages.length, MADV_HUGEPAGE);
#else
    (void)buffer;
    (void)length;
#endif
}

} // namespace rotate
