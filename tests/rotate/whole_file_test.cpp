// SPDX-License-Identifier: GPL-3.0-or-later
// A turn keeps every byte that follows the main image: MPF images are turned with it and the
// index follows them; other trailers stay as they were at the end of the file.
#include "exif/exif_reader.h"
#include "exif/mpf.h"
#include "rotate/multi_picture.h"
#include "rotate/transform.h"
#include "support/english.h"
#include "support/jpeg_factory.h"
#include "support/temp_dir.h"

#include <algorithm>
#include <functional>
#include <gtest/gtest.h>
#include <set>
#include <sstream>

using namespace testing_support;
using jpeg::ByteOrder;

namespace {

const char* JpegtranAngle(rotate::QuarterTurns transform) {
    return transform == rotate::QuarterTurns::One   ? "90"
           : transform == rotate::QuarterTurns::Two ? "180"
                                                    : "270";
}

// Pixels of `jpeg` as jpegtran turns them: the reference for every image of the file.
Bytes TurnedByJpegtran(const TempDir& dir, const Bytes& jpeg, rotate::QuarterTurns transform,
                       int& w, int& h) {
    const std::string in = dir.file("ref-in.jpg"), out = dir.file("ref-out.jpg");
    WriteFile(in, jpeg);
    RunCommand("jpegtran -rotate " + std::string(JpegtranAngle(transform)) +
               " -trim -copy all -outfile " + out + " " + in);
    return DecodeRgb(ReadFile(out), w, h);
}

struct FoundIndex {
    std::size_t origin = 0;
    exif::MpfIndex index;
};

// The MPF index of the first image of `file`, read the simple way tests may.
std::optional<FoundIndex> IndexOf(const Bytes& file) {
    std::size_t pos = 2;
    while (pos + 4 <= file.size() && file[pos] == 0xFF && file[pos + 1] != 0xDA) {
        const std::size_t length = std::size_t(file[pos + 2]) << 8 | file[pos + 3];
        if (file[pos + 1] == 0xE2) {
            const auto index = exif::ParseMpfIndex({file.data() + pos + 4, length - 2});
            if (index) return FoundIndex{pos + 4 + exif::kMpfTiffStart, *index};
        }
        pos += 2 + length;
    }
    return std::nullopt;
}

Bytes ImageAt(const Bytes& file, const FoundIndex& found, std::size_t entry) {
    const exif::MpfEntry& e = found.index.entries[entry];
    const std::size_t begin = entry == 0 ? 0 : found.origin + e.offset;
    if (begin > file.size() || e.size > file.size() - begin) return {};
    return Bytes(file.begin() + std::ptrdiff_t(begin),
                 file.begin() + std::ptrdiff_t(begin + e.size));
}

// The tags exiftool finds, by group and name, without the ones a turn changes.
std::set<std::string> ExiftoolTags(const std::string& path) {
    std::set<std::string> tags;
    std::istringstream lines(RunCommand("exiftool -a -G1 -s " + path));
    for (std::string line; std::getline(lines, line);) {
        const auto colon = line.find(" :");
        if (colon == std::string::npos) continue;
        std::string tag = line.substr(0, colon);
        tag.erase(tag.find_last_not_of(' ') + 1);
        static const char* const kChanging[] = {
            "Orientation",     "ImageWidth",          "ImageHeight",     "ImageSize",
            "Megapixels",      "ExifImageWidth",      "ExifImageHeight", "ThumbnailImage",
            "ThumbnailLength", "ThumbnailOffset",     "FileSize",        "FileModifyDate",
            "FileAccessDate",  "FileInodeChangeDate", "FileName",        "Directory",
            "MPImageLength",   "MPImageStart",        "MPImage2",        "MPImage3",
            "Warning",         "FilePermissions"};
        bool changing = false;
        for (const char* name : kChanging)
            changing |= tag.find(name) != std::string::npos;
        if (!changing) tags.insert(tag);
    }
    return tags;
}

bool HasExiftool() {
    return !RunCommand("command -v exiftool").empty();
}

} // namespace

