// SPDX-License-Identifier: GPL-3.0-or-later
#include "exif/exif_reader.h"
#include "exif/orientation_writer.h"
#include "support/english.h"
#include "support/jpeg_factory.h"
#include "support/temp_dir.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>

#include "platform/photo_lock.h"

using namespace testing_support;
using jpeg::ByteOrder;

namespace {

// Offsets (in the file) of every byte that differs between a and b.
std::vector<std::size_t> Differences(const Bytes& a, const Bytes& b) {
    std::vector<std::size_t> out;
    for (std::size_t i = 0; i < std::min(a.size(), b.size()); ++i)
        if (a[i] != b[i]) out.push_back(i);
    return out;
}

// File offsets of the value fields of all orientation entries, found independently.
std::vector<std::size_t> OrientationFields(const Bytes& file, ByteOrder order) {
    std::vector<std::size_t> out;
    const std::uint8_t tag[2] = {std::uint8_t(order == ByteOrder::Little ? 0x12 : 0x01),
                                 std::uint8_t(order == ByteOrder::Little ? 0x01 : 0x12)};
    for (std::size_t i = 12; i + 12 <= file.size() && i < 4096; ++i)
        if (file[i] == tag[0] && file[i + 1] == tag[1] &&
            file[i + 2] == (order == ByteOrder::Little ? 3 : 0))
            out.push_back(i + 8);
    return out;
}

Bytes Patched(Bytes bytes, std::uint16_t value) {
    jpeg::MemoryFile file(std::move(bytes));
    exif::PatchOrientation(file, value);
    return file.bytes();
}

} // namespace

TEST(WriteOrientation, PatchesOnlyTheValueFieldInEitherByteOrder) {
    for (ByteOrder order : {ByteOrder::Little, ByteOrder::Big}) {
        ExifSpec spec;
        spec.order = order;
        spec.orientation = 6;
        // An APP0 (JFIF) before the EXIF block is skipped by its length.
        const Bytes app0{0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0, 1, 1, 0, 0, 1, 0, 1, 0, 0};
        Bytes original = InsertAfterSoi(MakeJpegWithExif(64, 48, spec), {});
        original = InsertAfterSoi(original, app0);
        const Bytes patched = Patched(original, 1);
        const auto fields = OrientationFields(original, order);
        ASSERT_EQ(fields.size(), 1u);
        const Bytes expected = order == ByteOrder::Little ? Bytes{1, 0, 0, 0} : Bytes{0, 1, 0, 0};
        EXPECT_EQ(Bytes(patched.begin() + std::ptrdiff_t(fields[0]),
                        patched.begin() + std::ptrdiff_t(fields[0] + 4)),
                  expected);
        ASSERT_EQ(patched.size(), original.size());
        for (std::size_t d : Differences(original, patched))
            EXPECT_TRUE(d >= fields[0] && d < fields[0] + 4) << d;
    }
}

TEST(WriteOrientation, PatchesEveryDirectoryOfTheChain) {
    ExifSpec spec;
    spec.orientation = 6;
    spec.exifOrientation = 6;
    spec.ifd1Orientation = 6;
    spec.exif.push_back({0x829A, 5, 1, Rational(1, 250, ByteOrder::Little)});
    const Bytes original = MakeJpegWithExif(32, 32, spec);
    const Bytes patched = Patched(original, 8);
    const auto fields = OrientationFields(original, ByteOrder::Little);
    ASSERT_EQ(fields.size(), 3u);
    for (std::size_t f : fields)
        EXPECT_EQ(patched[f], 8) << f;
    EXPECT_EQ(Differences(original, patched).size(), 3u);
}

TEST(WriteOrientation, LeavesAnythingUnusualByteForByte) {
    ExifSpec spec;
    spec.orientation = 6;
    const Bytes good = MakeJpegWithExif(16, 16, spec);
    const Bytes app1 = MakeApp1(MakeTiff(spec));
    const std::size_t tiff = 2 + 10;

    std::vector<std::pair<const char*, Bytes>> cases;
    cases.push_back({"empty", {}});
    cases.push_back({"no SOI", Bytes(good.begin() + 2, good.end())});
    cases.push_back({"no APP1", MakeJpeg(16, 16)});
    cases.push_back({"fill byte before APP1", InsertAfterSoi(good, {0xFF})});
    Bytes pastEnd =
        InsertAfterSoi(good, {0xFF, 0xE0, 0xFF, 0xF0, 'J'}); // APP0 running past the end
    cases.push_back({"a segment longer than the file", pastEnd});
    Bytes badPad = good;
    badPad[tiff - 1] = 1;
    cases.push_back({"Exif not followed by two zeros", badPad});
    Bytes badOrder = good;
    badOrder[tiff] = 'X';
    cases.push_back({"byte order mark", badOrder});
    Bytes bad42 = good;
    bad42[tiff + 2] = 43;
    cases.push_back({"not 42", bad42});
    Bytes truncated(good.begin(), good.begin() + std::ptrdiff_t(tiff + 12));
    cases.push_back({"truncated inside IFD0", truncated});
    (void)app1;
    for (const auto& [what, bytes] : cases)
        EXPECT_EQ(Patched(bytes, 1), bytes) << what;

    // Another APP1 segment ahead of the EXIF one does not hide it: the orientation the reader
    // reads is the one written, and only its value changes.
    const Bytes otherFirst =
        InsertAfterSoi(good, {0xFF, 0xE1, 0x00, 0x0A, 'h', 't', 't', 'p', ':', '/', '/', 'x'});
    const Bytes patched = Patched(otherFirst, 1);
    EXPECT_EQ(exif::OrientationOf(exif::ReadJpegExif(patched)), 1);
    EXPECT_EQ(Differences(otherFirst, patched).size(), 1u);
}

