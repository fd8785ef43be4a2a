// SPDX-License-Identifier: GPL-3.0-or-later
#include "exif/exif_format.h"

#include "exif/tags.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <utility>

namespace exif {
namespace {

using ValueText = std::pair<int, const char*>;

constexpr ValueText kThresholding[] = {{0, "Unknown"},
                                       {1, "No dithering or halftoning"},
                                       {2, "Ordered dither or halftone"},
                                       {3, "Randomized dither"}};
constexpr ValueText kOrientation[] = {{1, "Horizontal (normal)"},
                                      {2, "Mirror horizontal"},
                                      {3, "Rotate 180"},
                                      {4, "Mirror vertical"},
                                      {5, "Mirror horizontal and rotate 90 CCW"},
                                      {6, "Rotate 90 CCW"},
                                      {7, "Mirror horizontal and rotate 90 CW"},
                                      {8, "Rotate 90 CW"}};
constexpr ValueText kResolutionUnit[] = {{0, "Unknown"}, {1, "No-unit"}, {2, "inches"}, {3, "cm"}};
constexpr ValueText kExposureProgram[] = {{0, "Not defined"},
                                          {1, "Manual control"},
                                          {2, "Program normal"},
                                          {3, "Aperture priority"},
                                          {4, "Shutter speed priority"},
                                          {5, "Creative (Slow speed)"},
                                          {6, "Action (High speed)"},
                                          {7, "Portrait mode (background out of focus)"},
                                          {8, "Landscape mode (background in focus)"}};
constexpr ValueText kMeteringMode[] = {
    {0, "Unknown"}, {1, "Average"},    {2, "Center weighted average"},
    {3, "Spot"},    {4, "Multi-spot"}, {5, "Multi-segment"},
    {6, "Partial"}, {255, "Other"}};
constexpr ValueText kLightSource[] = {{0, "Unknown"},
                                      {1, "Daylight"},
                                      {2, "Fluorescent"},
                                      {3, "Tungsten (incandescent light)"},
                                      {4, "Flash"},
                                      {9, "Fine weather"},
                                      {10, "Cloudy"},
                                      {11, "Shade"},
                                      {12, "Daylight fluorescent (D 5700 - 7100K)"},
                                      {13, "Day white fluorescent (N 4600 - 5400K)"},
                                      {14, "Cool white fluorescent (W 3900 - 4500K)"},
                                      {15, "White fluorescent (WW 3200 - 3700K)"},
                                      {17, "Standard light A"},
                                      {18, "Standard light B"},
                                      {19, "Standard light C"},
                                      {20, "D55"},
                                      {21, "D65"},
                                      {22, "D75"},
                                      {23, "D50"},
                                      {24, "ISO studio tungsten"},
                                      {255, "Other light source"}};
constexpr ValueText kFlash[] = {
    {0, "Flash did not fire"},
    {1, "Flash fired"},
    {5, "Strobe return light not detected"},
    {7, "Strobe return light detected"},
    {9, "Flash fired, compulsory flash mode"},
    {13, "Flash fired, compulsory flash mode, return light not detected"},
    {15, "Flash fired, compulsory flash mode, return light detected"},
    {16, "Flash did not fire, compulsory flash mode"},
    {24, "Flash did not fire, auto mode"},
    {25, "Flash fired, auto mode"},
    {29, "Flash fired, auto mode, return light not detected"},
    {31, "Flash fired, auto mode, return light detected"},
    {32, "No flash function"},
    {65, "Flash fired, red-eye reduction mode"},
    {69, "Flash fired, red-eye reduction mode, return light not detected"},
    {71, "Flash fired, red-eye reduction mode, return light detected"},
    {73, "Flash fired, compulsory flash mode, red-eye reduction mode"},
    {77, "Flash fired, compulsory flash mode, red-eye reduction mode, return light not detected"},
    {79, "Flash fired, compulsory flash mode, red-eye reduction mode, return light detected"},
    {89, "Flash fired, auto mode, red-eye reduction mode"},
    {93, "Flash fired, auto mode, return light not detected, red-eye reduction mode"},
    {95, "Flash fired, auto mode, return light detected, red-eye reduction mode"}};
constexpr ValueText kExposureMode[] = {{0, "Auto"}, {1, "Manual"}, {2, "Auto bracket"}};
constexpr ValueText kWhiteBalance[] = {{0, "Auto"}, {1, "Manual"}};
constexpr ValueText kSceneCaptureType[] = {
    {0, "Standard"}, {1, "Landscape"}, {2, "Portrait"}, {3, "Night"}};
constexpr ValueText kGainControl[] = {{0, "None"},
                                      {1, "Low gain up"},
                                      {2, "High gain up"},
                                      {3, "Low gain down"},
                                      {4, "High gain down"}};
constexpr ValueText kNormalSoftHard[] = {{0, "Normal"}, {1, "Soft"}, {2, "Hard"}};
constexpr ValueText kNormalLowHigh[] = {{0, "Normal"}, {1, "Low"}, {2, "High"}};
constexpr ValueText kSubjectDistance[] = {
    {0, "Unknown"}, {1, "Macro"}, {2, "Close view"}, {3, "Distant view"}};

struct TagInfo {
    std::uint32_t tag;
    const char* label;
    std::span<const ValueText> values; // empty: the value text
};

const TagInfo kTags[] = {
    {tag::ImageWidth, "Image width", {}},
    {tag::ImageHeight, "Image height", {}},
    {tag::Thresholding, "Thresholding", kThresholding},
    {tag::Make, "Digicam manufacturer", {}},
    {tag::Model, "Digicam model", {}},
    {tag::Orientation, "Orientation", kOrientation},
    {tag::XResolution, "X-Resolution", {}},
    {tag::YResolution, "Y-Resolution", {}},
    {tag::ResolutionUnit, "Resolution unit", kResolutionUnit},
    {tag::DateTime, "Date/time (Modify)", {}},
    {tag::ExposureTime, "Exposure time (sec)", {}},
    {tag::FNumber, "F-number", {}},
    {tag::ExposureProgram, "Explosure program", kExposureProgram},
    {tag::IsoSpeed, "CCD sensitivity (ISO)", {}},
    {tag::DateTimeOriginal, "Original date/time (when the original image data was generated)", {}},
    {tag::DateTimeDigitized, "Digitized date/time (when the image was stored as digital data)", {}},
    {tag::CompressedBitsPerPixel, "Compression (bits per pixel)", {}},
    {tag::ShutterSpeed, "Shutter speed", {}},
    {tag::Aperture, "Aperture value", {}},
    {tag::Brightness, "Brightness value", {}},
    {tag::ExposureBias, "Exposure bias value (Exposure compensation)", {}},
    {tag::MaxAperture, "Max. lens aperture value (The smallest F number of the lens)", {}},
    {tag::SubjectDistance, "Distance to focus point (m)", {}},
    {tag::MeteringMode, "Metering mode", kMeteringMode},
    {tag::LightSource, "Light source", kLightSource},
    {tag::Flash, "Flash", kFlash},
    {tag::FocalLength, "Actual focal length (mm)", {}},
    {tag::ExposureMode, "Exposure mode", kExposureMode},
    {tag::WhiteBalance, "White balance", kWhiteBalance},
    {tag::FocalLengthIn35mm, "Equivalent focal length for 35mm film cam (mm)", {}},
    {tag::SceneCaptureType, "Scene capture type", kSceneCaptureType},
    {tag::GainControl, "Gain control", kGainControl},
    {tag::Contrast, "Contrast", kNormalSoftHard},
    {tag::Saturation, "Saturation", kNormalLowHigh},
    {tag::Sharpness, "Sharpness", kNormalSoftHard},
    {tag::SubjectDistanceRange, "Distance to the subject", kSubjectDistance},
};

const TagInfo* FindTag(std::uint32_t tag) {
    for (const auto& info : kTags)
        if (info.tag == tag) return &info;
    return nullptr;
}

template <typename T>
bool ReadFirst(std::span<const std::uint8_t> value, std::size_t index, T& out) {
    if (value.size() < sizeof(T) * (index + 1)) return false;
    std::memcpy(&out, value.data() + sizeof(T) * index, sizeof(T));
    return true;
}

std::string WithSeparator(std::string text, const std::string& separator) {
    const auto dot = text.find('.');
    if (dot != std::string::npos) text.replace(dot, 1, separator);
    return text;
}

std::string Fixed(double v, int decimals, const std::string& separator) {
    if (!std::isfinite(v)) return "N/A";
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
    return WithSeparator(buf, separator);
}

} // namespace

const char* TagLabel(std::uint32_t tag) {
    const TagInfo* info = FindTag(tag);
    return info ? info->label : nullptr;
}

std::int32_t GreatestCommonDivisor(std::int32_t a, std::int32_t b) {
    // Euclid's steps; any step that would divide by zero or overflow gives 1.
    for (int step = 0; step < 100; ++step) {
        if (a == 0 || (a == -1 && b == std::numeric_limits<std::int32_t>::min())) return 1;
        if (b % a == 0) return a;
        if (b == 0 || (b == -1 && a == std::numeric_limits<std::int32_t>::min())) return 1;
        const std::int32_t r = a % b;
        a = b;
        b = r;
    }
    return 1;
}

std::string FormatFraction(std::int32_t numerator, std::int32_t denominator) {
    if (denominator == 0) return std::to_string(numerator) + "/" + std::to_string(denominator);
    const std::int64_t g = GreatestCommonDivisor(numerator, denominator);
    const std::int64_t n = std::int64_t(numerator) / g;
    const std::int64_t d = std::int64_t(denominator) / g;
    const std::int64_t whole = n / d;
    const std::int64_t rest = n % d;
    std::string text;
    if (whole != 0) text = std::to_string(whole) + " ";
    if (rest != 0) text += std::to_string(rest) + "/" + std::to_string(d);
    while (!text.empty() && text.back() == ' ')
        text.pop_back();
    return text;
}

std::string FormatGeneral(double v, const std::string& separator) {
    if (v == 0) return "0";
    if (!std::isfinite(v)) return std::isnan(v) ? "NAN" : (v < 0 ? "-INF" : "INF");
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.14e", v); // 15 significant digits: d.dddddddddddddde+XX
    std::string s = buf;
    const bool negative = s[0] == '-';
    if (negative) s.erase(0, 1);
    const auto e = s.find('e');
    const int exponent = std::atoi(s.c_str() + e + 1);
    std::string digits = s.substr(0, 1) + s.substr(2, e - 2);
    while (digits.size() > 1 && digits.back() == '0')
        digits.pop_back();

    std::string out;
    if (exponent < -5 || exponent >= 15) {
        out = digits.substr(0, 1);
        if (digits.size() > 1) out += "." + digits.substr(1);
        out += "E" + std::to_string(exponent);
    } else if (exponent < 0) {
        out = "0." + std::string(std::size_t(-exponent - 1), '0') + digits;
    } else if (std::size_t(exponent) + 1 >= digits.size()) {
        out = digits + std::string(std::size_t(exponent) + 1 - digits.size(), '0');
    } else {
        out = digits.substr(0, std::size_t(exponent) + 1) + "." +
              digits.substr(std::size_t(exponent) + 1);
    }
    return WithSeparator((negative ? "-" : "") + out, separator);
}

std::string FormatExifValue(std::span<const std::uint8_t> value, std::uint16_t type,
                            std::uint32_t tag, std::uint32_t /*length*/,
                            const std::string& separator) {
    switch (ExifType(type)) {
    case ExifType::Byte: {
        std::uint8_t b = 0;
        return ReadFirst(value, 0, b) ? std::to_string(b) : std::string();
    }
    case ExifType::Ascii: {
        // A count of 0 leaves no bytes at all, and memchr must not see a null pointer.
        if (value.empty()) return {};
        const auto* begin = reinterpret_cast<const char*>(value.data());
        const auto* zero = static_cast<const char*>(std::memchr(begin, 0, value.size()));
        return std::string(begin, zero ? zero : begin + value.size());
    }
    case ExifType::Short: {
        std::uint16_t v = 0;
        return ReadFirst(value, 0, v) ? std::to_string(v) : std::string();
    }
    case ExifType::Long: {
        std::uint32_t v = 0;
        return ReadFirst(value, 0, v) ? std::to_string(v) : std::string();
    }
    case ExifType::Rational: {
        std::uint32_t n = 0, d = 0;
        if (!ReadFirst(value, 0, n) || !ReadFirst(value, 1, d)) return {};
        if (d == 0) return std::to_string(n) + "/0";
        const double q = double(n) / double(d);
        if (tag == tag::FNumber) return Fixed(q, 1, separator);
        if (tag == tag::MaxAperture) return Fixed(std::pow(std::sqrt(2.0), q), 2, separator);
        if (tag == tag::FocalLength) return FormatGeneral(q, separator);
        return FormatFraction(std::int32_t(n), std::int32_t(d));
    }
    case ExifType::SRational: {
        std::int32_t n = 0, d = 0;
        if (!ReadFirst(value, 0, n) || !ReadFirst(value, 1, d)) return {};
        if (d == 0) return std::to_string(n) + "/0";
        const double q = double(n) / double(d);
        if (tag == tag::ShutterSpeed) return Fixed(std::pow(2.0, -q), 4, separator);
        return FormatGeneral(q, separator);
    }
    default:
        return "N/A";
    }
}

std::vector<ExifRow> ExifRows(const ExifData& data, const std::string& separator) {
    std::vector<ExifRow> rows;
    for (const auto& item : data.items) {
        const TagInfo* info = FindTag(item.id);
        if (!info) continue;
        ExifRow row{info->label, {}};
        std::uint16_t first = 0;
        if (!item.value.empty())
            std::memcpy(&first, item.value.data(), std::min<std::size_t>(2, item.value.size()));
        for (const auto& [v, text] : info->values)
            if (!item.value.empty() && v == first) row.value = text;
        if (row.value.empty())
            row.value = FormatExifValue(item.value, item.type, item.id,
                                        std::uint32_t(item.value.size()), separator);
        rows.push_back(std::move(row));
    }
    return rows;
}

} // namespace exif