TEST(WholeFileTurn, GainMapAndPreviewAreTurnedAndTheIndexPointsAtThem) {
    TempDir dir;
    ExifSpec spec;
    spec.orientation = 6;
    spec.thumbnail = MakeJpeg(32, 24, Subsampling::S444, 80);
    const Bytes first = MakeJpegWithExif(64, 48, spec);
    const Bytes gainMap = MakeJpeg(32, 24, Subsampling::S444, 85),
                preview = MakeJpeg(48, 32, Subsampling::S420, 85);
    Bytes trailer(777);
    for (std::size_t i = 0; i < trailer.size(); ++i)
        trailer[i] = std::uint8_t(i * 31 + 7);
    for (ByteOrder order : {ByteOrder::Little, ByteOrder::Big}) {
        for (const rotate::QuarterTurns transform : rotate::kTransformValues) {
            const Bytes original =
                MakeMpfFile(first, {{gainMap, 0}, {preview, 0x00010002}}, order, trailer);
            const std::string path = dir.file("mpf.jpg");
            WriteFile(path, original);
            // exiftool is slow to start: one transform in each byte order is enough for it.
            const bool checkTags = transform == rotate::QuarterTurns::One && HasExiftool();
            const std::set<std::string> tagsBefore =
                checkTags ? ExiftoolTags(path) : std::set<std::string>{};
            const platform::Result result = rotate::TurnJpegFile(path, transform, std::uint16_t(1));
            ASSERT_TRUE(result.ok()) << English(result);
            const Bytes turned = ReadFile(path);

            const auto found = IndexOf(turned);
            ASSERT_TRUE(found);
            ASSERT_EQ(found->index.entries.size(), 3u);
            EXPECT_EQ(found->index.entries[1].attribute, 0u);
            EXPECT_EQ(found->index.entries[2].attribute, 0x00010002u);
            const Bytes sources[] = {first, gainMap, preview};
            for (std::size_t i = 0; i < 3; ++i) {
                int w = 0, h = 0, rw = 0, rh = 0;
                const Bytes pixels = DecodeRgb(ImageAt(turned, *found, i), w, h);
                ASSERT_FALSE(pixels.empty())
                    << "image " << i << " order " << int(order) << " transform " << int(transform);
                EXPECT_TRUE(pixels == TurnedByJpegtran(dir, sources[i], transform, rw, rh))
                    << "image " << i;
                EXPECT_EQ(w, rw);
                EXPECT_EQ(h, rh);
            }
            // The images lie one after the other and the trailer ends the file unchanged.
            const auto& e = found->index.entries;
            EXPECT_EQ(found->origin + e[1].offset, e[0].size);
            EXPECT_EQ(e[2].offset, e[1].offset + e[1].size);
            ASSERT_EQ(turned.size(), found->origin + e[2].offset + e[2].size + trailer.size());
            EXPECT_TRUE(std::equal(trailer.begin(), trailer.end(),
                                   turned.end() - std::ptrdiff_t(trailer.size())));
            EXPECT_EQ(exif::OrientationOf(exif::ReadJpegExif(turned)), 1);

            if (checkTags) {
                EXPECT_GE(tagsBefore.size(), 15u) << "exiftool reads the index and the EXIF block";
                const std::set<std::string> tagsAfter = ExiftoolTags(path);
                for (const std::string& tag : tagsBefore)
                    EXPECT_TRUE(tagsAfter.count(tag)) << tag << " lost";
                // exiftool extracts every image of the index.
                for (const char* tag :
                     {"-MPImage2", "-PreviewImage"}) { // a large thumbnail is a preview to exiftool
                    const std::string out = dir.file("extracted.jpg");
                    RunCommand("exiftool -b " + std::string(tag) + " " + path + " > " + out);
                    int w = 0, h = 0;
                    EXPECT_FALSE(DecodeRgb(ReadFile(out), w, h).empty()) << tag;
                }
            }
        }
    }
}

