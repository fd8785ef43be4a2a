// SPDX-License-Identifier: GPL-3.0-or-later
#include "rotate/large_pages.h"

#include <cstdint>
#include <gtest/gtest.h>

using rotate::WholeLargePagesIn;

TEST(LargePages, OnlyWholePagesInsideTheBuffer) {
    constexpr std::size_t page = 4096;
    // Aligned at both ends: all of it.
    EXPECT_EQ(WholeLargePagesIn(2 * page, 3 * page, page).start, 2 * page);
    EXPECT_EQ(WholeLargePagesIn(2 * page, 3 * page, page).length, 3 * page);
    // Ragged ends are left out, never rounded outward.
    const rotate::AddressRange inner = WholeLargePagesIn(page + 1, 3 * page, page);
    EXPECT_EQ(inner.start, 2 * page);
    EXPECT_EQ(inner.length, 2 * page);
    EXPECT_EQ(WholeLargePagesIn(page - 1, 2 * page + 2, page).start, page);
    EXPECT_EQ(WholeLargePagesIn(page - 1, 2 * page + 2, page).length, 2 * page);
    // Not one whole page: nothing.
    EXPECT_EQ(WholeLargePagesIn(page + 1, page, page).length, 0u);
    EXPECT_EQ(WholeLargePagesIn(page + 1, 2 * page - 2, page).length, 0u);
    EXPECT_EQ(WholeLargePagesIn(0, page - 1, page).length, 0u);
    // A range that would wrap around the address space.
    EXPECT_EQ(WholeLargePagesIn(UINTPTR_MAX - page, 4 * page, page).length, 0u);
    EXPECT_EQ(WholeLargePagesIn(page, page, 0).length, 0u);
}
