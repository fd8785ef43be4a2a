// SPDX-License-Identifier: GPL-3.0-or-later
#include "exif/exif_format.h"

#include <cstring>
#include <gtest/gtest.h>

using namespace exif;

namespace {

std::vector<std::uint8_t> Host32(std::uint32_t a, std::uint32_t b) {
    std::vector<std::uint8_t> v(8);
    std::memcpy(v.data(), &a, 4);
    std::memcpy(v.data() + 4, &b, 4);
    return v;
}

std::vector<std::uint8_t> Host16(std::uint16_t a) {
    std::vector<std::uint8_t> v(2);
    std::memcpy(v.data(), &a, 2);
    return v;
}

std::string Rational(std::uint32_t tag, std::uint32_t n, std::uint32_t d,
                     const std::string& sep = ".") {
    return FormatExifValue(Host32(n, d), 5, tag, 8, sep);
}

std::string SRational(std::uint32_t tag, std::int32_t n, std::int32_t d) {
    return FormatExifValue(Host32(std::uint32_t(n), std::uint32_t(d)), 10, tag, 8);
}

std::string Row(std::uint32_t tag, std::uint16_t type, std::vector<std::uint8_t> value) {
    ExifData data;
    data.items.push_back({tag, type, 1, std::move(value)});
    const auto rows = ExifRows(data);
    return rows.empty() ? "<no row>" : rows[0].value;
}

} // namespace

TEST(FormatFraction, ReducesToMixedNumbers) {
    EXPECT_EQ(FormatFraction(1, 250), "1/250");
    EXPECT_EQ(FormatFraction(10, 4), "2 1/2");
    EXPECT_EQ(FormatFraction(72, 1), "72");
    EXPECT_EQ(FormatFraction(0, 1), "");
    EXPECT_EQ(FormatFraction(250, 1000), "1/4");
    EXPECT_EQ(FormatFraction(300, 100), "3");
    // A zero denominator cannot be reduced: shown as stored, never a crash.
    EXPECT_EQ(FormatFraction(1, 0), "1/0");
    EXPECT_EQ(FormatFraction(0, 0), "0/0");
    EXPECT_NO_THROW(FormatFraction(INT32_MIN, -1));
}

TEST(GreatestCommonDivisor, GivesOneOnArithmeticFaults) {
    EXPECT_EQ(GreatestCommonDivisor(4, 10), 2);
    EXPECT_EQ(GreatestCommonDivisor(0, 5), 1);
    EXPECT_EQ(GreatestCommonDivisor(5, 0), 5);
    EXPECT_EQ(GreatestCommonDivisor(INT32_MIN, -1), 1);
}

TEST(FormatGeneral, ShortestTextWithFifteenDigits) {
    EXPECT_EQ(FormatGeneral(6.3), "6.3");
    EXPECT_EQ(FormatGeneral(0), "0");
    EXPECT_EQ(FormatGeneral(12), "12");
    EXPECT_EQ(FormatGeneral(-1.0 / 3), "-0.333333333333333");
    EXPECT_EQ(FormatGeneral(0.00001), "0.00001");
    EXPECT_EQ(FormatGeneral(0.0000015), "1.5E-6");
    EXPECT_EQ(FormatGeneral(123456789012345.0), "123456789012345");
    EXPECT_EQ(FormatGeneral(1234567890123456.0), "1.23456789012346E15");
    EXPECT_EQ(FormatGeneral(6.3, ","), "6,3");
}