TEST(WholeFileTurn, BytesAfterTheImageThatAreNoIndexedImageStayAsTheyWere) {
    TempDir dir;
    const Bytes photo = MakeJpeg(64, 48);
    Bytes video(5000);
    for (std::size_t i = 0; i < video.size(); ++i)
        video[i] = std::uint8_t(i ^ (i >> 8));
    video[10] = 0xFF; // marker-like bytes in the trailer are just bytes
    video[11] = 0xD8;

    // A plain trailer, as a motion photo's video.
    Bytes withVideo = photo;
    withVideo.insert(withVideo.end(), video.begin(), video.end());
    // An index that cannot be parsed: it and what follows stay as they are.
    Bytes brokenIndex = MakeMpfFile(photo, {{MakeJpeg(16, 16)}}, ByteOrder::Little, video);
    const auto found = IndexOf(brokenIndex);
    ASSERT_TRUE(found);
    brokenIndex[found->origin + 8 + 2 + 8] = '9'; // the version
    const std::size_t trailerOfBroken = found->index.entries[0].size;
    ASSERT_FALSE(IndexOf(brokenIndex));

    for (const auto& [file, trailerStart] :
         {std::pair{withVideo, photo.size()}, std::pair{brokenIndex, trailerOfBroken}}) {
        const std::string path = dir.file("trailer.jpg");
        WriteFile(path, file);
        const platform::Result result =
            rotate::TurnJpegFile(path, rotate::QuarterTurns::One, std::nullopt);
        ASSERT_TRUE(result.ok()) << English(result);
        const Bytes turned = ReadFile(path);
        const std::size_t trailerSize = file.size() - trailerStart;
        ASSERT_GT(turned.size(), trailerSize);
        EXPECT_TRUE(std::equal(file.begin() + std::ptrdiff_t(trailerStart), file.end(),
                               turned.end() - std::ptrdiff_t(trailerSize)));
        int w = 0, h = 0;
        const Bytes main(turned.begin(), turned.end() - std::ptrdiff_t(trailerSize));
        EXPECT_FALSE(DecodeRgb(main, w, h).empty());
        EXPECT_EQ(w, 48);
    }
}

TEST(WholeFileTurn, AnImageThatCannotBeTurnedRefusesTheTurn) {
    TempDir dir;
    Bytes notAnImage{0xFF, 0xD8, 0xFF, 0xDB, 0x00, 0x04, 0x00};
    notAnImage.resize(600, 0x55);
    const Bytes truncated = [] {
        const Bytes whole = MakeJpeg(64, 64);
        return Bytes(whole.begin(), whole.begin() + std::ptrdiff_t(whole.size() / 2));
    }();
    for (const Bytes& bad : {notAnImage, truncated}) {
        const Bytes original =
            MakeMpfFile(MakeJpeg(64, 48), {{MakeJpeg(32, 32)}, {bad}}, ByteOrder::Big);
        const std::string path = dir.file("bad.jpg");
        WriteFile(path, original);
        const platform::Result refused =
            rotate::TurnJpegFile(path, rotate::QuarterTurns::One, std::uint16_t(1));
        EXPECT_FALSE(refused.ok());
        const std::string why = English(refused);
        EXPECT_NE(why.find("image"), std::string::npos) << why;
        EXPECT_EQ(ReadFile(path), original);
    }
}

