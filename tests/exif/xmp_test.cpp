// SPDX-License-Identifier: GPL-3.0-or-later
#include "exif/xmp.h"
#include "support/jpeg_factory.h"

#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <vector>

using namespace testing_support;

namespace {

std::string Patched(std::string packet, std::uint16_t value, int* count = nullptr) {
    std::span<std::uint8_t> bytes(reinterpret_cast<std::uint8_t*>(packet.data()), packet.size());
    const int n = exif::PatchXmpOrientation(bytes, value);
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
    EXPECT_TRUE(exif::IsXmpPayload({standard.data() + 4, standard.size() - 4}));
    const std::string extended("http://ns.adobe.com/xmp/extension/\0ABCDEF", 41);
    EXPECT_FALSE(exif::IsXmpPayload(
        {reinterpret_cast<const std::uint8_t*>(extended.data()), extended.size()}));
}

namespace {

std::optional<std::string> Followed(const std::string& packet,
                                    const std::vector<exif::ImageResize>& images) {
    return exif::FollowContainerLengths(packet, images);
}

} // namespace

TEST(XmpContainerDirectory, ItemLengthsFollowTheTurnedImagesInBothForms) {
    for (bool element : {false, true}) {
        // A gain map and a second image, one of which crosses to fewer digits.
        const std::string packet = ContainerDirectoryPacket({1000, 2345}, element);
        const auto out = Followed(packet, {{1000, 999}, {2345, 23456}});
        ASSERT_TRUE(out) << element;
        EXPECT_EQ(*out, ContainerDirectoryPacket({999, 23456}, element));
    }
}

TEST(XmpContainerDirectory, OnlyLengthsOfTurnedImagesAfterTheMainImageChange) {
    const std::string packet = ContainerDirectoryPacket({700, 1000, 2000}, false);
    // The video-like item of 700 bytes was not turned; sizes pair in file order.
    EXPECT_EQ(Followed(packet, {{1000, 1100}, {2000, 1900}}),
              ContainerDirectoryPacket({700, 1100, 1900}, false));
    // An image whose size no item gives leaves the packet as it was.
    EXPECT_FALSE(Followed(packet, {{1234, 1300}}));
    EXPECT_FALSE(Followed(packet, {}));
    // The first item is the main image: a length there is never taken for another image's.
    const std::string primaryWithLength =
        "<Container:Directory><Container:Item Item:Length=\"500\"/>"
        "<Container:Item Item:Length=\"600\"/></Container:Directory>";
    EXPECT_EQ(Followed(primaryWithLength, {{500, 510}}), std::nullopt);
    EXPECT_EQ(Followed(primaryWithLength, {{600, 61}}),
              "<Container:Directory><Container:Item Item:Length=\"500\"/>"
              "<Container:Item Item:Length=\"61\"/></Container:Directory>");
    // Lengths outside a directory are no container's; a number no file has is no length.
    EXPECT_FALSE(
        Followed("<x Item:Length=\"600\"/><Container:Item Item:Length=\"600\"/>", {{600, 61}}));
    EXPECT_FALSE(Followed("<Container:Directory><Container:Item/><Container:Item "
                          "Item:Length=\"99999999999999999999\"/></Container:Directory>",
                          {{600, 61}}));
}