TEST(FormatExifValue, RationalsByTag) {
    EXPECT_EQ(Rational(0x829A, 1, 250), "1/250");
    EXPECT_EQ(Rational(0x829A, 10, 4), "2 1/2");
    EXPECT_EQ(Rational(0x011A, 72, 1), "72");
    EXPECT_EQ(Rational(0x829A, 0, 1), "");
    EXPECT_EQ(Rational(0x829D, 28, 10), "2.8");
    EXPECT_EQ(Rational(0x829D, 28, 10, ","), "2,8");
    EXPECT_EQ(Rational(0x9205, 3, 1), "2.83");
    EXPECT_EQ(Rational(0x920A, 63, 10), "6.3");
    EXPECT_EQ(SRational(0x9201, 8, 1), "0.0039");
    EXPECT_EQ(SRational(0x9204, -1, 3), "-0.333333333333333");
    // Zero denominators show the fraction as stored.
    EXPECT_EQ(Rational(0x829D, 28, 0), "28/0");
    EXPECT_EQ(SRational(0x9201, 8, 0), "8/0");
}

TEST(FormatExifValue, OtherTypes) {
    const std::vector<std::uint8_t> ascii{'D', 'M', 'C', 0, 'x', 'y'};
    EXPECT_EQ(FormatExifValue(ascii, 2, 0x0110, 6), "DMC");
    EXPECT_EQ(FormatExifValue(std::vector<std::uint8_t>{0, 'a'}, 2, 0x0110, 2), "");
    EXPECT_EQ(FormatExifValue(std::vector<std::uint8_t>{7}, 1, 0x0100, 1), "7");
    EXPECT_EQ(FormatExifValue(Host16(4000), 3, 0x0100, 2), "4000");
    EXPECT_EQ(FormatExifValue(Host32(70000, 0), 4, 0x0100, 4), "70000");
    EXPECT_EQ(FormatExifValue(std::vector<std::uint8_t>{1, 2, 3, 4}, 7, 0x9206, 4), "N/A");
    EXPECT_EQ(FormatExifValue(Host32(5, 0), 9, 0x9206, 4), "N/A");
    EXPECT_EQ(FormatExifValue({}, 3, 0x0100, 0), ""); // too short: nothing read past the end
}

TEST(ExifRows, ValueTablesAndUnknownValues) {
    EXPECT_EQ(Row(0x0112, 3, Host16(6)), "Rotate 90 CCW");
    EXPECT_EQ(Row(0x0112, 3, Host16(9)), "9");
    EXPECT_EQ(Row(0x9209, 3, Host16(16)), "Flash did not fire, compulsory flash mode");
    EXPECT_EQ(Row(0x9209, 3, Host16(2)), "2");
    EXPECT_EQ(Row(0x9208, 3, Host16(255)), "Other light source");
    EXPECT_EQ(Row(0x9206, 7, {1, 2, 3, 4}), "N/A");
    EXPECT_EQ(Row(0x8769, 4, Host32(26, 0)), "<no row>"); // not a tag of the table

    ExifData data;
    data.items.push_back({0x0110, 2, 4, {'A', 'B', 'C', 0}});
    data.items.push_back({0x9999, 3, 1, Host16(1)});
    data.items.push_back({0x0110, 2, 2, {'Z', 0}});
    const auto rows = ExifRows(data);
    ASSERT_EQ(rows.size(), 2u); // file order, a tag twice gives two rows
    EXPECT_EQ(rows[0].label, "Digicam model");
    EXPECT_EQ(rows[1].value, "Z");
}

TEST(ExifRows, LabelsOfTheTable) {
    int known = 0;
    for (std::uint32_t tag = 0; tag <= 0xFFFF; ++tag)
        known += TagLabel(tag) != nullptr;
    EXPECT_EQ(known, 36);
    EXPECT_STREQ(TagLabel(0x8822), "Explosure program");
    EXPECT_STREQ(TagLabel(0xA40C), "Distance to the subject");
}

TEST(FormatExifValue, TextWithCountZeroIsEmpty) {
    // Found by the fuzzer: no value bytes at all, so a null data pointer.
    EXPECT_EQ(FormatExifValue({}, 2, 0x010F, 0), "");
    ExifData data;
    data.items.push_back({0x0110, 2, 0, {}});
    const auto rows = ExifRows(data);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].label, "Digicam model");
    EXPECT_EQ(rows[0].value, "");
}