TEST(WholeFileTurn, OrientationIsWrittenWhereTheReaderReadsItAndInTheXmp) {
    TempDir dir;
    ExifSpec first, second;
    first.orientation = 6;
    second.orientation = 8;
    const Bytes exif = MakeApp1(MakeTiff(first)), otherExif = MakeApp1(MakeTiff(second));
    for (bool elementForm : {false, true}) {
        const std::string packet = XmpPacketWithOrientation(6, elementForm);
        // XMP first, then two EXIF segments: the first EXIF one is the photo's.
        const Bytes photo = InsertAfterSoi(
            InsertAfterSoi(InsertAfterSoi(MakeJpeg(64, 48), otherExif), exif), MakeXmpApp1(packet));
        const std::string path = dir.file("xmp.jpg");
        WriteFile(path, photo);
        const platform::Result result =
            rotate::TurnJpegFile(path, rotate::QuarterTurns::One, std::uint16_t(1));
        ASSERT_TRUE(result.ok()) << English(result);
        const Bytes turned = ReadFile(path);
        EXPECT_EQ(exif::OrientationOf(exif::ReadJpegExif(turned)), 1);
        const std::string text(turned.begin(), turned.end());
        const std::string expected = XmpPacketWithOrientation(1, elementForm);
        EXPECT_NE(text.find(expected), std::string::npos)
            << "the packet keeps its length and says 1";
        EXPECT_EQ(text.find(packet), std::string::npos);
        // The second EXIF segment is not the photo's orientation and stays as it was.
        const Bytes otherTiff(otherExif.begin() + 10, otherExif.end());
        EXPECT_NE(text.find(std::string(otherTiff.begin(), otherTiff.end())), std::string::npos);
    }
}

TEST(WholeFileTurn, BytesAfterAnImageWhoseEndCannotBeFoundAreNeverDropped) {
    // A temporary marker (FF 01) has no length: the decoder steps over it, the segment walk
    // cannot, so the image's end is unknown and the trailer would go with the turn.
    TempDir dir;
    const Bytes photo = MakeJpeg(64, 48);
    Bytes file = InsertAfterSoi(photo, Bytes{0xFF, 0x01});
    const Bytes trailer(1024, 0x5A);
    file.insert(file.end(), trailer.begin(), trailer.end());
    const std::string path = dir.file("trailer.jpg");
    WriteFile(path, file);
    const platform::Result result =
        rotate::TurnJpegFile(path, rotate::QuarterTurns::One, std::nullopt);
    if (result.ok()) {
        const Bytes turned = ReadFile(path);
        ASSERT_GE(turned.size(), trailer.size());
        EXPECT_TRUE(std::equal(trailer.begin(), trailer.end(),
                               turned.end() - std::ptrdiff_t(trailer.size())))
            << "a turn that succeeds keeps the trailer";
    } else {
        EXPECT_EQ(ReadFile(path), file) << English(result);
    }
}

TEST(WholeFileTurn, AThumbnailPointerIntoTheDirectoriesNeverWipesThem) {
    TempDir dir;
    ExifSpec spec;
    spec.orientation = 6;
    spec.thumbnail = MakeJpeg(32, 24);
    Bytes file = InsertAfterSoi(MakeJpeg(64, 48), MakeApp1(MakeTiff(spec)));
    // Point the thumbnail (IFD1 0x0201, LONG, count 1) at the TIFF header.
    const Bytes entry{0x01, 0x02, 0x04, 0x00, 0x01, 0x00, 0x00, 0x00};
    const auto at = std::search(file.begin(), file.end(), entry.begin(), entry.end());
    ASSERT_NE(at, file.end());
    std::fill(at + 8, at + 12, 0);
    const std::string path = dir.file("pointer.jpg");
    WriteFile(path, file);
    const platform::Result result =
        rotate::TurnJpegFile(path, rotate::QuarterTurns::One, std::uint16_t(1));
    ASSERT_TRUE(result.ok()) << English(result);
    EXPECT_EQ(exif::OrientationOf(exif::ReadJpegExif(ReadFile(path))), 1)
        << "the directories are still there to read";
}

namespace {

// Sets the size and offset of index entry `entry` of the first image of `file`.
void SetEntry(Bytes& file, std::size_t entry, std::uint32_t size, std::uint32_t offset) {
    const auto found = IndexOf(file);
    ASSERT_TRUE(found);
    std::uint8_t* e = file.data() + found->origin - exif::kMpfTiffStart + found->index.entriesAt +
                      exif::kMpfEntrySize * entry;
    jpeg::Store32(e + 4, size, found->index.order);
    jpeg::Store32(e + 8, offset, found->index.order);
}

} // namespace

