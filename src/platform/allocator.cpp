// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/allocator.h"

#include <malloc.h>

namespace platform {

void KeepImageBuffersMapped() {
    // Buffers of a few megabytes (a master, a scaled photo) come from the heap and stay there;
    // without this the threads' heaps were trimmed after every photo, and page faults took a
    // third of the time of a load from the cache. Whole photos still get their own mapping.
    ::mallopt(M_MMAP_THRESHOLD, 8 << 20);
    ::mallopt(M_TRIM_THRESHOLD, 64 << 20);
}

void KeepTurnBuffersMapped() {
    ::mallopt(M_MMAP_THRESHOLD, 32 << 20); // the largest the allocator accepts
    ::mallopt(M_TRIM_THRESHOLD, 1 << 30);
    // A turn takes more than one heap of a thread's own arena holds (64 MB), and an extra heap
    // is unmapped as soon as it is empty: each turn on a worker thread faulted much of its
    // memory in, zeroed, again. The main arena grows as far as it needs and keeps what it has; a
    // turn allocates too seldom for its threads to wait on one another there.
    ::mallopt(M_ARENA_MAX, 1);
}

} // namespace platform
