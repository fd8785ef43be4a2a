// SPDX-License-Identifier: GPL-3.0-or-later
#include "jpeg/segments.h"
#include "jpeg/turbo.h"
#include "support/jpeg_factory.h"
#include "support/temp_dir.h"

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <utility>

using namespace testing_support;

namespace {

std::vector<std::uint8_t> Markers(const std::vector<jpeg::Segment>& segments) {
    std::vector<std::uint8_t> out;
    for (const auto& s : segments)
        out.push_back(s.marker);
    return out;
}

Bytes Progressive(const Bytes& baseline) {
    const jpeg::TjHandle handle = jpeg::MakeTransformer();
    unsigned char* dst = nullptr;
    unsigned long size = 0;
    tjtransform xform{};
    xform.options = TJXOPT_PROGRESSIVE;
    EXPECT_EQ(
        tjTransform(handle.get(), baseline.data(), baseline.size(), 1, &dst, &size, &xform, 0), 0);
    const jpeg::TjBuffer owned(dst);
    return Bytes(dst, dst + size);
}

std::optional<std::uint64_t> EndOf(const Bytes& bytes) {
    jpeg::SpanSource source(bytes);
    return jpeg::EndOfImage(source);
}

} // namespace

TEST(Segments, GivesEachSegmentUpToTheScanWithItsBounds) {
    const Bytes app1 = MakeApp1(MakeTiff(ExifSpec{}));
    const Bytes file = InsertAfterSoi(MakeJpeg(16, 16), app1);
    jpeg::SpanSource source(file);
    const auto segments = jpeg::ReadSegments(source, jpeg::Strictness::Lenient);
    ASSERT_GE(segments.size(), 3u);
    EXPECT_EQ(segments.front().marker, jpeg::marker::App1);
    EXPECT_EQ(segments.front().offset, 2u);
    EXPECT_EQ(segments.front().payloadStart, 6u);
    EXPECT_EQ(segments.front().payloadEnd, 2 + app1.size());
    EXPECT_EQ(segments.back().marker, jpeg::marker::Sos);
    for (std::size_t i = 1; i < segments.size(); ++i)
        EXPECT_EQ(segments[i].offset, segments[i - 1].payloadEnd) << i; // no gaps, no overlaps
}

TEST(Segments, StrictRefusesAFillByteLenientSkipsIt) {
    const Bytes file = InsertAfterSoi(MakeJpeg(8, 8), {0xFF, 0xFF, 0xE1, 0x00, 0x04, 'a', 'b'});
    jpeg::SpanSource source(file);
    EXPECT_TRUE(jpeg::ReadSegments(source, jpeg::Strictness::Strict).empty());
    const auto lenient = jpeg::ReadSegments(source, jpeg::Strictness::Lenient);
    ASSERT_FALSE(lenient.empty());
    EXPECT_EQ(lenient[0].marker, jpeg::marker::App1);
    EXPECT_EQ(lenient[0].offset, 3u); // the FF right before the code
    EXPECT_EQ(lenient.back().marker, jpeg::marker::Sos);
}

TEST(Segments, ALengthPastTheEndIsTheLastSegmentAndIsClamped) {
    for (auto strictness : {jpeg::Strictness::Strict, jpeg::Strictness::Lenient}) {
        const Bytes file{0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x04, 0,
                         0,    0xFF, 0xE1, 0x01, 0x00, 'E',  'x'};
        jpeg::SpanSource source(file);
        jpeg::SegmentWalker walker(source, strictness);
        ASSERT_TRUE(walker.next());
        const auto cut = walker.next();
        ASSERT_TRUE(cut);
        EXPECT_TRUE(cut->truncated);
        EXPECT_EQ(cut->payloadEnd, file.size());
        EXPECT_FALSE(walker.next());
        EXPECT_FALSE(walker.reachedScan());
    }
    for (const Bytes& bad : {Bytes{}, Bytes{0xFF}, Bytes{0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x01, 0, 0},
                             Bytes{0xFF, 0xD8, 0x00, 0xE0}, Bytes{0xFF, 0xD8, 0xFF, 0xD9}}) {
        jpeg::SpanSource source(bad);
        EXPECT_TRUE(jpeg::ReadSegments(source, jpeg::Strictness::Lenient).empty());
    }
}

