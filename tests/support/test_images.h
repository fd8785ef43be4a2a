// SPDX-License-Identifier: GPL-3.0-or-later
// Pictures the thumbnail and turn tests compare: something like a camera's noise, and how far
// one picture is from another.
#pragma once

#include "support/jpeg_factory.h"

#include <QImage>

#include <cstdint>

namespace testing_support {

// `image` (RGB888) with the even noise of a sensor added, as a 4:2:0 JPEG of quality 92.
Bytes WithSensorNoiseAsJpeg(QImage image, std::uint32_t seed);

// The mean absolute difference per channel of two pictures; 255 when their sizes differ.
double MeanDifference(const QImage& a, const QImage& b);

} // namespace testing_support
