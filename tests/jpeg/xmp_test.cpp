// SPDX-License-Identifier: GPL-3.0-or-later
#include "jpeg/xmp.h"
#include "support/jpeg_factory.h"

#include <gtest/gtest.h>
#include <string>

using namespace testing_support;

namespace {

std::string Patched(std::string packet, std::uint16_t value, int* count = nullptr) {
    std::span<std::uint8_t> bytes(reinterpret_cast<std::uint8_t*>(packet.data()), packet.size());
    const int n = jpeg::PatchXmpOrientation(bytes, value);
    if (count) *count = n;
    return packet;
}

} // namespace

TEST(XmpOrientation, SetsBothFormsWithoutChangingLength) {
    for (bool element : {false, true}) {
        const std::string packet = XmpPacketWithOrientation(6, element);
        int count = 0;
        const std::string out = Patched(packet, 1, &count);
        EXPECT_EQ(count, 1);
        EXPECT_EQ(out.size(), packet.size());
        EXPECT_EQ(out, XmpPacketWithOrientation(1, element)) << element;
    }
}

TEST(XmpOrientation, HandlesSpacingQuotesAndWideValues) {
    EXPECT_EQ(Patched("<x tiff:Orientation = '3' />", 8), "<x tiff:Orientation = '8' />");
    EXPECT_EQ(Patched("<tiff:Orientation >\n 06 \n</tiff:Orientation>", 8),
              "<tiff:Orientation >\n 08 \n</tiff:Orientation>");
    EXPECT_EQ(Patched(" tiff:Orientation=\"1\" a tiff:Orientation=\"2\"", 5),
              " tiff:Orientation=\"5\" a tiff:Orientation=\"5\"");
}

TEST(XmpOrientation, LeavesOtherTextAlone) {
    const std::string others[] = {
        "<x exif:tiff:Orientation=\"6\"/>",       // part of a longer name
        "<x tiff:OrientationX=\"6\"/>",           // a longer name
        "<x tiff:Orientation=\"six\"/>",          // not a number
        "<x tiff:Orientation=\"6'/>",             // quotes that do not match
        "<tiff:Orientation>6</tiff:Make>",        // wrong closing tag
        "<tiff:Orientation rdf:resource=\"6\"/>", // not a value element
        "tiff:Orientation=\"6\"",                 // no space before: not an attribute
        " tiff:Orientation=\"",                   // ends early
        "<tiff:Orientation>",
    };
    for (const std::string& text : others) {
        int count = -1;
        EXPECT_EQ(Patched(text, 1, &count), text);
        EXPECT_EQ(count, 0) << text;
    }
}

TEST(XmpOrientation, TellsStandardFromExtendedPackets) {
    const Bytes standard = MakeXmpApp1(XmpPacketWithOrientation(6, false));
    EXPECT_TRUE(jpeg::IsXmpPayload({standard.data() + 4, standard.size() - 4}));
    const std::string extended("http://ns.adobe.com/xmp/extension/\0ABCDEF", 41);
    EXPECT_FALSE(jpeg::IsXmpPayload(
        {reinterpret_cast<const std::uint8_t*>(extended.data()), extended.size()}));
}
