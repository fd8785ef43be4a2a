// SPDX-License-Identifier: GPL-3.0-or-later
#include "exif/ifd_view.h"
#include "support/jpeg_factory.h"

#include <gtest/gtest.h>

using namespace testing_support;
using jpeg::ByteOrder;

TEST(IfdView, EntriesAreClampedToTheBlockBeforeAnyAreRead) {
    for (ByteOrder order : {ByteOrder::Little, ByteOrder::Big}) {
        ExifSpec spec;
        spec.order = order;
        spec.orientation = 6;
        const Bytes tiff = MakeTiff(spec);
        const auto view = exif::TiffView::Open(tiff);
        ASSERT_TRUE(view);
        EXPECT_EQ(view->magic(), 42);
        const exif::IfdView ifd0(*view, view->firstDirectory());
        ASSERT_TRUE(ifd0.complete());
        ASSERT_EQ(ifd0.entries(), 1u);
        const exif::IfdEntry entry = ifd0.entry(0);
        EXPECT_EQ(entry.tag, 0x0112);
        EXPECT_EQ(entry.count, 1u);
        EXPECT_EQ(entry.valueField(), 8u + 2 + 8);

        // The same directory claiming more entries than the block holds.
        Bytes cut = tiff;
        cut.resize(8 + 2 + 12 + 5); // one whole entry and the start of a second
        jpeg::Store16(&cut[8], 0xFFFF, order);
        const auto cutView = exif::TiffView::Open(cut);
        const exif::IfdView huge(*cutView, 8);
        EXPECT_TRUE(huge.valid());
        EXPECT_FALSE(huge.complete());
        EXPECT_EQ(huge.declaredCount(), 0xFFFF);
        EXPECT_EQ(huge.entries(), 1u);
        EXPECT_FALSE(huge.next());
        EXPECT_EQ(huge.entry(1).tag, 0) << "past the clamped entries nothing is read";
    }
}

TEST(IfdView, OffsetsAtTheEdgeOfTheBlock) {
    const Bytes tiff = MakeTiff(ExifSpec{});
    const auto view = exif::TiffView::Open(tiff);
    ASSERT_TRUE(view);
    for (std::uint32_t offset :
         {std::uint32_t(tiff.size() - 1), std::uint32_t(tiff.size()), 0xFFFFFFFFu}) {
        const exif::IfdView dir(*view, offset);
        EXPECT_FALSE(dir.valid()) << offset;
        EXPECT_EQ(dir.entries(), 0u);
        EXPECT_FALSE(dir.next());
    }
    // A count in the block's last two bytes leaves no room for an entry.
    Bytes tail = tiff;
    jpeg::Store16(&tail[tail.size() - 2], 3, ByteOrder::Little);
    const auto tailView = exif::TiffView::Open(tail);
    const exif::IfdView last(*tailView, std::uint32_t(tail.size() - 2));
    EXPECT_TRUE(last.valid());
    EXPECT_EQ(last.declaredCount(), 3);
    EXPECT_EQ(last.entries(), 0u);
    EXPECT_FALSE(last.complete());
    EXPECT_FALSE(exif::TiffView::Open(Bytes{'I', 'I', 42, 0, 8, 0, 0}));
    EXPECT_FALSE(exif::TiffView::Open(Bytes{'I', 'M', 42, 0, 8, 0, 0, 0}));
}

TEST(IfdView, ADirectoryIsCompleteOnlyWithItsWholeNextPointer) {
    for (ByteOrder order : {ByteOrder::Little, ByteOrder::Big}) {
        ExifSpec spec;
        spec.order = order;
        spec.orientation = 6;
        const Bytes tiff = MakeTiff(spec);
        const std::size_t pointerEnd = 8 + 2 + 12 + 4; // header, count, one entry, next pointer
        ASSERT_GE(tiff.size(), pointerEnd);
        for (std::size_t size = pointerEnd - 4; size <= pointerEnd; ++size) {
            const Bytes cut(tiff.begin(), tiff.begin() + std::ptrdiff_t(size));
            const auto view = exif::TiffView::Open(cut);
            ASSERT_TRUE(view);
            const exif::IfdView ifd0(*view, 8);
            EXPECT_EQ(ifd0.entries(), 1u) << "the entry itself lies inside: " << size;
            EXPECT_EQ(ifd0.complete(), size == pointerEnd) << size;
            EXPECT_EQ(ifd0.next().has_value(), size == pointerEnd) << size;
        }
    }
}

TEST(IfdView, VisitsEnterEachDirectoryOnceWithinTheLimits) {
    exif::IfdVisits visits(3, 2);
    EXPECT_TRUE(visits.enter(8));
    EXPECT_FALSE(visits.enter(8));
    EXPECT_FALSE(visits.enter(20, 3)) << "too deep";
    EXPECT_FALSE(visits.entered(20));
    EXPECT_TRUE(visits.enter(20, 2));
    EXPECT_TRUE(visits.enter(30));
    EXPECT_FALSE(visits.enter(40)) << "too many";
}
