// SPDX-License-Identifier: GPL-3.0-or-later
#include <cstdlib>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <thread>

#include "platform/allocator.h"

namespace {

long MinorFaults() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_minflt;
}

// Faults taken to allocate, fill and free a buffer the size of a 12-megapixel photo's luma
// coefficients.
long FaultsOfOneTurnBuffer() {
    constexpr std::size_t kBytes = std::size_t(24) << 20;
    const long before = MinorFaults();
    auto* buffer = static_cast<volatile char*>(std::malloc(kBytes));
    if (!buffer) std::abort();
    for (std::size_t i = 0; i < kBytes; i += 4096)
        buffer[i] = char(i);
    std::free(const_cast<char*>(buffer));
    return MinorFaults() - before;
}

// Exits 0 when the second buffer reused the first one's pages.
[[noreturn]] void TurnTwice() {
    platform::KeepTurnBuffersMapped();
    const long first = FaultsOfOneTurnBuffer(), second = FaultsOfOneTurnBuffer();
    std::exit(first > 1000 && second < first / 4 ? 0 : 1);
}

// Faults taken by a thread of its own to fill and free what one turn holds at once: 120 MB in
// buffers of 24 MB, more than one heap of a thread's arena.
long FaultsOfOneTurnOnItsOwnThread() {
    long faults = 0;
    std::thread turn([&faults] {
        constexpr std::size_t kBytes = std::size_t(24) << 20;
        const long before = MinorFaults();
        volatile char* buffers[5];
        for (volatile char*& buffer : buffers) {
            buffer = static_cast<volatile char*>(std::malloc(kBytes));
            if (!buffer) std::abort();
            for (std::size_t i = 0; i < kBytes; i += 4096)
                buffer[i] = char(i);
        }
        for (volatile char* buffer : buffers)
            std::free(const_cast<char*>(buffer));
        faults = MinorFaults() - before;
    });
    turn.join();
    return faults;
}

[[noreturn]] void TurnOnTwoThreads() {
    platform::KeepTurnBuffersMapped();
    const long first = FaultsOfOneTurnOnItsOwnThread();
    const long second = FaultsOfOneTurnOnItsOwnThread();
    std::exit(first > 1000 && second < first / 4 ? 0 : 1);
}

} // namespace

// In a process of its own: the allocator's settings are the process's.
TEST(Allocator, TurnBuffersAreKeptForTheNextTurn) {
#ifdef TULVEX_SANITIZED_BUILD
    GTEST_SKIP() << "the sanitizer's allocator holds freed memory back on purpose";
#endif
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(TurnTwice(), testing::ExitedWithCode(0), "");
    // The command line turns on several threads, one after another on each.
    EXPECT_EXIT(TurnOnTwoThreads(), testing::ExitedWithCode(0), "");
}
