// SPDX-License-Identifier: GPL-3.0-or-later
#include "exif/exif_format.h"
#include "exif/exif_reader.h"
#include "exif/jpeg_header.h"
#include "support/jpeg_factory.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>
#include <map>
#include <sstream>

using namespace testing_support;
using jpeg::ByteOrder;

namespace {

ExifSpec CameraSpec(ByteOrder o) {
    ExifSpec spec;
    spec.order = o;
    spec.orientation = 6;
    spec.ifd0.push_back({0x010F, 2, 8, Ascii("Panacam")});
    spec.ifd0.push_back({0x0110, 2, 8, Ascii("DMC-FZ8")});
    spec.ifd0.push_back({0x011A, 5, 1, Rational(72, 1, o)});
    spec.exif.push_back({0x829A, 5, 1, Rational(1, 250, o)});
    spec.exif.push_back({0x829D, 5, 1, Rational(28, 10, o)});
    spec.exif.push_back({0x9204, 10, 1, Rational(std::uint32_t(-1), 3, o)});
    Bytes flash = U16(16, o);
    flash.resize(4);
    spec.exif.push_back({0x9209, 3, 1, flash});
    spec.ifd1Orientation = 1; // must never pose as the primary orientation
    spec.thumbnail = MakeJpeg(16, 12);
    return spec;
}

std::map<std::string, std::string> RowMap(const exif::ExifData& data) {
    std::map<std::string, std::string> rows;
    for (const auto& row : exif::ExifRows(data))
        rows[row.label] = row.value;
    return rows;
}

} // namespace

TEST(ExifReader, ReadsBothByteOrdersIntoHostOrder) {
    for (ByteOrder o : {ByteOrder::Little, ByteOrder::Big}) {
        const Bytes file = MakeJpegWithExif(32, 32, CameraSpec(o));
        const exif::ExifData data = exif::ReadJpegExif(file);
        EXPECT_EQ(exif::OrientationOf(data), 6) << "IFD1's orientation is kept apart";
        auto rows = RowMap(data);
        EXPECT_EQ(rows["Digicam model"], "DMC-FZ8");
        EXPECT_EQ(rows["F-number"], "2.8");
        EXPECT_EQ(rows["Exposure time (sec)"], "1/250");
        EXPECT_EQ(rows["X-Resolution"], "72");
        EXPECT_EQ(rows["Exposure bias value (Exposure compensation)"], "-0.333333333333333");
        EXPECT_EQ(rows["Flash"], "Flash did not fire, compulsory flash mode");
        ASSERT_GT(data.thumbnailLength, 0u);
        EXPECT_EQ(data.thumbnailLength, CameraSpec(o).thumbnail.size());
    }
}

TEST(ExifReader, MalformedBlocksAreReadWithinBounds) {
    const Bytes good = MakeJpegWithExif(16, 16, CameraSpec(ByteOrder::Little));
    // Every truncation and a sweep of corrupted bytes: no crash, no read outside the buffer
    // (the sanitizer build checks the latter).
    for (std::size_t n = 0; n < 400 && n < good.size(); ++n) {
        const Bytes cut(good.begin(), good.begin() + std::ptrdiff_t(n));
        (void)exif::ReadJpegExif(cut);
    }
    for (std::size_t i = 12; i < 300; ++i) {
        for (std::uint8_t v : {0x00, 0x7F, 0xFF}) {
            Bytes bad = good;
            bad[i] = v;
            const auto data = exif::ReadJpegExif(bad);
            for (const auto& item : data.items)
                EXPECT_LE(item.value.size(), 65536u);
        }
    }
    // An Exif pointer back at IFD0: each directory is read once.
    Bytes cyclic = good;
    const std::size_t exifPointerField = 12 + 8 + 2 + 12 * 4 + 8;
    ASSERT_EQ(jpeg::Load16(&cyclic[exifPointerField - 8], ByteOrder::Little), 0x8769);
    jpeg::Store32(&cyclic[exifPointerField], 8, ByteOrder::Little);
    const exif::ExifData data = exif::ReadJpegExif(cyclic);
    EXPECT_EQ(data.items.size(), 5u);
}

TEST(ExifReader, ExifAfterOtherSegmentsAndFillBytes) {
    const Bytes app1 = MakeApp1(MakeTiff(CameraSpec(ByteOrder::Big)));
    Bytes file = InsertAfterSoi(MakeJpeg(8, 8), app1);
    file = InsertAfterSoi(
        file, {0xFF, 0xFF, 0xE1, 0x00, 0x06, 'h', 't', 't', 'p'}); // XMP-like, fill byte
    EXPECT_EQ(exif::OrientationOf(exif::ReadJpegExif(file)), 6);
}

TEST(ExifReader, RowsAgreeWithExiftool) {
    TempDir dir;
    for (ByteOrder o : {ByteOrder::Little, ByteOrder::Big}) {
        const std::string path = dir.file(o == ByteOrder::Little ? "ii.jpg" : "mm.jpg");
        WriteFile(path, MakeJpeg(64, 48));
        // exiftool writes the block itself; we read it back.
        RunCommand("exiftool -q -overwrite_original " +
                   std::string(o == ByteOrder::Big ? "-ExifByteOrder=MM " : "-ExifByteOrder=II ") +
                   "-EXIF:Make=Panacam -EXIF:Model=DMC-FZ8 -EXIF:Orientation#=8 "
                   "-EXIF:ExposureTime=0.004 -EXIF:FNumber=2.8 "
                   "-EXIF:FocalLength=6.3 -EXIF:Flash#=16 -EXIF:ISO=200 -EXIF:MeteringMode#=5 " +
                   path);
        const auto rows = RowMap(exif::ReadJpegExif(exif::ReadJpegHeader(path)));
        std::istringstream tool(
            RunCommand("exiftool -s3 -n -EXIF:Model -EXIF:Orientation -EXIF:FNumber "
                       "-EXIF:FocalLength -EXIF:Flash -EXIF:ISO -EXIF:MeteringMode " +
                       path));
        std::string model, orientation, fnumber, focal, flash, iso, metering;
        tool >> model >> orientation >> fnumber >> focal >> flash >> iso >> metering;
        EXPECT_EQ(rows.at("Digicam model"), model);
        EXPECT_EQ(orientation, "8");
        EXPECT_EQ(rows.at("Orientation"), "Rotate 90 CW");
        EXPECT_EQ(rows.at("F-number"), "2.8");
        EXPECT_EQ(rows.at("F-number"),
                  fnumber + (fnumber.find('.') == std::string::npos ? ".0" : ""));
        EXPECT_EQ(rows.at("Actual focal length (mm)"), focal);
        EXPECT_EQ(rows.at("CCD sensitivity (ISO)"), iso);
        EXPECT_EQ(flash, "16");
        EXPECT_EQ(rows.at("Flash"), "Flash did not fire, compulsory flash mode");
        EXPECT_EQ(metering, "5");
        EXPECT_EQ(rows.at("Metering mode"), "Multi-segment");
        EXPECT_EQ(rows.at("Exposure time (sec)"), "1/250");
    }
}

TEST(ExifReader, RegressionsFoundByFuzzing) {
    // An APP1 length of 6 that ends before the TIFF header it announces.
    const Bytes shortSegment{0xff, 0xd8, 0xff, 0xe1, 0x00, 0x06, 'E',  'x', 'i', 'f',
                             0,    0,    'M',  'M',  0,    '*',  0xff, ';', 0,   'I'};
    EXPECT_FALSE(exif::FindExifSegment(shortSegment));
    EXPECT_TRUE(exif::ReadJpegExif(shortSegment).items.empty());
}
