// SPDX-License-Identifier: GPL-3.0-or-later
#include "rotate/lossless_turn.h"
#include "support/english.h"
#include "support/jpeg_factory.h"
#include "support/temp_dir.h"

#include <jpeglib.h>
#include <turbojpeg.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

using namespace testing_support;
using rotate::LosslessTurn;
using Kind = platform::Result::Kind;

namespace {

// ---- photos --------------------------------------------------------------------------------

// A PPM with edges, gradients and texture, so that every frequency of the blocks carries data.
Bytes MakePpm(int w, int h) {
    const std::string header = "P6\n" + std::to_string(w) + " " + std::to_string(h) + "\n255\n";
    Bytes ppm(header.begin(), header.end());
    std::uint32_t noise = 12345;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            noise = noise * 1103515245u + 12345u;
            const int grain = int((noise >> 16) & 31);
            const bool corner = x < w / 2 && y < h / 3;
            ppm.push_back(
                std::uint8_t(corner ? 230 + grain / 2 : x * 200 / std::max(1, w) + grain));
            ppm.push_back(std::uint8_t(corner ? 20 : y * 200 / std::max(1, h) + grain));
            ppm.push_back(std::uint8_t(((x / 3) ^ (y / 5)) * 9 + grain));
        }
    return ppm;
}

struct PhotoKind {
    const char* name;
    const char* cjpegOptions; // nullptr: made otherwise (see MakePhoto)
};

const PhotoKind kKinds[] = {
    {"baseline 4:2:0", "-sample 2x2"},
    {"progressive 4:2:0", "-sample 2x2 -progressive"},
    {"4:2:2", "-sample 2x1"},
    {"4:4:4 progressive", "-sample 1x1 -progressive"},
    {"4:4:0", "-sample 1x2"},
    {"4:1:1", "-sample 4x1"},
    {"asymmetric 2x1,1x2,1x1", "-sample 2x1,1x2,1x1"},
    {"grayscale", "-grayscale"},
    {"grayscale progressive", "-grayscale -progressive"},
    {"arithmetic 4:2:0", "-sample 2x2 -arithmetic"},
    {"CMYK", nullptr},
    {"YCCK 4:2:0", nullptr},
};

// cjpeg writes a JFIF segment; ImageMagick writes CMYK with an Adobe segment; TurboJPEG turns
// CMYK into YCCK.
Bytes MakePhoto(const TempDir& dir, const PhotoKind& kind, int w, int h, bool optimize = false) {
    const std::string ppm = dir.file("source.ppm"), jpg = dir.file("source.jpg");
    WriteFile(ppm, MakePpm(w, h));
    const std::string name = kind.name;
    // Arithmetic coding adapts by itself: it has no tables to optimize.
    if (kind.cjpegOptions &&
        std::string(kind.cjpegOptions).find("-arithmetic") != std::string::npos)
        optimize = false;
    if (kind.cjpegOptions) {
        RunCommand("cjpeg -quality 88 " + std::string(optimize ? "-optimize " : "") +
                   kind.cjpegOptions + " -outfile " + jpg + " " + ppm);
    } else if (name == "CMYK") {
        RunCommand("convert " + ppm + " -colorspace CMYK -quality 88 -sampling-factor 1x1 " + jpg);
    } else {
        const Bytes rgb(MakePpm(w, h));
        Bytes cmyk;
        for (std::size_t i = rgb.size() - std::size_t(w) * h * 3; i < rgb.size(); i += 3)
            cmyk.insert(cmyk.end(), {std::uint8_t(255 - rgb[i]), std::uint8_t(255 - rgb[i + 1]),
                                     std::uint8_t(255 - rgb[i + 2]), std::uint8_t(rgb[i] / 2)});
        tjhandle handle = tjInitCompress();
        unsigned char* out = nullptr;
        unsigned long size = 0;
        const int rc =
            tjCompress2(handle, cmyk.data(), w, 0, h, TJPF_CMYK, &out, &size, TJSAMP_420, 88, 0);
        Bytes bytes = rc == 0 ? Bytes(out, out + size) : Bytes();
        tjFree(out);
        tjDestroy(handle);
        return bytes;
    }
    return ReadFile(jpg);
}

// ---- reading the results -------------------------------------------------------------------

struct Picture {
    int width = 0, height = 0, channels = 0;
    Bytes samples; // in the photo's own colour space: gray, RGB or CMYK
};