TEST(WholeFileTurn, AnIndexThatDoesNotMatchItsImagesRefusesTheTurn) {
    TempDir dir;
    const Bytes gainMap = MakeJpeg(32, 16, Subsampling::S444), preview = MakeJpeg(48, 32);
    for (ByteOrder order : {ByteOrder::Little, ByteOrder::Big}) {
        const Bytes good =
            MakeMpfFile(MakeJpeg(64, 48), {{gainMap}, {preview}}, order, Bytes(300, 0x33));
        const auto found = IndexOf(good);
        ASSERT_TRUE(found);
        const auto& e = found->index.entries;
        const std::uint32_t end = std::uint32_t(good.size() - found->origin);
        const std::pair<const char*, std::function<void(Bytes&)>> breaks[] = {
            {"an empty image", [&](Bytes& f) { SetEntry(f, 1, 0, e[1].offset); }},
            {"past the end", [&](Bytes& f) { SetEntry(f, 2, e[2].size, end + 10); }},
            {"running past the end", [&](Bytes& f) { SetEntry(f, 2, end, e[2].offset); }},
            {"inside the main image", [&](Bytes& f) { SetEntry(f, 1, e[1].size, 20); }},
            {"overlapping", [&](Bytes& f) { SetEntry(f, 2, e[1].size + 50, e[1].offset); }},
            {"not at an SOI", [&](Bytes& f) { SetEntry(f, 2, e[2].size - 1, e[2].offset + 1); }},
            {"a main image elsewhere", [&](Bytes& f) { SetEntry(f, 0, e[0].size, 16); }},
        };
        for (const auto& [what, change] : breaks) {
            Bytes broken = good;
            change(broken);
            const std::string path = dir.file("broken.jpg");
            WriteFile(path, broken);
            const platform::Result refused =
                rotate::TurnJpegFile(path, rotate::QuarterTurns::One, std::uint16_t(1));
            EXPECT_FALSE(refused.ok()) << what;
            EXPECT_NE(English(refused).find("multi-picture index does not match"),
                      std::string::npos)
                << what << ": " << English(refused);
            EXPECT_EQ(ReadFile(path), broken) << what;
        }
    }
}

TEST(WholeFileTurn, AnIndexOfTheMainImageAloneFollowsItsNewSize) {
    TempDir dir;
    const Bytes original = MakeMpfFile(MakeJpeg(64, 48), {}, ByteOrder::Big);
    const std::string path = dir.file("single.jpg");
    WriteFile(path, original);
    const platform::Result result =
        rotate::TurnJpegFile(path, rotate::QuarterTurns::One, std::uint16_t(1));
    ASSERT_TRUE(result.ok()) << English(result);
    const Bytes turned = ReadFile(path);
    const auto found = IndexOf(turned);
    ASSERT_TRUE(found);
    ASSERT_EQ(found->index.entries.size(), 1u);
    EXPECT_EQ(found->index.entries[0].size, turned.size());
    EXPECT_NE(turned.size(), original.size());
}

namespace {

// The Item:Length values of the first XMP packet of `file`, in order.
std::vector<std::uint64_t> ItemLengths(const Bytes& file) {
    const std::string text(file.begin(), file.end());
    std::vector<std::uint64_t> lengths;
    const std::size_t end = text.find("</Container:Directory>");
    for (std::size_t at = text.find("Item:Length"); at < end;
         at = text.find("Item:Length", at + 1)) {
        const std::size_t digits = text.find_first_of("0123456789", at);
        if (digits < end && digits - at <= 13) // ="..." or >...
            lengths.push_back(std::stoull(text.substr(digits, 20)));
    }
    return lengths;
}

Bytes GainMapPhoto(const Bytes& gainMap, bool elementForm, const std::string& padding = {}) {
    std::string packet = ContainerDirectoryPacket({gainMap.size()}, elementForm);
    packet.insert(packet.rfind("<?xpacket end"), padding);
    const Bytes main = InsertAfterSoi(MakeJpeg(64, 48), MakeXmpApp1(packet));
    return MakeMpfFile(main, {{gainMap}}, ByteOrder::Little);
}

} // namespace

