// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>

namespace exif::tag {

// Directory structure and the entries a turn rewrites.

constexpr std::uint16_t Orientation = 0x0112;
constexpr std::uint16_t ExifIfd = 0x8769;
constexpr std::uint16_t GpsIfd = 0x8825;
constexpr std::uint16_t InteropIfd = 0xA005;
constexpr std::uint16_t ThumbnailOffset = 0x0201;
constexpr std::uint16_t ThumbnailLength = 0x0202;
constexpr std::uint16_t PixelWidth = 0xA002;
constexpr std::uint16_t PixelHeight = 0xA003;

// Tags the EXIF dialog names.
constexpr std::uint16_t ImageWidth = 0x0100;
constexpr std::uint16_t ImageHeight = 0x0101;
constexpr std::uint16_t Thresholding = 0x0107;
constexpr std::uint16_t Make = 0x010F;
constexpr std::uint16_t Model = 0x0110;
constexpr std::uint16_t XResolution = 0x011A;
constexpr std::uint16_t YResolution = 0x011B;
constexpr std::uint16_t ResolutionUnit = 0x0128;
constexpr std::uint16_t DateTime = 0x0132;
constexpr std::uint16_t ExposureTime = 0x829A;
constexpr std::uint16_t FNumber = 0x829D;
constexpr std::uint16_t ExposureProgram = 0x8822;
constexpr std::uint16_t IsoSpeed = 0x8827;
constexpr std::uint16_t DateTimeOriginal = 0x9003;
constexpr std::uint16_t DateTimeDigitized = 0x9004;
constexpr std::uint16_t CompressedBitsPerPixel = 0x9102;
constexpr std::uint16_t ShutterSpeed = 0x9201;
constexpr std::uint16_t Aperture = 0x9202;
constexpr std::uint16_t Brightness = 0x9203;
constexpr std::uint16_t ExposureBias = 0x9204;
constexpr std::uint16_t MaxAperture = 0x9205;
constexpr std::uint16_t SubjectDistance = 0x9206;
constexpr std::uint16_t MeteringMode = 0x9207;
constexpr std::uint16_t LightSource = 0x9208;
constexpr std::uint16_t Flash = 0x9209;
constexpr std::uint16_t FocalLength = 0x920A;
constexpr std::uint16_t ExposureMode = 0xA402;
constexpr std::uint16_t WhiteBalance = 0xA403;
constexpr std::uint16_t FocalLengthIn35mm = 0xA405;
constexpr std::uint16_t SceneCaptureType = 0xA406;
constexpr std::uint16_t GainControl = 0xA407;
constexpr std::uint16_t Contrast = 0xA408;
constexpr std::uint16_t Saturation = 0xA409;
constexpr std::uint16_t Sharpness = 0xA40A;
constexpr std::uint16_t SubjectDistanceRange = 0xA40C;

} // namespace exif::tag