struct DecodeErrors {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

// libjpeg rather than TurboJPEG: TurboJPEG decodes none of the unusual samplings.
Picture Decode(const Bytes& jpeg) {
    jpeg_decompress_struct cinfo{};
    DecodeErrors errors;
    cinfo.err = jpeg_std_error(&errors.pub);
    errors.pub.error_exit = [](j_common_ptr c) {
        std::longjmp(reinterpret_cast<DecodeErrors*>(c->err)->jump, 1);
    };
    errors.pub.output_message = [](j_common_ptr) {};
    const auto owner = std::make_unique<Picture>(); // made before the jump point
    Picture* picture = owner.get();
    if (setjmp(errors.jump)) {
        jpeg_destroy_decompress(&cinfo);
        return {};
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, jpeg.data(), static_cast<unsigned long>(jpeg.size()));
    jpeg_read_header(&cinfo, TRUE);
    jpeg_start_decompress(&cinfo);
    picture->width = int(cinfo.output_width);
    picture->height = int(cinfo.output_height);
    picture->channels = cinfo.output_components;
    picture->samples.resize(std::size_t(cinfo.output_width) * cinfo.output_height *
                            cinfo.output_components);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = picture->samples.data() + std::size_t(cinfo.output_scanline) *
                                                     cinfo.output_width * cinfo.output_components;
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return *picture;
}

struct Segment {
    std::uint8_t marker;
    Bytes payload;
    bool operator==(const Segment&) const = default;
};

// The segments ahead of the first scan.
std::vector<Segment> SegmentsOf(const Bytes& jpeg) {
    std::vector<Segment> segments;
    std::size_t at = 2;
    while (at + 4 <= jpeg.size() && jpeg[at] == 0xFF) {
        const std::uint8_t marker = jpeg[at + 1];
        const std::size_t length = std::size_t(jpeg[at + 2]) << 8 | jpeg[at + 3];
        if (length < 2 || at + 2 + length > jpeg.size()) break;
        segments.push_back(
            {marker, Bytes(jpeg.begin() + long(at) + 4, jpeg.begin() + long(at + 2 + length))});
        if (marker == 0xDA) break;
        at += 2 + length;
    }
    return segments;
}

std::vector<Segment> MetadataOf(const Bytes& jpeg) {
    std::vector<Segment> kept;
    for (const Segment& s : SegmentsOf(jpeg))
        if ((s.marker >= 0xE0 && s.marker <= 0xEF) || s.marker == 0xFE) kept.push_back(s);
    return kept;
}

std::uint8_t FrameMarkerOf(const Bytes& jpeg) {
    for (const Segment& s : SegmentsOf(jpeg))
        if (s.marker >= 0xC0 && s.marker <= 0xCF && s.marker != 0xC4 && s.marker != 0xC8 &&
            s.marker != 0xCC)
            return s.marker;
    return 0;
}

bool IsProgressive(const Bytes& jpeg) {
    const std::uint8_t m = FrameMarkerOf(jpeg);
    return m == 0xC2 || m == 0xC6 || m == 0xCA;
}

// Everything from the first DQT on: tables and compressed data, without the segments copied.
Bytes CodedPart(const Bytes& jpeg) {
    for (std::size_t i = 2; i + 1 < jpeg.size(); ++i)
        if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xDB)
            return Bytes(jpeg.begin() + long(i), jpeg.end());
    return {};
}

Bytes MakeSegment(std::uint8_t marker, const std::string& payload) {
    Bytes s(4 + payload.size());
    s[0] = 0xFF;
    s[1] = marker;
    s[2] = std::uint8_t((payload.size() + 2) >> 8);
    s[3] = std::uint8_t((payload.size() + 2) & 0xFF);
    std::copy(payload.begin(), payload.end(), s.begin() + 4);
    return s;
}

// The photo without its segments (SOI followed directly by the tables).
Bytes WithoutMetadata(const Bytes& jpeg) {
    Bytes out{0xFF, 0xD8};
    const Bytes coded = CodedPart(jpeg);
    out.insert(out.end(), coded.begin(), coded.end());
    return out;
}

Bytes Turned(const Bytes& jpeg, rotate::QuarterTurns turns) {
    const auto result = LosslessTurn(jpeg, turns);
    EXPECT_TRUE(result.ok()) << English(result.result);
    return result.bytes;
}