TEST(Segments, FindsTheImageEndBeforeTrailingBytes) {
    const Bytes baseline = MakeJpeg(64, 48);
    const Bytes progressive = Progressive(baseline);
    ASSERT_GT(progressive.size(), 100u);
    for (const Bytes& image : {baseline, progressive, MakeJpegWithExif(40, 40, ExifSpec{})}) {
        EXPECT_EQ(EndOf(image), image.size());
        // A trailer that itself looks like a JPEG, or holds an EOI of its own.
        Bytes trailed = image;
        const Bytes trailer{0xFF, 0xD8, 0xFF, 0xD9, 'x', 0xFF, 0xD9};
        trailed.insert(trailed.end(), trailer.begin(), trailer.end());
        EXPECT_EQ(EndOf(trailed), image.size());
        EXPECT_FALSE(EndOf(Bytes(image.begin(), image.end() - 2))) << "no EOI";
    }
    // Several scans: the end is found after the last of them.
    jpeg::SpanSource source(progressive);
    std::size_t scans = 0;
    for (std::size_t i = 0; i + 1 < progressive.size(); ++i)
        scans += progressive[i] == 0xFF && progressive[i + 1] == jpeg::marker::Sos;
    EXPECT_GT(scans, 1u);
}

TEST(Segments, EntropyDataKeepsStuffedBytesAndRestartMarkers) {
    // SOI, a minimal SOS header, then data with FF00 and a restart marker before EOI.
    const Bytes file{0xFF, 0xD8, 0xFF, 0xDA, 0x00, 0x03, 0x00, 0x12, 0xFF,
                     0x00, 0x34, 0xFF, 0xD3, 0x56, 0xFF, 0xFF, 0xD9, 0xAA};
    EXPECT_EQ(EndOf(file), file.size() - 1);
}

TEST(Segments, FindsTheEndThroughEntropyDataLongerThanAReadWindow) {
    // The data is read 64 KiB at a time from its first byte (7), then from where a marker's
    // second byte falls: a stuffed byte, a restart marker and the EOI each split across an edge.
    constexpr std::size_t kWindow = 65536, kFirst = 7;
    Bytes file{0xFF, 0xD8, 0xFF, 0xDA, 0x00, 0x03, 0x00};
    file.resize(kFirst + 3 * kWindow + 1, 0x12);
    for (const auto& [edge, code] : {std::pair{kFirst + kWindow, 0x00},
                                     {kFirst + 2 * kWindow, 0xD5},
                                     {kFirst + 3 * kWindow, 0xD9}})
        file[edge - 1] = 0xFF, file[edge] = std::uint8_t(code);
    const std::size_t end = kFirst + 3 * kWindow + 1;
    file.insert(file.end(), {0x34, 0xFF, 0xD9}); // a trailer with an EOI look-alike
    EXPECT_EQ(EndOf(file), end);
    // Without its EOI the data has no end, whatever follows far away.
    file[end - 2] = 0x12;
    file.resize(end + 1);
    EXPECT_FALSE(EndOf(file));
}

TEST(Segments, ReadsAFileAtOffsets) {
    TempDir dir;
    const Bytes image = MakeJpegWithExif(32, 32, ExifSpec{});
    const std::string path = dir.file("a.jpg");
    Bytes trailed = image;
    trailed.resize(image.size() + 70000, 0x55);
    WriteFile(path, trailed);
    const int fd = ::open(path.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    jpeg::FdSource source(fd, trailed.size());
    jpeg::SpanSource memory(trailed);
    const auto fromFile = jpeg::ReadSegments(source, jpeg::Strictness::Lenient);
    EXPECT_EQ(Markers(fromFile), Markers(jpeg::ReadSegments(memory, jpeg::Strictness::Lenient)));
    EXPECT_EQ(jpeg::EndOfImage(source), image.size());
    std::uint8_t byte = 0;
    EXPECT_FALSE(source.readAt(trailed.size(), &byte, 1));
    ::close(fd);
}