TEST(WholeFileTurn, TheXmpContainerDirectoryGivesTheTurnedGainMapsLength) {
    TempDir dir;
    const Bytes gainMap = MakeJpeg(40, 24, Subsampling::S444, 85);
    for (bool elementForm : {false, true}) {
        for (const rotate::QuarterTurns transform : rotate::kTransformValues) {
            const Bytes original = GainMapPhoto(gainMap, elementForm);
            ASSERT_EQ(ItemLengths(original), std::vector<std::uint64_t>{gainMap.size()});
            const std::string path = dir.file("hdr.jpg");
            WriteFile(path, original);
            const platform::Result result = rotate::TurnJpegFile(path, transform, std::uint16_t(1));
            ASSERT_TRUE(result.ok()) << English(result);
            const Bytes turned = ReadFile(path);
            const auto found = IndexOf(turned);
            ASSERT_TRUE(found);
            const auto& e = found->index.entries;
            ASSERT_EQ(e.size(), 2u);
            const Bytes turnedGainMap = ImageAt(turned, *found, 1);
            ASSERT_GE(turnedGainMap.size(), 2u);
            EXPECT_EQ(turnedGainMap[0], 0xFF);
            EXPECT_EQ(turnedGainMap[1], 0xD8);
            EXPECT_NE(turnedGainMap.size(), gainMap.size()) << "a turn recodes the gain map";
            EXPECT_EQ(ItemLengths(turned), std::vector<std::uint64_t>{turnedGainMap.size()})
                << "element form " << elementForm << " transform " << int(transform);
            // Readers find the gain map right after the main image, at the length the XMP says.
            EXPECT_EQ(found->origin + e[1].offset, e[0].size);
            EXPECT_EQ(e[0].size + e[1].size, turned.size());
            int w = 0, h = 0;
            EXPECT_FALSE(DecodeRgb(ImageAt(turned, *found, 0), w, h).empty());
            if (transform == rotate::QuarterTurns::One && elementForm && HasExiftool()) {
                const std::string listed =
                    RunCommand("exiftool -s3 -XMP:DirectoryItemLength " + path);
                EXPECT_NE(listed.find(std::to_string(turnedGainMap.size())), std::string::npos)
                    << listed;
            }
        }
    }
}

TEST(WholeFileTurn, ALengthOfOtherDigitsResizesTheXmpSegmentWithinItsBound) {
    // A gain map padded to 999 bytes that a turn makes 1000: one digit more.
    Bytes gainMap = MakeJpeg(16, 16);
    ASSERT_LT(gainMap.size(), 999u);
    gainMap.resize(999, 0);
    const rotate::ImageTurn growGainMap = [&](std::span<const std::uint8_t> image, Bytes& out) {
        out.assign(image.begin(), image.end());
        if (image.size() == gainMap.size()) out.resize(1000, 0);
        return platform::Result{};
    };
    const Bytes fits = GainMapPhoto(gainMap, false);
    Bytes out;
    ASSERT_TRUE(rotate::TurnWholeFile(fits, growGainMap, out).ok());
    EXPECT_EQ(ItemLengths(out), std::vector<std::uint64_t>{1000});
    const auto found = IndexOf(out);
    ASSERT_TRUE(found) << "the segments still chain up to the index";
    EXPECT_EQ(found->index.entries[1].size, 1000u);
    EXPECT_EQ(ImageAt(out, *found, 1).size(), 1000u);
    EXPECT_EQ(out.size(), fits.size() + 2);
    int w = 0, h = 0;
    EXPECT_FALSE(DecodeRgb(ImageAt(out, *found, 0), w, h).empty());

    // A packet that already fills its segment to the last byte cannot take the digit.
    const std::size_t packetSize = ContainerDirectoryPacket({999}, false).size();
    const std::size_t room = 0xFFFF - 2 - 29;
    const Bytes full = GainMapPhoto(gainMap, false, std::string(room - packetSize, ' '));
    const platform::Result refused = rotate::TurnWholeFile(full, growGainMap, out);
    EXPECT_FALSE(refused.ok());
    EXPECT_NE(English(refused).find("XMP"), std::string::npos) << English(refused);
}