TEST(WriteOrientation, NeverFollowsADirectoryPastTheExifSegment) {
    // IFD0 without orientation, whose next pointer names a directory holding one, placed as
    // the last bytes of the segment.
    ExifSpec spec;
    spec.orientation = 0;
    spec.ifd0.push_back({0x010F, 2, 4, Ascii("abc")});
    Bytes tiff = MakeTiff(spec);
    const std::size_t next = tiff.size();
    jpeg::Store32(&tiff[8 + 2 + 12], std::uint32_t(next), ByteOrder::Little);
    tiff.resize(next + 18, 0);
    jpeg::Store16(&tiff[next], 1, ByteOrder::Little);
    jpeg::Store16(&tiff[next + 2], 0x0112, ByteOrder::Little);
    jpeg::Store16(&tiff[next + 4], 3, ByteOrder::Little);
    jpeg::Store32(&tiff[next + 6], 1, ByteOrder::Little);
    jpeg::Store16(&tiff[next + 10], 6, ByteOrder::Little);
    const Bytes file = InsertAfterSoi(MakeJpeg(8, 8), MakeApp1(tiff));
    const std::size_t field = 2 + 10 + next + 10;
    ASSERT_EQ(file[field], 6);

    // Inside the segment to its last byte: patched.
    const Bytes patched = Patched(file, 1);
    EXPECT_EQ(patched[field], 1);
    EXPECT_EQ(Differences(file, patched).size(), 1u);

    // The segment's length made to end inside the entry's value field (the bytes are still in
    // the file, as the start of whatever follows): nothing is written.
    Bytes shortened = file;
    const std::uint16_t length = std::uint16_t(file[4] << 8 | file[5]);
    jpeg::Store16(&shortened[4], std::uint16_t(length - 5), ByteOrder::Big);
    EXPECT_EQ(Patched(shortened, 1), shortened);
}

TEST(WriteOrientation, HostileDirectoriesEndTheWalkWithoutWritingElsewhere) {
    ExifSpec spec;
    spec.orientation = 6;
    const Bytes good = MakeJpegWithExif(16, 16, spec);
    const std::size_t tiff = 12;
    const std::size_t next = tiff + 8 + 2 + 12;

    Bytes cyclic = good; // IFD0 names itself as the next directory
    jpeg::Store32(&cyclic[next], 8, ByteOrder::Little);
    const Bytes patchedCycle = Patched(cyclic, 3);
    EXPECT_EQ(Differences(cyclic, patchedCycle).size(), 1u);

    Bytes hugeCount = good; // an entry count that runs far past the segment
    jpeg::Store16(&hugeCount[tiff + 8], 0xFFFF, ByteOrder::Little);
    const Bytes patchedCount = Patched(hugeCount, 3);
    for (std::size_t d : Differences(hugeCount, patchedCount))
        EXPECT_LT(d, tiff + 8 + 2 + 12);

    Bytes farAway = good; // IFD0 pointing past the end of the file
    jpeg::Store32(&farAway[tiff + 4], 0x7FFFFFF0, ByteOrder::Little);
    EXPECT_EQ(Patched(farAway, 3), farAway);

    // An Exif pointer into the compressed data, where a stray 0x0112 would be found.
    ExifSpec withExif = spec;
    withExif.exif.push_back({0x829A, 5, 1, Rational(1, 250, ByteOrder::Little)});
    Bytes intoData = MakeJpegWithExif(64, 64, withExif);
    const std::size_t exifPointer = tiff + 8 + 2 + 12 + 8;
    const std::uint32_t beyond = std::uint32_t(intoData.size() - tiff - 40);
    jpeg::Store32(&intoData[exifPointer], beyond, ByteOrder::Little);
    intoData[tiff + beyond] = 1;
    intoData[tiff + beyond + 1] = 0;
    intoData[tiff + beyond + 2] = 0x12;
    intoData[tiff + beyond + 3] = 0x01;
    const Bytes patchedData = Patched(intoData, 3);
    for (std::size_t d : Differences(intoData, patchedData))
        EXPECT_LT(d, tiff + 8 + 2 + 24 + 4);
}

