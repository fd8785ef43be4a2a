// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/test_images.h"

#include "jpeg/turbo.h"

#include <algorithm>
#include <cstdlib>

namespace testing_support {

Bytes WithSensorNoiseAsJpeg(QImage image, std::uint32_t seed) {
    const int w = image.width(), h = image.height();
    for (int y = 0; y < h; ++y) {
        uchar* line = image.scanLine(y);
        for (int i = 0; i < w * 3; ++i) {
            seed = seed * 1103515245u + 12345u;
            line[i] = uchar(std::clamp(int(line[i]) + int((seed >> 16) % 13) - 6, 0, 255));
        }
    }
    jpeg::TjHandle handle(tjInitCompress());
    unsigned char* out = nullptr;
    unsigned long size = 0;
    if (tjCompress2(handle.get(), image.constBits(), w, int(image.bytesPerLine()), h, TJPF_RGB,
                    &out, &size, TJSAMP_420, 92, 0) != 0)
        return {};
    const jpeg::TjBuffer owned(out);
    return Bytes(out, out + size);
}

double MeanDifference(const QImage& a, const QImage& b) {
    if (a.size() != b.size() || a.isNull()) return 255;
    double sum = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            sum += std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q)) +
                   std::abs(qBlue(p) - qBlue(q));
        }
    return sum / (3.0 * a.width() * a.height());
}

} // namespace testing_support