const char* Angle(rotate::QuarterTurns turns) {
    return turns == rotate::QuarterTurns::One   ? "90"
           : turns == rotate::QuarterTurns::Two ? "180"
                                                : "270";
}

} // namespace

TEST(LosslessTurn, SamePixelsAsJpegtranForEverySampling) {
    TempDir dir;
    for (const PhotoKind& kind : kKinds) {
        // Sides that are no whole number of iMCUs, so every turn trims; and a side shorter than
        // one iMCU, where jpegtran turns the partial blocks only partly.
        for (auto [w, h] : {std::pair{83, 61}, std::pair{72, 13}}) {
            const Bytes original = MakePhoto(dir, kind, w, h);
            ASSERT_FALSE(original.empty()) << kind.name;
            WriteFile(dir.file("in.jpg"), original);
            for (const rotate::QuarterTurns turns : rotate::kTransformValues) {
                const std::string theirs = dir.file("theirs.jpg");
                RunCommand(std::string("jpegtran -rotate ") + Angle(turns) +
                           " -trim -copy all -outfile " + theirs + " " + dir.file("in.jpg"));
                const auto ours = LosslessTurn(original, turns);
                ASSERT_TRUE(ours.ok()) << kind.name << ": " << English(ours.result);
                const Picture a = Decode(ours.bytes), b = Decode(ReadFile(theirs));
                const std::string what = std::string(kind.name) + " " + std::to_string(w) + "x" +
                                         std::to_string(h) + " by " + Angle(turns);
                ASSERT_FALSE(a.samples.empty()) << what;
                EXPECT_EQ(a.width, b.width) << what;
                EXPECT_EQ(a.height, b.height) << what;
                EXPECT_EQ(ours.width, a.width) << what;
                EXPECT_EQ(ours.height, a.height) << what;
                EXPECT_EQ(a.channels, b.channels) << what;
                EXPECT_TRUE(a.samples == b.samples) << what;
                EXPECT_EQ(IsProgressive(ours.bytes), IsProgressive(original)) << what;
                EXPECT_EQ(MetadataOf(ours.bytes), MetadataOf(original)) << what;
                // jpegtran writes sequential Huffman coding whatever it reads; from a photo coded
                // so, its optimized tables and data are ours, byte for byte.
                const std::uint8_t frame = FrameMarkerOf(original);
                if (frame == 0xC0 || frame == 0xC1) {
                    RunCommand(std::string("jpegtran -rotate ") + Angle(turns) +
                               " -trim -optimize -outfile " + theirs + " " + dir.file("in.jpg"));
                    ASSERT_FALSE(CodedPart(ours.bytes).empty()) << what;
                    EXPECT_TRUE(CodedPart(ours.bytes) == CodedPart(ReadFile(theirs))) << what;
                }
                // Progressive stays progressive with the script jpegtran writes too, and with
                // the tables of its optimizer, scan by scan.
                if (frame == 0xC2) {
                    RunCommand(std::string("jpegtran -rotate ") + Angle(turns) +
                               " -trim -progressive -optimize -outfile " + theirs + " " +
                               dir.file("in.jpg"));
                    ASSERT_FALSE(CodedPart(ours.bytes).empty()) << what;
                    EXPECT_TRUE(CodedPart(ours.bytes) == CodedPart(ReadFile(theirs))) << what;
                }
            }
        }
    }
}

TEST(LosslessTurn, KeepsTheCodingAndDoesNotGrow) {
    TempDir dir;
    // Whole iMCUs, so nothing is trimmed: the size changes only with the coding.
    for (const PhotoKind& kind : kKinds) {
        for (bool optimized : {false, true}) {
            const Bytes original = MakePhoto(dir, kind, 320, 240, optimized);
            ASSERT_FALSE(original.empty());
            for (const rotate::QuarterTurns turns : rotate::kTransformValues) {
                const Bytes turned = Turned(original, turns);
                const std::string what = std::string(kind.name) + (optimized ? " optimized" : "") +
                                         " by " + Angle(turns);
                EXPECT_EQ(FrameMarkerOf(turned), FrameMarkerOf(original)) << what;
                EXPECT_LE(double(turned.size()) / double(original.size()), 1.005)
                    << what << ": " << turned.size() << " vs " << original.size();
            }
        }
    }
}

