// SPDX-License-Identifier: GPL-3.0-or-later
// Photos made by the tests themselves: JPEG data with an EXIF block built byte by byte.
#pragma once

#include "jpeg/byte_order.h"

#include <cstdint>
#include <string>
#include <vector>

namespace testing_support {

using Bytes = std::vector<std::uint8_t>;

enum class Subsampling { S420, S444 };

// A baseline JPEG of w x h with a pattern that shows any turn or mirror.
Bytes MakeJpeg(int w, int h, Subsampling subsampling = Subsampling::S420, int quality = 90);

struct ExifEntry {
    std::uint16_t tag;
    std::uint16_t type;
    std::uint32_t count;
    Bytes value; // in the block's byte order when longer than 4 bytes, else stored as given
};

struct ExifSpec {
    jpeg::ByteOrder order = jpeg::ByteOrder::Little;
    int orientation = 1;                 // 0: no orientation entry
    std::vector<ExifEntry> ifd0;         // extra IFD0 entries
    std::vector<ExifEntry> exif;         // Exif sub-IFD entries (a sub-IFD is made when not empty)
    int exifOrientation = 0;             // an orientation entry in the Exif sub-IFD too
    int ifd1Orientation = 0;             // an orientation entry in IFD1
    Bytes thumbnail;                     // JPEG thumbnail in IFD1
    int pixelWidth = 0, pixelHeight = 0; // 0xA002/0xA003 (LONG) in the Exif sub-IFD
};

// The TIFF block ("II"/"MM" ...) described by spec.
Bytes MakeTiff(const ExifSpec& spec);
// The APP1 segment (FF E1, length, "Exif\0\0", TIFF).
Bytes MakeApp1(const Bytes& tiff);
// jpeg with `segment` inserted right after SOI.
Bytes InsertAfterSoi(const Bytes& jpeg, const Bytes& segment);
Bytes MakeJpegWithExif(int w, int h, const ExifSpec& spec,
                       Subsampling subsampling = Subsampling::S420);

// Value helpers in a byte order.
Bytes U16(std::uint16_t v, jpeg::ByteOrder order);
Bytes U32(std::uint32_t v, jpeg::ByteOrder order);
Bytes Rational(std::uint32_t n, std::uint32_t d, jpeg::ByteOrder order);
Bytes Ascii(const std::string& text);

// An APP1 XMP packet holding `body` as the rdf:Description's content (attributes or elements).
Bytes MakeXmpApp1(const std::string& packet);
// A packet with tiff:Orientation in attribute form ("attr") or element form ("element").
std::string XmpPacketWithOrientation(int orientation, bool elementForm);

// A packet whose Container:Directory lists the main image and then one item for each of
// `lengths` (Item:Length, in attribute or element form), as a gain map photo has it.
std::string ContainerDirectoryPacket(const std::vector<std::uint64_t>& lengths, bool elementForm);

// A multi-picture file: `first` (a whole JPEG) gets an MPF index right after its leading APP1
// segments, listing `others` (whole JPEGs) which follow it in order; `trailer` ends the file.
struct MpfImage {
    Bytes jpeg;
    std::uint32_t attribute = 0;
};
Bytes MakeMpfFile(const Bytes& first, const std::vector<MpfImage>& others, jpeg::ByteOrder order,
                  const Bytes& trailer = {});
// Inserts `segment` after the APP0/APP1 segments at the head of `jpeg`.
Bytes InsertAfterAppSegments(const Bytes& jpeg, const Bytes& segment);

void WriteFile(const std::string& path, const Bytes& bytes);
Bytes ReadFile(const std::string& path);

// Decodes to RGB (3 bytes a pixel); empty on failure.
Bytes DecodeRgb(const Bytes& jpeg, int& w, int& h);

// Runs a shell command; its standard output.
std::string RunCommand(const std::string& command, int* status = nullptr);

} // namespace testing_support