TEST(WriteOrientation, OnDiskSkipsValueZeroReadOnlyAndLockedFilesAndSaysWhy) {
    TempDir dir;
    ExifSpec spec;
    spec.orientation = 6;
    const Bytes original = MakeJpegWithExif(16, 16, spec);
    const std::string path = dir.file("a.jpg");
    platform::LockWait brief;
    brief.total = std::chrono::milliseconds(30);

    WriteFile(path, original);
    EXPECT_FALSE(exif::WriteOrientation(path, 0).ok());
    EXPECT_EQ(ReadFile(path), original);

    EXPECT_TRUE(exif::WriteOrientation(path, 1).ok());
    EXPECT_NE(ReadFile(path), original);

    WriteFile(path, original);
    ::chmod(path.c_str(), 0444); // refused by the permission bits, also to root
    const platform::Result readOnly = exif::WriteOrientation(path, 1, brief);
    EXPECT_EQ(readOnly.error(), EACCES) << English(readOnly);
    EXPECT_EQ(ReadFile(path), original);
    ::chmod(path.c_str(), 0644);

    const int holder = ::open(path.c_str(), O_RDONLY);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, LOCK_SH), 0); // another program has it open and locked
    int waits = 0;
    brief.onBusy = [&waits] { ++waits; };
    const platform::Result locked = exif::WriteOrientation(path, 1, brief);
    EXPECT_EQ(English(locked), "another program is changing the photo");
    EXPECT_EQ(waits, 1);
    EXPECT_EQ(ReadFile(path), original);
    ::close(holder);

    EXPECT_FALSE(exif::WriteOrientation(dir.file("missing.jpg"), 1).ok());

    ExifSpec none;
    none.orientation = 0; // EXIF without an orientation entry: nothing to patch
    const Bytes bare = MakeJpegWithExif(16, 16, none);
    WriteFile(path, bare);
    const platform::Result noEntry = exif::WriteOrientation(path, 3);
    EXPECT_FALSE(noEntry.ok());
    EXPECT_NE(English(noEntry).find("no EXIF orientation entry"), std::string::npos);
    EXPECT_EQ(ReadFile(path), bare);
    WriteFile(path, MakeJpeg(16, 16)); // no EXIF at all
    EXPECT_FALSE(exif::WriteOrientation(path, 3).ok());
}

// A turn renames a new file over the photo while the orientation write waits for its lock: the
// write lands on the photo the name now holds, not on the file that was replaced.
TEST(WriteOrientation, WaitsForATurnAndWritesTheFileThatTookThePhotosPlace) {
    TempDir dir;
    ExifSpec spec;
    spec.orientation = 6;
    const std::string path = dir.file("a.jpg");
    WriteFile(path, MakeJpegWithExif(16, 16, spec));
    int holder = ::open(path.c_str(), O_RDONLY);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, LOCK_EX), 0);
    platform::LockWait wait;
    wait.total = std::chrono::seconds(20); // ends at once: the holder lets go when told of the wait
    wait.step = std::chrono::milliseconds(1);
    wait.onBusy = [&] {
        spec.orientation = 8;
        WriteFile(dir.file("new.jpg"), MakeJpegWithExif(16, 16, spec));
        ASSERT_EQ(::rename(dir.file("new.jpg").c_str(), path.c_str()), 0);
        ::close(holder); // the replaced file, unlocked
        holder = -1;
    };
    EXPECT_TRUE(exif::WriteOrientation(path, 3, wait).ok());
    EXPECT_EQ(holder, -1);
    EXPECT_EQ(exif::OrientationOf(exif::ReadJpegExif(ReadFile(path))), 3);
}

TEST(WriteOrientation, AgreesWithExiftool) {
    TempDir dir;
    for (ByteOrder order : {ByteOrder::Little, ByteOrder::Big}) {
        ExifSpec spec;
        spec.order = order;
        spec.orientation = 8;
        const std::string path = dir.file(order == ByteOrder::Little ? "ii.jpg" : "mm.jpg");
        WriteFile(path, MakeJpegWithExif(32, 16, spec));
        EXPECT_TRUE(exif::WriteOrientation(path, 3).ok());
        EXPECT_EQ(RunCommand("exiftool -s3 -n -IFD0:Orientation " + path), "3\n");
    }
}