TEST(LosslessTurn, FourRightTurnsEqualTheOriginalReEncoded) {
    TempDir dir;
    for (const PhotoKind& kind : kKinds) {
        const Bytes original = MakePhoto(dir, kind, 64, 64);
        const Bytes reEncoded = Turned(original, rotate::QuarterTurns::None);
        Bytes turned = original;
        for (int i = 0; i < 4; ++i)
            turned = Turned(turned, rotate::QuarterTurns::One);
        EXPECT_TRUE(turned == reEncoded) << kind.name;
        // Turning by zero is the identity of the pixels, too.
        EXPECT_TRUE(Decode(reEncoded).samples == Decode(original).samples) << kind.name;
    }
    // Sides that are no whole number of iMCUs: the first turns trim, after that nothing changes.
    const Bytes odd = MakePhoto(dir, kKinds[1], 83, 61);
    Bytes once = odd, twice;
    for (int i = 0; i < 4; ++i)
        once = Turned(once, rotate::QuarterTurns::One);
    twice = once;
    for (int i = 0; i < 4; ++i)
        twice = Turned(twice, rotate::QuarterTurns::One);
    EXPECT_TRUE(once == twice);
    EXPECT_TRUE(twice == Turned(once, rotate::QuarterTurns::None));
}

TEST(LosslessTurn, CopiesEverySegmentInOrderAndAddsNone) {
    TempDir dir;
    const Bytes photo = MakePhoto(dir, kKinds[0], 48, 32);
    const Bytes bare = WithoutMetadata(photo);
    ASSERT_TRUE(MetadataOf(bare).empty());
    Bytes withSegments{0xFF, 0xD8};
    for (const Bytes& s :
         {MakeSegment(0xE1, std::string("Exif\0\0II*\0", 10)),
          MakeSegment(0xE1, "http://ns.adobe.com/xap/1.0/\0<x/>"), MakeSegment(0xFE, "a comment"),
          MakeSegment(0xE2, "ICC_PROFILE\0\1\1data"), MakeSegment(0xED, "Photoshop 3.0\0"),
          MakeSegment(0xFE, ""), MakeSegment(0xEE, std::string("Adobe\0\x64\0\0\0\0\1", 12))})
        withSegments.insert(withSegments.end(), s.begin(), s.end());
    withSegments.insert(withSegments.end(), bare.begin() + 2, bare.end());

    for (const rotate::QuarterTurns turns : rotate::kTransformValues) {
        EXPECT_TRUE(MetadataOf(Turned(bare, turns)).empty()) << "no JFIF segment is added";
        EXPECT_EQ(MetadataOf(Turned(withSegments, turns)), MetadataOf(withSegments));
    }
    // Bytes after the end of the image would be lost with the turn: it refuses them, and the
    // whole-file turn hands over the image alone.
    Bytes trailer = photo;
    trailer.insert(trailer.end(), {'v', 'i', 'd', 'e', 'o'});
    EXPECT_FALSE(LosslessTurn(trailer, rotate::QuarterTurns::One).ok());
}

TEST(LosslessTurn, RefusesDamageButNotStrayBytesAheadOfTheScan) {
    TempDir dir;
    const Bytes photo = MakePhoto(dir, kKinds[0], 96, 64);
    const Bytes progressive = MakePhoto(dir, kKinds[1], 96, 64);

    // Stray bytes between two segments ahead of the scan: harmless.
    Bytes stray = photo;
    const std::size_t afterApp0 = 2 + 2 + (std::size_t(photo[4]) << 8 | photo[5]);
    stray.insert(stray.begin() + long(afterApp0), {0x00, 0x00, 0x17});
    const auto strayTurn = LosslessTurn(stray, rotate::QuarterTurns::One);
    ASSERT_TRUE(strayTurn.ok()) << English(strayTurn.result);
    EXPECT_TRUE(strayTurn.bytes == Turned(photo, rotate::QuarterTurns::One));

    for (const Bytes& source : {photo, progressive}) {
        // Cut in the middle of the compressed data.
        const Bytes truncated(source.begin(), source.begin() + long(source.size() * 2 / 3));
        const auto cut = LosslessTurn(truncated, rotate::QuarterTurns::Two);
        EXPECT_EQ(cut.result.kind(), Kind::Damaged) << English(cut.result);
        EXPECT_TRUE(cut.bytes.empty());

        // A marker inside the compressed data.
        Bytes corrupt = source;
        const std::size_t scan = source.size() / 2;
        corrupt[scan] = 0xFF;
        corrupt[scan + 1] = 0xD0 + 5;
        EXPECT_EQ(LosslessTurn(corrupt, rotate::QuarterTurns::One).result.kind(), Kind::Damaged);
    }
    EXPECT_EQ(LosslessTurn(Bytes{0xFF, 0xD8, 0xFF, 0xD9}, rotate::QuarterTurns::One).result.kind(),
              Kind::Damaged);
    EXPECT_EQ(LosslessTurn(Bytes{'G', 'I', 'F', '8'}, rotate::QuarterTurns::One).result.kind(),
              Kind::Damaged);
    EXPECT_EQ(LosslessTurn(Bytes{}, rotate::QuarterTurns::One).result.kind(), Kind::Damaged);
    EXPECT_EQ(LosslessTurn(photo, rotate::QuarterTurns(4)).result.kind(), Kind::BadArgument);
    EXPECT_EQ(LosslessTurn(photo, rotate::QuarterTurns(-1)).result.kind(), Kind::BadArgument);
}

TEST(LosslessTurn, RefusesWhatItCannotHoldOrWouldHaveToTrim) {
    TempDir dir;
    // A frame that claims 60000 x 60000 pixels in a few hundred bytes.
    Bytes huge = MakePhoto(dir, kKinds[0], 16, 16);
    for (std::size_t i = 2; i + 8 < huge.size(); ++i)
        if (huge[i] == 0xFF && huge[i + 1] == 0xC0) {
            huge[i + 5] = 0xEA, huge[i + 6] = 0x60, huge[i + 7] = 0xEA, huge[i + 8] = 0x60;
            break;
        }
    EXPECT_EQ(LosslessTurn(huge, rotate::QuarterTurns::One).result.kind(), Kind::TooLarge);
    rotate::LosslessTurnOptions small;
    small.maxMemory = 4096;
    EXPECT_EQ(LosslessTurn(MakePhoto(dir, kKinds[0], 64, 64), rotate::QuarterTurns::One, small)
                  .result.kind(),
              Kind::TooLarge);

    rotate::LosslessTurnOptions perfect;
    perfect.trim = false;
    const Bytes odd = MakePhoto(dir, kKinds[0], 64, 40); // 40 is no whole number of 16-pixel rows
    EXPECT_EQ(LosslessTurn(odd, rotate::QuarterTurns::One, perfect).result.kind(), Kind::WouldCrop);
    EXPECT_EQ(LosslessTurn(odd, rotate::QuarterTurns::Two, perfect).result.kind(), Kind::WouldCrop);
    // Turned left, the partial rows end up at the bottom, where they can stay.
    const auto left = LosslessTurn(odd, rotate::QuarterTurns::Three, perfect);
    ASSERT_TRUE(left.ok()) << English(left.result);
    EXPECT_EQ(left.width, 40);
    EXPECT_EQ(left.height, 64);
}

TEST(LosslessTurn, AdvisesEveryCoefficientArrayBeforeFillingIt) {
    TempDir dir;
    // 4:2:0, 320x240: luma 40x30 blocks, each chroma 20x15, in the source and turned.
    const std::size_t block = sizeof(JBLOCK), luma = 40 * 30 * block, chroma = 20 * 15 * block;
    for (const PhotoKind& kind : {kKinds[0], kKinds[1]}) {
        const Bytes original = MakePhoto(dir, kind, 320, 240);
        std::vector<std::size_t> advised;
        rotate::LosslessTurnOptions watched;
        watched.adviseArray = [&](void* array, std::size_t bytes) {
            if (array) advised.push_back(bytes);
        };
        const auto turned = LosslessTurn(original, rotate::QuarterTurns::One, watched);
        ASSERT_TRUE(turned.ok()) << kind.name << ": " << English(turned.result);
        std::sort(advised.begin(), advised.end());
        EXPECT_EQ(advised, (std::vector<std::size_t>{chroma, chroma, chroma, chroma, luma, luma}))
            << kind.name;
        // Learning where the arrays lie changes nothing of what is written.
        EXPECT_TRUE(turned.bytes == Turned(original, rotate::QuarterTurns::One)) << kind.name;
    }
}
